// The yardstick of the start benchmark: a Qt window with nothing in it, the
// size of the application's main window.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(1040, 660);
    window.show();
    return QApplication::exec();
}
