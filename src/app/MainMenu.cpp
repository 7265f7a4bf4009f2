#include "MainMenu.h"

#include "BrowserModel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {

bool isReadyOverADB(const std::optional<Device>& device)
{
    return device && device->isReady() && device->transport == Device::Transport::adb;
}

} // namespace

MainMenu::MainMenu(const Environment& env, QMainWindow* window, std::function<void()> openSettings)
    : QObject(window), m_env(env), m_window(window)
{
    BrowserModel* model = m_env.model;
    const BrowserCommands& commands = m_env.commands;
    QMenuBar* bar = window->menuBar();
    auto newMenu = [&](const QString& title) {
        QMenu* menu = bar->addMenu(title);
        menu->setObjectName(title);
        m_menus.append(menu);
        return menu;
    };

    QMenu* file = newMenu(QStringLiteral("&File"));
    add(file, QStringLiteral("New Folder"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
        [model] { model->setShowingNewFolder(true); });
    file->addSeparator();
    add(file, QStringLiteral("Open"), QKeySequence(Qt::CTRL | Qt::Key_Down), [model] { model->openSelection(); });
    add(file, QStringLiteral("Copy to Phone…"), QKeySequence(Qt::CTRL | Qt::Key_I),
        [model] { model->chooseAndUpload(); });
    add(file, QStringLiteral("Copy to Mac…"), QKeySequence(Qt::CTRL | Qt::Key_E),
        [model] { model->download(model->selectedEntries()); });
    file->addSeparator();
    add(file, QStringLiteral("Rename…"), {}, [model] {
        const QList<RemoteEntry> chosen = model->selectedEntries();
        model->setRenaming(chosen.isEmpty() ? std::nullopt : std::optional<RemoteEntry>(chosen.first()));
    });
    // The one Delete action: the list and the grid get the key through it.
    add(file, QStringLiteral("Delete…"), QKeySequence(Qt::Key_Delete), [model] { model->remove(model->selectedEntries()); });
    file->addSeparator();
    add(file, QStringLiteral("Settings…"), QKeySequence::Preferences, std::move(openSettings));
    file->addSeparator();
    // The window's own close and quit actions, so that no key is bound twice.
    QAction* close = nullptr;
    QAction* quit = nullptr;
    for (QAction* existing : window->actions()) {
        if (existing->text() == QStringLiteral("Close Window"))
            close = existing;
        else if (existing->text() == QStringLiteral("Quit Vantelorquist"))
            quit = existing;
    }
    if (close) {
        file->addAction(close);
        m_items.append(close);
    } else {
        close = add(file, QStringLiteral("Close Window"), QKeySequence::Close, [window] { window->close(); });
    }
    if (quit) {
        file->addAction(quit);
        m_items.append(quit);
    } else {
        quit = add(file, QStringLiteral("Quit Vantelorquist"), QKeySequence::Quit, [] {
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        });
    }
    close->setObjectName(close->text());
    quit->setObjectName(quit->text());
    // Bound to this window, so that the tray menu's own Ctrl+Q is no
    // ambiguous second binding while that menu is open.
    quit->setShortcutContext(Qt::WindowShortcut);

    QMenu* view = newMenu(QStringLiteral("&View"));
    view->addSection(QStringLiteral("View"));
    auto* modes = new QActionGroup(this);
    for (auto [title, key, mode] : {std::tuple{QStringLiteral("as List"), Qt::Key_1, ViewMode::list},
                                    std::tuple{QStringLiteral("as Icons"), Qt::Key_2, ViewMode::grid}}) {
        QAction* item = add(view, title, QKeySequence(Qt::CTRL | key), [model, mode] { model->setViewMode(mode); });
        item->setCheckable(true);
        modes->addAction(item);
    }
    QAction* hidden = add(view, QStringLiteral("Show Hidden Files"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Period),
                          [model] { model->setShowHidden(!model->showHidden()); });
    hidden->setCheckable(true);
    add(view, QStringLiteral("Refresh"), QKeySequence(Qt::CTRL | Qt::Key_R), [model] {
        model->reload([model] { model->refreshInfo(); });
    });

    QMenu* go = newMenu(QStringLiteral("&Go"));
    add(go, QStringLiteral("Back"), QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), [model] { model->goBack(); });
    add(go, QStringLiteral("Forward"), QKeySequence(Qt::CTRL | Qt::Key_BracketRight), [model] { model->goForward(); });
    add(go, QStringLiteral("Enclosing Folder"), QKeySequence(Qt::CTRL | Qt::Key_Up), [model] { model->goUp(); });
    go->addSeparator();
    for (const Place& place : Place::all()) {
        const QString path = place.path;
        m_places.append(add(go, menuText(place.name), {}, [model, path] { model->navigate(path, true); }));
    }

    m_phone = newMenu(QStringLiteral("&Phone"));
    auto openWindow = [this](const QString& identifier) {
        return [this, identifier] {
            if (m_env.canOpen(identifier))
                m_env.openWindow(identifier);
        };
    };
    add(m_phone, QStringLiteral("Mirror Screen"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M),
        openWindow(QStringLiteral("mirror")));
    add(m_phone, QStringLiteral("Apps"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A), openWindow(QStringLiteral("apps")));
    // Ctrl+Alt+L locks the screen on common desktops.
    add(m_phone, QStringLiteral("Logcat"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L),
        openWindow(QStringLiteral("logcat")));
    m_phone->addSeparator();
    add(m_phone, QStringLiteral("Take Screenshot"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P),
        [model] { model->takeScreenshot(); });
    m_record = add(m_phone, QStringLiteral("Record Screen"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R),
                   [model] { model->toggleRecording(); });
    add(m_phone, QStringLiteral("Install APK…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        [model] { model->installAPK(); });
    m_phone->addSeparator();
    QAction* wireless = add(m_phone, QStringLiteral("Connect over Wi-Fi…"), {}, [model] { model->setShowingWireless(true); });
    // Shown only when the window can present the sheet.
    wireless->setEnabled(bool(commands.wirelessSheet));
    m_phonesSeparator = m_phone->addSeparator();

    for (auto signal : {&BrowserModel::selectedSerialChanged, &BrowserModel::devicesChanged,
                        &BrowserModel::historyChanged, &BrowserModel::pathChanged, &BrowserModel::jobChanged,
                        &BrowserModel::selectionChanged, &BrowserModel::recordingStartedChanged,
                        &BrowserModel::showHiddenChanged, &BrowserModel::viewModeChanged})
        connect(model, signal, this, &MainMenu::update);
    connect(model, &BrowserModel::devicesChanged, this, &MainMenu::updatePhones);
    update();
    updatePhones();
}

QString MainMenu::menuText(const QString& plain)
{
    return QString(plain).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QAction* MainMenu::add(QMenu* menu, const QString& title, const QKeySequence& shortcut, std::function<void()> act)
{
    QAction* item = menu->addAction(title);
    item->setObjectName(title);
    item->setShortcut(shortcut);
    connect(item, &QAction::triggered, this, [act = std::move(act)] {
        if (act)
            act();
    });
    m_items.append(item);
    return item;
}

QAction* MainMenu::action(const QString& title) const
{
    for (QAction* item : m_items) {
        if (item->text() == title)
            return item;
    }
    for (QAction* item : m_phoneItems) {
        if (item->text() == title)
            return item;
    }
    return nullptr;
}

QMenu* MainMenu::menu(const QString& title) const
{
    for (QMenu* item : m_menus) {
        if (item->title().remove(QLatin1Char('&')) == title)
            return item;
    }
    return nullptr;
}

void MainMenu::update()
{
    const BrowserModel* model = m_env.model;
    const std::optional<Device> selected = model->selectedDevice();
    const bool ready = selected && selected->isReady();
    const bool adb = isReadyOverADB(selected);
    const bool idle = !model->job();
    const qsizetype chosen = model->selection().size();
    const bool recording = model->recordingStarted().has_value();
    auto set = [this](const QString& title, bool enabled) {
        if (QAction* item = action(title))
            item->setEnabled(enabled);
    };

    set(QStringLiteral("New Folder"), ready);
    set(QStringLiteral("Open"), chosen > 0);
    set(QStringLiteral("Copy to Phone…"), ready && idle);
    set(QStringLiteral("Copy to Mac…"), chosen > 0 && idle);
    set(QStringLiteral("Rename…"), chosen == 1);
    set(QStringLiteral("Delete…"), chosen > 0 && idle);

    action(QStringLiteral("as List"))->setChecked(model->viewMode() == ViewMode::list);
    action(QStringLiteral("as Icons"))->setChecked(model->viewMode() == ViewMode::grid);
    action(QStringLiteral("Show Hidden Files"))->setChecked(model->showHidden());

    set(QStringLiteral("Back"), model->canGoBack());
    set(QStringLiteral("Forward"), model->canGoForward());
    set(QStringLiteral("Enclosing Folder"), model->canGoUp());
    for (QAction* place : std::as_const(m_places))
        place->setEnabled(ready);

    set(QStringLiteral("Mirror Screen"), adb && m_env.canOpen(QStringLiteral("mirror")));
    set(QStringLiteral("Apps"), adb && m_env.canOpen(QStringLiteral("apps")));
    set(QStringLiteral("Logcat"), adb && m_env.canOpen(QStringLiteral("logcat")));
    set(QStringLiteral("Take Screenshot"), adb && idle);
    set(QStringLiteral("Install APK…"), adb && idle);
    m_record->setText(recording ? QStringLiteral("Stop Recording") : QStringLiteral("Record Screen"));
    // A running recording can always be stopped.
    m_record->setEnabled(adb || recording);
}

void MainMenu::updatePhones()
{
    QList<Device> ready;
    for (const Device& device : m_env.model->devices()) {
        if (device.isReady())
            ready.append(device);
    }
    qDeleteAll(m_phoneItems);
    m_phoneItems.clear();
    m_phonesSeparator->setVisible(ready.size() >= 2);
    if (ready.size() < 2)
        return;
    BrowserModel* model = m_env.model;
    for (const Device& device : std::as_const(ready)) {
        QAction* item = m_phone->addAction(menuText(device.model));
        const QString serial = device.serial;
        connect(item, &QAction::triggered, model, [model, serial] { model->setSelectedSerial(serial); });
        m_phoneItems.append(item);
    }
}
