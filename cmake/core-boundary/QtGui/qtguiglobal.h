// Placed ahead of Qt's headers for the core library only: the core stays free of Qt GUI.
#error "The core library must not use Qt GUI: move window code out of the core."
