#pragma once

class QDialog;

namespace kavelon {

// For a window without a default or cancel button: Enter presses the push button that has the
// focus and nothing else; Escape does nothing. The window's close box still closes it.
void UseFocusKeys(QDialog* window);

}  // namespace kavelon
