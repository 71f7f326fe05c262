// Must fail to compile with the core library's include path.
#include <QtWidgets/QWidget>

int main() {
    return 0;
}
