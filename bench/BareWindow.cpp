// The yardstick of the start benchmark: a Qt window with nothing in it, the
// size of the application's main window. With --text it shows one line of
// text, which makes it load the fonts, as any real window has to. With --type
// it shows the texts of the application's first screen in the same seven type
// styles (sizes and weights), and nothing else: what that typography costs
// any program, before a single control or picture.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>

namespace {

QFont typeStyle(const QFont& base, qreal factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = base;
    font.setPointSizeF((base.pointSizeF() > 0 ? base.pointSizeF() : 10.0) * factor);
    font.setWeight(weight);
    return font;
}

void addLabel(QVBoxLayout* column, const QString& text, const QFont& font, bool wrap = false)
{
    auto* label = new QLabel(text);
    label->setFont(font);
    label->setWordWrap(wrap);
    column->addWidget(label);
}

void addFirstScreenTexts(QWidget* window)
{
    auto* column = new QVBoxLayout(window);
    const QFont body = window->font();
    const QFont caption = typeStyle(body, 0.85);
    QFont mark = typeStyle(body, 0.85, QFont::Bold);
    mark.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    addLabel(column, QStringLiteral("Devices"), typeStyle(body, 0.85, QFont::DemiBold));
    addLabel(column, QStringLiteral("Connect over Wi-Fi…"), body);
    addLabel(column, QStringLiteral("Connect your Android phone"), typeStyle(body, 1.45, QFont::DemiBold));
    const char* const steps[][2] = {
        {"Plug in your phone", "Use a USB cable that carries data. Some cables only charge."},
        {"Choose File transfer",
         "Unlock the phone, tap the “USB” notification and pick File transfer. That's all you need to browse and "
         "copy files."},
        {"Want more? Turn on USB debugging",
         "For installing apps, screenshots and screen mirroring: tap Build number seven times in Settings › About "
         "phone, then switch on USB debugging in Developer options."},
    };
    int number = 0;
    for (const auto& step : steps) {
        addLabel(column, QString::number(++number), typeStyle(body, 0.95, QFont::DemiBold));
        addLabel(column, QString::fromUtf8(step[0]), typeStyle(body, 1.0, QFont::DemiBold));
        addLabel(column, QString::fromUtf8(step[1]), body, true);
    }
    addLabel(column, QStringLiteral("Connect over Wi-Fi Instead"), body);
    addLabel(column, QStringLiteral("by"), caption);
    addLabel(column, QStringLiteral("MIRVEK"), mark);
    addLabel(column, QStringLiteral("About Vantelorquist"), caption);
    column->addStretch();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        (new QVBoxLayout(&window))->addWidget(new QLabel(QStringLiteral("A line of text")));
    else if (argc > 1 && std::strcmp(argv[1], "--type") == 0)
        addFirstScreenTexts(&window);
    window.resize(1040, 660);
    window.show();
    return QApplication::exec();
}
