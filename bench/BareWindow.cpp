// The yardstick of the start benchmark: a Qt window with nothing in it, the
// size of the application's main window. With --text it shows one line of
// text, which makes it load the fonts, as any real window has to.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        (new QVBoxLayout(&window))->addWidget(new QLabel(QStringLiteral("A line of text")));
    window.resize(1040, 660);
    window.show();
    return QApplication::exec();
}
