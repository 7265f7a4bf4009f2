#include "VantelorquistApp.h"

#include "BrowserModel.h"
#include "ContentView.h"
#include "Environment.h"
#include "AppsWindow.h"
#include "LogcatWindow.h"
#include "MTPManager.h"
#include "MainMenu.h"
#include "MenuBarItem.h"
#include "MirrorWindow.h"
#include "AboutPanel.h"
#include "Mirvek.h"
#include "SettingsView.h"
#include "StoredValue.h"
#include "Symbols.h"
#include "TempFolder.h"
#include "WirelessConnectView.h"
#include "WidgetDesktop.h"
#include "Error.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QFileInfo>
#include <QEvent>
#include <QPointer>
#include <QTimer>

#include <chrono>

namespace {

// The real model, asking the user through widgets.
std::unique_ptr<BrowserModel> makeModel()
{
    BrowserModel::Collaborators collaborators;
    collaborators.desktop = std::make_shared<WidgetDesktop>();
    collaborators.pollWhenAsked = true;
    return std::make_unique<BrowserModel>(std::move(collaborators));
}

// Runs `work` once `window` has drawn its first picture, or after a second
// if it draws none (a window mapped on another desktop may not be exposed),
// or soon after the window goes away before; never once `context` is gone.
class AfterFirstPaint final : public QObject {
public:
    AfterFirstPaint(QWidget* window, QObject* context, std::function<void()> work)
        : QObject(window), m_context(context), m_work(std::move(work))
    {
        window->installEventFilter(this);
        QTimer::singleShot(std::chrono::seconds(1), this, [this] {
            run();
            deleteLater();
        });
    }
    ~AfterFirstPaint() override
    {
        if (m_work && m_context)
            QMetaObject::invokeMethod(m_context, std::move(m_work), Qt::QueuedConnection);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched == parent() && m_work) {
            // After this paint is flushed to the screen, not inside it.
            QPointer<AfterFirstPaint> self(this);
            QMetaObject::invokeMethod(
                this,
                [self] {
                    if (!self)
                        return;
                    self->run();
                    self->deleteLater();
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void run()
    {
        if (!m_context)
            return;
        if (auto work = std::exchange(m_work, nullptr))
            work();
    }

    QPointer<QObject> m_context;
    std::function<void()> m_work;
};

// Whether changed settings reach the disk: the store replaces its file, so
// the file's folder must take a new one.
bool settingsCanBeSaved(QSettings& settings)
{
    settings.sync();
    if (settings.status() == QSettings::AccessError || !settings.isWritable())
        return false;
    const QFileInfo folder(QFileInfo(settings.fileName()).absolutePath());
    return folder.isDir() && folder.isWritable();
}

void setApplicationIcon()
{
    QApplication::setWindowIcon(Mirvek::applicationIcon());
}

} // namespace

VantelorquistApp::VantelorquistApp(QObject* parent) : VantelorquistApp(Options{}, parent) {}

VantelorquistApp::VantelorquistApp(Options options, QObject* parent)
    : QObject(parent),
      m_ownSettings(options.settings ? nullptr : std::make_unique<QSettings>()),
      m_settings(options.settings ? options.settings : m_ownSettings.get()),
      m_makeModel(std::move(options.makeModel)),
      m_shell(m_settings, options.trayShown ? std::move(options.trayShown)
                                            : std::function<bool()>([this] {
                                                  return m_menuBarItem && m_menuBarItem->isShown();
                                              })),
      m_quit(options.quit ? std::move(options.quit) : [] {
          QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
      })
{
    // The last window closing and a quit signal quit as the Quit command does.
    m_shell.setQuit([this] { quit(); });
    // Quitting stops the job first, so that it never waits for a transfer to
    // end; then the other work under way: closing an MTP session waits
    // for the work on its queue, and the work may still use the staged files.
    // Then it closes the phones' USB sessions and removes the staged files.
    m_shell.addCleanUp([this] {
        if (m_model)
            m_model->cancelJob();
    });
    m_shell.addCleanUp([] { WorkerPool::shared().shutdown(std::chrono::seconds(3)); });
    m_shell.addCleanUp([] { MTPManager::shared().closeAll(); });
    m_shell.addCleanUp([] { TempFolder::removeAll(); });
}

VantelorquistApp::~VantelorquistApp()
{
    // Windows first: their views hold the model.
    for (const QString& identifier : {QStringLiteral("main"), QStringLiteral("mirror"), QStringLiteral("apps"),
                                      QStringLiteral("logcat"), QStringLiteral("settings"), QStringLiteral("about")}) {
        delete m_windows.window(identifier);
    }
}

BrowserModel& VantelorquistApp::model()
{
    if (!m_model)
        m_model = m_makeModel ? m_makeModel() : makeModel();
    return *m_model;
}

bool VantelorquistApp::showMenuBarIcon() const
{
    return storedBool(*m_settings, QStringLiteral("showMenuBarIcon")).value_or(true);
}

void VantelorquistApp::setShowMenuBarIcon(bool show)
{
    m_settings->setValue(QStringLiteral("showMenuBarIcon"), show);
    if (m_menuBarItem)
        m_menuBarItem->setShown(show);
    if (auto* settings = qobject_cast<SettingsView*>(m_windows.window(QStringLiteral("settings"))))
        settings->refresh();
}

void VantelorquistApp::quit()
{
    if (!m_model) {
        m_quit();
        return;
    }
    // What was recorded is copied first; the transfer display shows it.
    if (m_model->hasRecordingsToKeep())
        bringUp(QStringLiteral("main"));
    m_model->quitAfterRecordings(m_quit);
}

QWidget* VantelorquistApp::bringUp(const QString& identifier)
{
    // The registry shows, raises and activates an open window too.
    return m_windows.open(identifier);
}

Environment VantelorquistApp::environment()
{
    Environment env;
    env.model = &model();
    env.canOpenWindow = [this](const QString& identifier) { return m_windows.canOpen(identifier); };
    env.openWindow = [this](const QString& identifier) { m_windows.open(identifier); };
    env.commands.wirelessSheet = [this](QWidget* parent) -> QWidget* { return new WirelessConnectView(model(), parent); };
    // Through the registry, so that it gets the command keys as every window
    // does; the panel itself sets its year each time it comes up.
    env.commands.showAboutPanel = [this] {
        m_windows.open(QStringLiteral("about"));
        Mirvek::showAboutPanel();
    };
    env.makerSite = Mirvek::site();
    return env;
}

void VantelorquistApp::willFinishLaunching()
{
    m_shell.install();
    // Files staged by runs that ended without their clean-up (a crash, a
    // power cut) would stay on disk for good.
    try {
        WorkerPool::shared().start([](std::stop_token) { TempFolder::removeLeftovers(); });
    } catch (const NoThreadError&) {
        // No thread to spare: the next start clears them.
    }

    // The commands outlive the main window: they act in every window.
    m_mainMenu = std::make_unique<MainMenu>(
        environment(), MainMenu::Hooks{[this] { bringUp(QStringLiteral("settings")); }, [this] { quit(); }});
    m_windows.define(QStringLiteral("main"), QStringLiteral("Vantelorquist"), QSize(1040, 660), [this] {
        auto* window = new ContentView(environment());
        m_mainMenu->install(window);
        return window;
    });
    m_windows.define(QStringLiteral("mirror"), QStringLiteral("Phone Screen"), QSize(470, 860),
                     [this] { return new MirrorWindow(model()); });
    m_windows.define(QStringLiteral("apps"), QStringLiteral("Apps"), QSize(720, 560),
                     [this] { return new AppsWindow(model(), [this] { model().installAPK(); }); });
    m_windows.define(QStringLiteral("logcat"), QStringLiteral("Logcat"), QSize(960, 600),
                     [this] { return new LogcatWindow(model()); });
    m_windows.define(QStringLiteral("about"), QString(), QSize(300, 0), [] { return Mirvek::showAboutPanel(); });
    m_windows.define(QStringLiteral("settings"), QStringLiteral("Settings"), QSize(460, 0), [this] {
        SettingsView::MenuBarSetting menuBar{[this] { return showMenuBarIcon(); },
                                             [this](bool show) { setShowMenuBarIcon(show); }};
        return new SettingsView(model(), std::make_shared<WidgetDesktop>(), std::move(menuBar));
    });

    // The one observer of the model's window requests: it belongs to the
    // application, so requests count with or without the tray icon.
    connect(&model(), &BrowserModel::windowRequestChanged, this, [this] { bringUp(QStringLiteral("main")); });
    connect(&m_windows, &WindowRegistry::windowOpened, this, [this](const QString& identifier, QWidget* window) {
        if (identifier != QStringLiteral("main"))
            m_mainMenu->attach(window);
    });
}

void VantelorquistApp::makeMenuBarItem()
{
    MenuBarContent::Hooks hooks;
    hooks.bringUp = [this](const QString& identifier) { bringUp(identifier); };
    hooks.canOpen = [this](const QString& identifier) { return m_windows.canOpen(identifier); };
    hooks.openSettings = [this] { bringUp(QStringLiteral("settings")); };
    hooks.quit = [this] { quit(); };
    hooks.activate = [this] { m_shell.activateApplication(); };
    m_menuBarItem = std::make_unique<MenuBarItem>(environment(), std::move(hooks));
    m_menuBarItem->setShown(showMenuBarIcon());
}

void VantelorquistApp::didFinishLaunching(const ActivationToken& token, std::function<void()> later)
{
    QWidget* window = m_windows.open(QStringLiteral("main"));
    // Drawing the icon in all its sizes and handing them to the window system,
    // the tray icon's round trips on the session bus, the phones' first
    // answers, reading the icon themes and trying the settings folder (on a
    // network home, a round trip or two) would hold up the first picture;
    // every window takes the icon up when it is set, and whatever shows a
    // themed icon sooner chooses the theme itself.
    const auto rest = [this, later = std::move(later)] {
        // Said once, at the start: otherwise every change made now is gone
        // at the next start without a word.
        if (!settingsCanBeSaved(*m_settings)) {
            model().setErrorMessage(QStringLiteral("Settings can’t be saved, so changes to them last only until "
                                                   "Vantelorquist quits. Make sure this folder can be written: ") +
                                    QFileInfo(m_settings->fileName()).absolutePath());
        }
        Symbols::ensureIconTheme();
        model().startPolling();
        setApplicationIcon();
        makeMenuBarItem();
        if (later)
            later();
    };
    if (!window) {
        rest();
        return;
    }
    window->raise();
    window->activateWindow();
    token.bringForward(window);
    new AfterFirstPaint(window, this, rest);
}
