#include "Desktop.h"

namespace {

class SilentDesktop : public Desktop {
public:
    std::optional<int> ask(const Question&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(const Panel&) override { return std::nullopt; }
    QStringList chooseItems(const Panel&) override { return {}; }
    void beep() override {}
    void open(const QString&) override {}
    void reveal(const QStringList&) override {}
};

} // namespace

std::shared_ptr<Desktop> makeSilentDesktop()
{
    return std::make_shared<SilentDesktop>();
}
