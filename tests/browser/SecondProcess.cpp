// A second process on the same settings file as a running copy, as a start
// from another login makes one: it starts on those settings, lists the
// folder and copies an item of its own into it, then quits. Against the
// phone behind the adb server the environment names. Exits 0 when its copy
// went through.
//
//   sweep_second_process SETTINGS FOLDER upload COMPUTER_FILE
//   sweep_second_process SETTINGS FOLDER download PHONE_NAME SAVE_FOLDER
//
// SWEEP_ANSWER=N answers a question with its Nth button (0: Replace)
// instead of closing it.

#include "BrowserModel.h"
#include "Desktop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <functional>

namespace {

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Silent but for questions, answered with one button.
class AnsweringDesktop : public Desktop {
public:
    explicit AnsweringDesktop(int button) : m_button(button) {}
    std::optional<int> ask(const Question&) override { return m_button; }
    std::optional<QString> chooseFolder(const Panel&) override { return std::nullopt; }
    QStringList chooseItems(const Panel&) override { return {}; }
    void beep() override {}
    bool open(const QString&, std::function<void()>) override { return true; }
    void reveal(const QStringList&) override {}
    void copyText(const QString&) override {}

private:
    int m_button;
};

int fail(const char* why)
{
    std::fprintf(stderr, "second process: %s\n", why);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return fail("usage");
    QSettings settings(args[1], QSettings::IniFormat);
    BrowserModel::Collaborators with;
    with.settings = &settings;
    with.desktop = qEnvironmentVariableIsSet("SWEEP_ANSWER")
                       ? std::make_shared<AnsweringDesktop>(qEnvironmentVariableIntValue("SWEEP_ANSWER"))
                       : makeSilentDesktop();
    // The owner the first process's settings give it (its tests name one).
    if (qEnvironmentVariableIsSet("SWEEP_OWNER"))
        with.owner = qEnvironmentVariable("SWEEP_OWNER");
    BrowserModel model(std::move(with));
    bool passed = false;
    model.refreshDevices([&] { passed = true; });
    if (!waitUntil([&] { return passed && model.readyDevice() && !model.isLoading(); }, 30000))
        return fail("no ready phone");
    // Its listing, with hidden items, as a person who shows them.
    model.setShowHidden(true);
    model.navigate(args[2]);
    if (!waitUntil([&] { return !model.isLoading(); }, 30000))
        return fail("the listing did not end");
    model.setErrorMessage(std::nullopt);
    if (args[3] == QLatin1String("upload")) {
        model.upload({QUrl::fromLocalFile(args[4])});
    } else if (args.size() >= 6) {
        model.setAskWhereToSave(false);
        model.setRevealAfterCopy(false);
        model.setSaveFolder(args[5]);
        std::optional<RemoteEntry> entry;
        for (const RemoteEntry& one : model.entries())
            if (one.name == args[4])
                entry = one;
        if (!entry)
            return fail("its item isn't listed");
        model.download({*entry});
    } else {
        return fail("usage");
    }
    if (!waitUntil([&] { return !model.job() && !model.isLoading(); }, 30000))
        return fail("its copy did not end");
    if (model.errorMessage()) {
        std::fprintf(stderr, "second process: %s\n", qPrintable(*model.errorMessage()));
        return 1;
    }
    return 0;
}
