#include "MainMenu.h"

#include "BrowserModel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

#include <algorithm>

namespace {

bool isReadyOverADB(const std::optional<Device>& device)
{
    return device && device->isReady() && device->transport == Device::Transport::adb;
}

// Ctrl, Alt or Meta: a command key, not one that types or moves in a control.
bool isCommandKey(const QKeySequence& key)
{
    return !key.isEmpty() && (key[0].keyboardModifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

bool actsIn(const QAction* action, const QWidget* window, const QKeySequence& key)
{
    if (!action->isVisible() || !action->shortcuts().contains(key))
        return false;
    const QList<QObject*> holders = action->associatedObjects();
    return std::any_of(holders.begin(), holders.end(), [window](QObject* holder) {
        auto* widget = qobject_cast<QWidget*>(holder);
        return widget && widget->window() == window && widget->isVisible();
    });
}

} // namespace

MainMenu::MainMenu(const Environment& env, Hooks hooks, QObject* parent)
    : QObject(parent), m_env(env), m_hooks(std::move(hooks))
{
    BrowserModel* model = m_env.model;
    const BrowserCommands& commands = m_env.commands;
    // The prompts and the sheet show in the main window: it comes forward.
    auto inMainWindow = [this](std::function<void()> act) {
        return [this, act = std::move(act)] {
            act();
            if (m_env.canOpen(QStringLiteral("main")))
                m_env.openWindow(QStringLiteral("main"));
        };
    };

    // A question's or panel's own loop must not run under the click of a
    // window's menu: the window may go meanwhile (closed on quit) and take
    // the menu along. The model outlives the windows.
    auto afterMenu = [model](std::function<void()> act) {
        return [model, act = std::move(act)] { QMetaObject::invokeMethod(model, act, Qt::QueuedConnection); };
    };

    Group file{QStringLiteral("&File"), {}};
    add(file, Command::newFolder, QStringLiteral("New Folder"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
        inMainWindow([model] { model->setShowingNewFolder(true); }));
    separator(file);
    add(file, Command::open, QStringLiteral("Open"), QKeySequence(Qt::CTRL | Qt::Key_Down), [model] { model->openSelection(); });
    add(file, Command::copyToPhone, QStringLiteral("Copy to Phone…"), QKeySequence(Qt::CTRL | Qt::Key_I),
        afterMenu([model] { model->chooseAndUpload(); }));
    add(file, Command::copyToComputer, QStringLiteral("Copy to Computer…"), QKeySequence(Qt::CTRL | Qt::Key_E),
        afterMenu([model] { model->download(model->selectedEntries()); }));
    separator(file);
    add(file, Command::rename, QStringLiteral("Rename…"), {}, inMainWindow([model] {
        const QList<RemoteEntry> chosen = model->selectedEntries();
        model->setRenaming(chosen.isEmpty() ? std::nullopt : std::optional<RemoteEntry>(chosen.first()));
    }));
    // The one Delete action: the list and the grid get the key through it.
    add(file, Command::remove, QStringLiteral("Delete…"), QKeySequence(Qt::Key_Delete),
        afterMenu([model] { model->remove(model->selectedEntries()); }));
    separator(file);
    // Spelled out: the standard keys of Qt's plain theme have none for Quit
    // and Settings, and the tray menu shows these.
    add(file, Command::settings, QStringLiteral("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), [this] {
        if (m_hooks.openSettings)
            m_hooks.openSettings();
    });
    separator(file);
    // The window the key was pressed in, or whose menu bar was used.
    add(file, Command::closeWindow, QStringLiteral("Close Window"), QKeySequence(Qt::CTRL | Qt::Key_W), [] {
        if (QWidget* window = QApplication::activeWindow())
            window->close();
    });
    add(file, Command::quit, QStringLiteral("Quit Vantelorquist"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] {
        if (m_hooks.quit)
            m_hooks.quit();
        else
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });

    Group view{QStringLiteral("&View"), {}};
    separator(view, QStringLiteral("View"));
    auto* modes = new QActionGroup(this);
    for (auto [which, title, key, mode] :
         {std::tuple{Command::asList, QStringLiteral("as List"), Qt::Key_1, ViewMode::list},
          std::tuple{Command::asIcons, QStringLiteral("as Icons"), Qt::Key_2, ViewMode::grid}}) {
        QAction* item = add(view, which, title, QKeySequence(Qt::CTRL | key), [model, mode] { model->setViewMode(mode); });
        item->setCheckable(true);
        modes->addAction(item);
    }
    QAction* hidden = add(view, Command::showHidden, QStringLiteral("Show Hidden Files"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Period),
                          [model] { model->setShowHidden(!model->showHidden()); });
    hidden->setCheckable(true);
    add(view, Command::refresh, QStringLiteral("Refresh"), QKeySequence(Qt::CTRL | Qt::Key_R), [model] {
        model->reload([model] { model->refreshInfo(); });
    });

    Group go{QStringLiteral("&Go"), {}};
    add(go, Command::back, QStringLiteral("Back"), QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), [model] { model->goBack(); });
    add(go, Command::forward, QStringLiteral("Forward"), QKeySequence(Qt::CTRL | Qt::Key_BracketRight), [model] { model->goForward(); });
    add(go, Command::enclosingFolder, QStringLiteral("Enclosing Folder"), QKeySequence(Qt::CTRL | Qt::Key_Up), [model] { model->goUp(); });
    separator(go);
    for (const Place& place : Place::all()) {
        const QString path = place.path;
        m_places.append(add(go, menuText(place.name), {}, [model, path] { model->navigate(path, true); }));
    }

    Group phone{QStringLiteral("&Phone"), {}};
    auto openWindow = [this](const QString& identifier) {
        return [this, identifier] {
            if (m_env.canOpen(identifier))
                m_env.openWindow(identifier);
        };
    };
    add(phone, Command::mirror, QStringLiteral("Mirror Screen"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M),
        openWindow(QStringLiteral("mirror")));
    add(phone, Command::apps, QStringLiteral("Apps"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A), openWindow(QStringLiteral("apps")));
    // Ctrl+Alt+L locks the screen on common desktops.
    add(phone, Command::logcat, QStringLiteral("Logcat"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L),
        openWindow(QStringLiteral("logcat")));
    separator(phone);
    add(phone, Command::screenshot, QStringLiteral("Take Screenshot"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P),
        [model] { model->takeScreenshot(); });
    add(phone, Command::record, QStringLiteral("Record Screen"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R),
                   [model] { model->toggleRecording(); });
    add(phone, Command::installAPK, QStringLiteral("Install APK…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        afterMenu([model] { model->installAPK(); }));
    separator(phone);
    QAction* wireless = add(phone, Command::wireless, QStringLiteral("Connect over Wi-Fi…"), {},
                            inMainWindow([model] { model->setShowingWireless(true); }));
    // Shown only when the window can present the sheet.
    wireless->setEnabled(bool(commands.wirelessSheet));
    m_phonesSeparator = separator(phone);
    m_groups = {file, view, go, phone};

    for (auto signal : {&BrowserModel::selectedSerialChanged, &BrowserModel::devicesChanged,
                        &BrowserModel::historyChanged, &BrowserModel::pathChanged, &BrowserModel::jobChanged,
                        &BrowserModel::selectionChanged, &BrowserModel::recordingStartedChanged,
                        &BrowserModel::showHiddenChanged, &BrowserModel::viewModeChanged})
        connect(model, signal, this, &MainMenu::update);
    connect(model, &BrowserModel::devicesChanged, this, &MainMenu::updatePhones);
    update();
    updatePhones();
    // A window's own key is worked out as it is pressed: its controls come and go.
    qApp->installEventFilter(this);
}

QString MainMenu::menuText(const QString& plain)
{
    return QString(plain).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QAction* MainMenu::add(Group& group, const QString& title, const QKeySequence& shortcut, std::function<void()> act)
{
    auto* item = new QAction(title, this);
    item->setObjectName(title);
    item->setShortcut(shortcut);
    // Bound to the windows it is attached to, so that the tray menu's own
    // keys are no ambiguous second binding while that menu is open.
    item->setShortcutContext(Qt::WindowShortcut);
    connect(item, &QAction::triggered, this, [act = std::move(act)] {
        if (act)
            act();
    });
    group.items.append(item);
    m_items.append(item);
    return item;
}

QAction* MainMenu::add(Group& group, Command which, const QString& title, const QKeySequence& shortcut,
                       std::function<void()> act)
{
    QAction* item = add(group, title, shortcut, std::move(act));
    m_commands[size_t(which)] = item;
    return item;
}

QAction* MainMenu::separator(Group& group, const QString& title)
{
    auto* item = new QAction(title, this);
    item->setSeparator(true);
    group.items.append(item);
    return item;
}

void MainMenu::install(QMainWindow* window)
{
    m_menus.removeAll(nullptr);
    m_phoneMenus.removeAll(nullptr);
    QMenuBar* bar = window->menuBar();
    for (const Group& group : std::as_const(m_groups)) {
        QMenu* menu = bar->addMenu(group.title);
        menu->setObjectName(group.title);
        menu->addActions(group.items);
        m_menus.append(menu);
        if (group.items.contains(m_phonesSeparator)) {
            menu->addActions(m_phoneItems);
            m_phoneMenus.append(menu);
        }
    }
}

void MainMenu::attach(QWidget* window)
{
    m_attached.removeAll(nullptr);
    if (!m_attached.contains(window))
        m_attached.append(window);
    for (QAction* item : std::as_const(m_items)) {
        if (isCommandKey(item->shortcut()) && !bindsItself(window, item->shortcut(), m_items))
            window->addAction(item);
    }
}

bool MainMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType()) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        yieldOwnKey(static_cast<QWidget*>(watched)->window(), pressed);
    }
    return QObject::eventFilter(watched, event);
}

void MainMenu::yieldOwnKey(QWidget* window, const QKeySequence& pressed)
{
    if (!m_attached.contains(window))
        return;
    for (QAction* item : std::as_const(m_items)) {
        if (item->shortcut() != pressed || !isCommandKey(pressed))
            continue;
        // Qt would find two bindings of one key and run neither.
        if (bindsItself(window, pressed, m_items))
            window->removeAction(item);
        else if (!window->actions().contains(item))
            window->addAction(item);
    }
}

bool MainMenu::bindsItself(const QWidget* window, const QKeySequence& key, const QList<QAction*>& commands)
{
    const QList<QAction*> actions = window->findChildren<QAction*>();
    if (std::any_of(actions.begin(), actions.end(),
                    [&](QAction* action) { return !commands.contains(action) && actsIn(action, window, key); }))
        return true;
    const QList<QShortcut*> shortcuts = window->findChildren<QShortcut*>();
    return std::any_of(shortcuts.begin(), shortcuts.end(), [&](QShortcut* shortcut) {
        auto* holder = qobject_cast<QWidget*>(shortcut->parent());
        return shortcut->isEnabled() && shortcut->keys().contains(key) && holder && holder->isVisible();
    });
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
    for (auto it = m_menus.crbegin(); it != m_menus.crend(); ++it) {
        if (*it && (*it)->title().remove(QLatin1Char('&')) == title)
            return *it;
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
    auto set = [this](Command which, bool enabled) { command(which)->setEnabled(enabled); };

    // What would start a job is off while one runs: its prompt would ask for nothing.
    set(Command::newFolder, ready && idle);
    set(Command::open, chosen > 0);
    set(Command::copyToPhone, ready && idle);
    set(Command::copyToComputer, chosen > 0 && idle);
    set(Command::rename, chosen == 1 && idle);
    set(Command::remove, chosen > 0 && idle);

    command(Command::asList)->setChecked(model->viewMode() == ViewMode::list);
    command(Command::asIcons)->setChecked(model->viewMode() == ViewMode::grid);
    command(Command::showHidden)->setChecked(model->showHidden());

    set(Command::back, model->canGoBack());
    set(Command::forward, model->canGoForward());
    set(Command::enclosingFolder, model->canGoUp());
    for (QAction* place : std::as_const(m_places))
        place->setEnabled(ready);

    set(Command::mirror, adb && m_env.canOpen(QStringLiteral("mirror")));
    set(Command::apps, adb && m_env.canOpen(QStringLiteral("apps")));
    set(Command::logcat, adb && m_env.canOpen(QStringLiteral("logcat")));
    set(Command::screenshot, adb && idle);
    set(Command::installAPK, adb && idle);
    QAction* record = command(Command::record);
    record->setText(recording ? QStringLiteral("Stop Recording") : QStringLiteral("Record Screen"));
    // A running recording can always be stopped.
    record->setEnabled(adb || recording);
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
        auto* item = new QAction(menuText(device.model), this);
        const QString serial = device.serial;
        connect(item, &QAction::triggered, model, [model, serial] { model->setSelectedSerial(serial); });
        m_phoneItems.append(item);
    }
    m_phoneMenus.removeAll(nullptr);
    for (QMenu* menu : std::as_const(m_phoneMenus))
        menu->addActions(m_phoneItems);
}
