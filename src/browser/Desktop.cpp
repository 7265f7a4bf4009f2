#include "Desktop.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

class SilentDesktop : public Desktop {
public:
    std::optional<int> ask(const Question&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(const Panel&) override { return std::nullopt; }
    QStringList chooseItems(const Panel&) override { return {}; }
    void beep() override {}
    bool open(const QString&, std::function<void()>) override { return true; }
    void reveal(const QStringList&) override {}
    void copyText(const QString&) override {}
};

} // namespace

std::shared_ptr<Desktop> makeSilentDesktop()
{
    return std::make_shared<SilentDesktop>();
}

QStringList Desktop::chooseFiles(const Panel&, const QStringList&)
{
    return {};
}

void Desktop::copyText(const QString& text)
{
    // Without a GUI application there is no clipboard to write.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::clipboard()->setText(text);
}
