#include "WindowFixture.h"

#include "ContentView.h"
#include "FileListView.h"

#include <QDialog>
#include <QTest>

namespace windowtest {

namespace {

QString joined(const QList<RemoteEntry>& items)
{
    return browsertest::names(items).join(QLatin1Char(','));
}

} // namespace

WindowTest::WindowTest() = default;

WindowTest::~WindowTest()
{
    m_window.reset();
}

Environment WindowTest::fullEnvironment()
{
    Environment env = bareEnvironment();
    env.canOpenWindow = [](const QString& identifier) {
        return identifier == QStringLiteral("mirror") || identifier == QStringLiteral("apps") ||
               identifier == QStringLiteral("logcat");
    };
    env.openWindow = [this](const QString& identifier) { openedWindows.append(identifier); };
    BrowserCommands& c = env.commands;
    c.openOnMac = [this](const QList<RemoteEntry>& items) { calls.append(QStringLiteral("openOnMac:") + joined(items)); };
    c.download = [this](const QList<RemoteEntry>& items) { calls.append(QStringLiteral("download:") + joined(items)); };
    c.chooseAndUpload = [this](const std::optional<QString>& folder) {
        calls.append(QStringLiteral("chooseAndUpload:") + folder.value_or(QStringLiteral("(current)")));
    };
    c.copyPaths = [this](const QList<RemoteEntry>& items) { calls.append(QStringLiteral("copyPaths:") + joined(items)); };
    c.remove = [this](const QList<RemoteEntry>& items) { calls.append(QStringLiteral("remove:") + joined(items)); };
    c.newFolder = [this](const QString& name) { calls.append(QStringLiteral("newFolder:") + name); };
    c.rename = [this](const RemoteEntry& entry, const QString& name) {
        calls.append(QStringLiteral("rename:") + entry.name + QLatin1Char('>') + name);
    };
    c.handleDrop = [this](const QList<QUrl>& urls, const std::optional<QString>& folder) {
        QStringList paths;
        for (const QUrl& url : urls)
            paths.append(url.toLocalFile());
        calls.append(QStringLiteral("handleDrop:") + paths.join(QLatin1Char(',')) + QLatin1Char('>') +
                     folder.value_or(QStringLiteral("(current)")));
    };
    c.takeScreenshot = [this] { calls.append(QStringLiteral("takeScreenshot")); };
    c.toggleRecording = [this] { calls.append(QStringLiteral("toggleRecording")); };
    c.installAPK = [this] { calls.append(QStringLiteral("installAPK")); };
    c.disconnect = [this](const Device& device) { calls.append(QStringLiteral("disconnect:") + device.serial); };
    c.conflictingApps = [this] { return conflictingApps; };
    c.quitConflictingApps = [this] { calls.append(QStringLiteral("quitConflictingApps")); };
    c.wirelessSheet = [this](QWidget* parent) {
        calls.append(QStringLiteral("wirelessSheet"));
        auto* sheet = new QDialog(parent);
        sheet->setObjectName(QStringLiteral("wirelessSheet"));
        return sheet;
    };
    c.showAboutPanel = [this] { calls.append(QStringLiteral("showAboutPanel")); };
    return env;
}

Environment WindowTest::bareEnvironment()
{
    Environment env;
    env.model = &model();
    return env;
}

void WindowTest::adbPhoneIn(const QString& state, const QList<RemoteEntry>& sdcard)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"), state)});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"), sdcard);
    pass();
    settle();
}

void WindowTest::readyMtpPhone(const QList<RemoteEntry>& sdcard)
{
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    mtp->phone(QStringLiteral("M1"))->setFolder(QStringLiteral("/sdcard"), sdcard);
    pass();
    settle();
}

void WindowTest::go(const QString& path)
{
    // A folder the phone doesn't have sends the browser back to /sdcard.
    if (const std::optional<Device> device = model().selectedDevice()) {
        const std::shared_ptr<browsertest::MemoryPhoneFiles> files = device->transport == Device::Transport::mtp
                                                                          ? mtp->phone(device->serial)
                                                                          : adb->phone(device->serial);
        if (!files->exists(path, Cancel()))
            files->setFolder(path, {});
    }
    model().navigate(path, true);
    settle();
}

ContentView& WindowTest::window(const Environment& env)
{
    m_window = std::make_unique<ContentView>(env);
    m_window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    return *m_window;
}

QStringList rowNames(FileListView* list)
{
    QStringList result;
    FileListModel* rows = list->listModel();
    for (int row = 0; row < rows->rowCount(); ++row)
        result.append(rows->data(rows->index(row, FileListModel::name)).toString());
    return result;
}

} // namespace windowtest
