// Placed ahead of Qt's headers for the core library only: the core stays free of Qt Widgets.
#error "The core library must not use Qt Widgets: move window code out of the core."
