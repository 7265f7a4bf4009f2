#include "ContentView.h"
#include "PlainText.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "DetailView.h"
#include "Look.h"
#include "NamePrompt.h"
#include "Sidebar.h"
#include "Symbols.h"
#include "Theme.h"
#include "WindowRules.h"

#include <QActionGroup>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr int toolbarIconSide = 18;

QAction* toolbarAction(const QString& label, const QString& symbol, const QString& help, QWidget* window,
                       QObject* parent)
{
    QColor ink = window->palette().color(QPalette::WindowText);
    ink.setAlphaF(0.78f);
    auto* action = new QAction(Look::symbolIcon(symbol, ink, toolbarIconSide), label, parent);
    action->setObjectName(label);
    action->setToolTip(help);
    return action;
}

QString newFolderMessage(const BrowserModel& model)
{
    return QStringLiteral("Creates a folder in ") + WindowRules::currentFolderName(model.pathComponents()) +
           QStringLiteral(".");
}

// Escape in the search field clears its text, before the window's own
// Escape (Stop) sees it; an empty field leaves Escape to the window.
class ClearOnEscape : public QObject {
public:
    explicit ClearOnEscape(QLineEdit* field) : QObject(field), m_field(field) { field->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_field || (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress))
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier || m_field->text().isEmpty())
            return false;
        event->accept();
        if (event->type() == QEvent::KeyPress) {
            m_field->clear();
            return true;
        }
        return false;
    }

private:
    QLineEdit* m_field;
};

} // namespace

ContentView::ContentView(const Environment& env, QWidget* parent) : QMainWindow(parent), m_env(env)
{
    setWindowTitle(QStringLiteral("Vantelorquist"));
    setMinimumSize(820, 500);
    setUnifiedTitleAndToolBarOnMac(true);

    // The accent tints every control and selection in both columns.
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, Theme::accent(Theme::isDark(tinted)));
    tinted.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(tinted);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("split"));
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    m_sidebar = new Sidebar(m_env, split);
    m_detail = new DetailView(m_env, split);
    split->addWidget(m_sidebar);
    split->addWidget(m_detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({250, 790});
    setCentralWidget(split);

    buildToolbar();

    BrowserModel* model = m_env.model;
    for (auto signal : {&BrowserModel::selectedSerialChanged, &BrowserModel::devicesChanged, &BrowserModel::pathChanged})
        connect(model, signal, this, &ContentView::updateTitle);
    for (auto signal : {&BrowserModel::selectedSerialChanged, &BrowserModel::devicesChanged,
                        &BrowserModel::historyChanged, &BrowserModel::jobChanged, &BrowserModel::selectionChanged,
                        &BrowserModel::recordingStartedChanged, &BrowserModel::showHiddenChanged,
                        &BrowserModel::viewModeChanged, &BrowserModel::pathChanged})
        connect(model, signal, this, &ContentView::updateToolbar);
    connect(model, &BrowserModel::errorMessageChanged, this, &ContentView::showError);
    connect(model, &BrowserModel::showingNewFolderChanged, this, &ContentView::showNewFolderPrompt);
    // A new folder goes into the folder shown now, also when the poll has
    // moved the window to another phone meanwhile.
    connect(model, &BrowserModel::pathChanged, this, [this] {
        if (m_newFolderPrompt)
            m_newFolderPrompt->setMessage(newFolderMessage(*m_env.model));
    });
    connect(model, &BrowserModel::renamingChanged, this, &ContentView::showRenamePrompt);
    connect(model, &BrowserModel::showingWirelessChanged, this, &ContentView::showWirelessSheet);
    connect(model, &BrowserModel::searchTextChanged, this, [this] {
        if (m_search->text() != m_env.model->searchText())
            m_search->setText(m_env.model->searchText());
    });
    connect(m_detail, &DetailView::browsingChanged, this, [this](bool browsing) { m_searchItem->setVisible(browsing); });

    updateTitle();
    updateToolbar();
    m_searchItem->setVisible(m_detail->browser() != nullptr);
    // Whatever the model asked for before the window existed.
    if (model->errorMessage())
        showError();
    if (model->showingNewFolder())
        showNewFolderPrompt();
    if (model->renaming())
        showRenamePrompt();
    if (model->showingWireless())
        showWirelessSheet();
}

ContentView::~ContentView()
{
    // The Wi-Fi sheet, going with the window, tells the model; nothing of
    // this half-destroyed window may answer.
    disconnect(m_env.model, nullptr, this, nullptr);
}

bool ContentView::focusNextPrevChild(bool next)
{
    // Tab goes from the sidebar to the toolbar and its search field, then to
    // the detail pane, in whatever order their widgets were made.
    QList<QWidget*> stops;
    for (QWidget* region : {static_cast<QWidget*>(m_sidebar), static_cast<QWidget*>(m_toolbar),
                            static_cast<QWidget*>(m_detail)}) {
        for (QWidget* widget = nextInFocusChain(); widget != this; widget = widget->nextInFocusChain()) {
            if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && widget->isEnabled() &&
                widget->isVisibleTo(this) && region->isAncestorOf(widget))
                stops.append(widget);
        }
    }
    if (stops.isEmpty())
        return QMainWindow::focusNextPrevChild(next);
    const qsizetype at = stops.indexOf(focusWidget());
    const qsizetype count = stops.size();
    const qsizetype target = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    stops.at(target)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool ContentView::showsSearchField() const
{
    return m_searchItem->isVisible();
}

void ContentView::buildToolbar()
{
    BrowserModel* model = m_env.model;
    QToolBar* bar = m_toolbar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->setIconSize(QSize(toolbarIconSide, toolbarIconSide));
    bar->toggleViewAction()->setEnabled(false);

    m_back = toolbarAction(QStringLiteral("Back"), QStringLiteral("chevron.left"), QStringLiteral("Back"), this, this);
    connect(m_back, &QAction::triggered, model, &BrowserModel::goBack);
    bar->addAction(m_back);
    m_forward = toolbarAction(QStringLiteral("Forward"), QStringLiteral("chevron.right"), QStringLiteral("Forward"), this, this);
    connect(m_forward, &QAction::triggered, model, &BrowserModel::goForward);
    bar->addAction(m_forward);

    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    const QString viewHelp = QStringLiteral("Change how items are shown");
    m_viewModes = new QActionGroup(this);
    m_viewModes->setExclusive(true);
    m_list = toolbarAction(QStringLiteral("List"), QStringLiteral("list.bullet"), viewHelp, this, m_viewModes);
    m_list->setCheckable(true);
    connect(m_list, &QAction::triggered, model, [model] { model->setViewMode(ViewMode::list); });
    m_icons = toolbarAction(QStringLiteral("Icons"), QStringLiteral("square.grid.2x2"), viewHelp, this, m_viewModes);
    m_icons->setCheckable(true);
    connect(m_icons, &QAction::triggered, model, [model] { model->setViewMode(ViewMode::grid); });
    bar->addAction(m_list);
    bar->addAction(m_icons);
    bar->addSeparator();

    m_newFolder = toolbarAction(QStringLiteral("New Folder"), QStringLiteral("folder.badge.plus"),
                                QStringLiteral("New Folder"), this, this);
    connect(m_newFolder, &QAction::triggered, model, [model] { model->setShowingNewFolder(true); });
    bar->addAction(m_newFolder);
    m_copyToPhone = toolbarAction(QStringLiteral("Copy to Phone"), QStringLiteral("square.and.arrow.up"),
                                  QStringLiteral("Copy files from your computer to this folder"), this, this);
    // Queued: a panel's own loop must not run under the click of the window's
    // toolbar or menu, which the window may take along when it goes meanwhile.
    connect(
        m_copyToPhone, &QAction::triggered, model, [model] { model->chooseAndUpload(std::nullopt); },
        Qt::QueuedConnection);
    bar->addAction(m_copyToPhone);
    m_copyToMac = toolbarAction(QStringLiteral("Copy to Computer"), QStringLiteral("square.and.arrow.down"),
                                QStringLiteral("Copy the selected items to your computer"), this, this);
    connect(
        m_copyToMac, &QAction::triggered, model, [model] { model->download(model->selectedEntries()); },
        Qt::QueuedConnection);
    bar->addAction(m_copyToMac);

    buildMoreMenu();
    m_moreButton = new QToolButton(bar);
    m_moreButton->setObjectName(QStringLiteral("More"));
    m_moreButton->setIcon(m_more->menuAction()->icon());
    m_moreButton->setText(QStringLiteral("More"));
    m_moreButton->setToolTip(QStringLiteral("More actions"));
    Accessibility::setMenu(m_moreButton, m_more);
    m_moreButton->setAutoRaise(true);
    bar->addWidget(m_moreButton);

    m_search = new QLineEdit(bar);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("Search this folder"));
    Accessibility::setName(m_search, {}, m_search->placeholderText());
    m_search->setClearButtonEnabled(true);
    QAction* magnifier = m_search->addAction(
        Look::symbolIcon(QStringLiteral("magnifyingglass"), Look::secondary(palette())), QLineEdit::LeadingPosition);
    m_search->setFixedWidth(200);
    m_search->setText(model->searchText());
    connect(m_search, &QLineEdit::textChanged, model, [model](const QString& text) { model->setSearchText(text); });
    new ClearOnEscape(m_search);
    m_searchItem = bar->addWidget(m_search);
    // The field's own buttons: the magnifier only decorates, the other clears.
    for (QToolButton* button : m_search->findChildren<QToolButton*>()) {
        if (button->defaultAction() == magnifier)
            Accessibility::hide(button);
        else
            Accessibility::setName(button, {}, QStringLiteral("Clear"));
    }

    // Tab reaches every tool; separators and the spacer only arrange them.
    for (QAction* action : bar->actions()) {
        QWidget* item = bar->widgetForAction(action);
        if (action->isSeparator() || item == spacer)
            Accessibility::hide(item);
        else if (qobject_cast<QToolButton*>(item))
            item->setFocusPolicy(Qt::TabFocus);
    }
}

void ContentView::buildMoreMenu()
{
    BrowserModel* model = m_env.model;
    m_more = new QMenu(QStringLiteral("More"), this);
    QColor ink = palette().color(QPalette::WindowText);
    ink.setAlphaF(0.78f);
    m_more->menuAction()->setIcon(Look::symbolIcon(QStringLiteral("ellipsis.circle"), ink, toolbarIconSide));
    m_more->setObjectName(QStringLiteral("moreMenu"));
    Accessibility::setName(m_more, {}, m_more->title());
    auto add = [this](const QString& title) {
        QAction* action = m_more->addAction(title);
        action->setObjectName(title);
        return action;
    };
    auto openWindow = [this](const QString& identifier) {
        if (m_env.openWindow)
            m_env.openWindow(identifier);
    };
    m_mirror = add(QStringLiteral("Mirror Screen"));
    connect(m_mirror, &QAction::triggered, this, [openWindow] { openWindow(QStringLiteral("mirror")); });
    m_apps = add(QStringLiteral("Apps"));
    connect(m_apps, &QAction::triggered, this, [openWindow] { openWindow(QStringLiteral("apps")); });
    m_logcat = add(QStringLiteral("Logcat"));
    connect(m_logcat, &QAction::triggered, this, [openWindow] { openWindow(QStringLiteral("logcat")); });
    m_more->addSeparator();
    m_screenshot = add(QStringLiteral("Take Screenshot of Phone"));
    connect(m_screenshot, &QAction::triggered, model, &BrowserModel::takeScreenshot);
    m_record = add(QStringLiteral("Record Screen"));
    connect(m_record, &QAction::triggered, model, &BrowserModel::toggleRecording);
    m_install = add(QStringLiteral("Install APK…"));
    connect(m_install, &QAction::triggered, model, &BrowserModel::installAPK, Qt::QueuedConnection);
    m_more->addSeparator();
    m_wireless = add(QStringLiteral("Connect over Wi-Fi…"));
    // Offered only when the sheet can be shown.
    m_wireless->setEnabled(bool(m_env.commands.wirelessSheet));
    connect(m_wireless, &QAction::triggered, model, [model] { model->setShowingWireless(true); });
    m_showHidden = add(QStringLiteral("Show Hidden Files"));
    m_showHidden->setCheckable(true);
    connect(m_showHidden, &QAction::triggered, model, [model](bool checked) { model->setShowHidden(checked); });
}

void ContentView::updateTitle()
{
    const BrowserModel* model = m_env.model;
    setWindowTitle(
        Accessibility::plainTitle(WindowRules::windowTitle(model->selectedDevice(), model->pathComponents())));
}

void ContentView::updateToolbar()
{
    const BrowserModel* model = m_env.model;
    WindowRules::ToolbarInput input;
    input.selected = model->selectedDevice();
    input.hasJob = model->job().has_value();
    input.hasSelection = !model->selection().isEmpty();
    input.canGoBack = model->canGoBack();
    input.canGoForward = model->canGoForward();
    input.recording = model->recordingStarted().has_value();
    const WindowRules::ToolbarState state = WindowRules::toolbar(input);

    m_back->setEnabled(state.back);
    m_forward->setEnabled(state.forward);
    m_list->setChecked(model->viewMode() == ViewMode::list);
    m_icons->setChecked(model->viewMode() == ViewMode::grid);
    m_newFolder->setEnabled(state.newFolder);
    m_copyToPhone->setEnabled(state.copyToPhone);
    m_copyToMac->setEnabled(state.copyToMac);

    m_record->setText(state.recordTitle);
    m_mirror->setEnabled(state.phoneTools && m_env.canOpen(QStringLiteral("mirror")));
    m_apps->setEnabled(state.phoneTools && m_env.canOpen(QStringLiteral("apps")));
    m_logcat->setEnabled(state.phoneTools && m_env.canOpen(QStringLiteral("logcat")));
    m_screenshot->setEnabled(state.phoneTools);
    m_record->setEnabled(state.phoneTools);
    m_install->setEnabled(state.phoneTools);
    m_showHidden->setChecked(model->showHidden());
}

void ContentView::showError()
{
    const std::optional<QString>& message = m_env.model->errorMessage();
    if (!message) {
        if (m_errorAlert)
            m_errorAlert->done(QMessageBox::Ok);
        return;
    }
    if (!m_errorAlert) {
        auto* alert = new QMessageBox(this);
        alert->setObjectName(QStringLiteral("errorAlert"));
        alert->setStandardButtons(QMessageBox::Ok);
        alert->setWindowModality(Qt::WindowModal);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        // Dismissing it clears the message, whichever way it goes.
        connect(alert, &QMessageBox::finished, this, [this] {
            m_errorAlert = nullptr;
            m_env.model->setErrorMessage(std::nullopt);
        });
        m_errorAlert = alert;
        fillErrorAlert();
        alert->open();
        return;
    }
    fillErrorAlert();
}

void ContentView::fillErrorAlert()
{
    const BrowserModel& model = *m_env.model;
    QMessageBox& alert = *m_errorAlert;
    // What the person's own Stop left behind is a note; anything else went wrong.
    if (model.errorIsNote()) {
        alert.setIcon(QMessageBox::Information);
        alert.setWindowTitle(QString());
        alert.setTextFormat(Qt::PlainText);
        alert.setText(*model.errorMessage());
        PlainText::setInformativeText(alert, QString());
    } else {
        alert.setIcon(QMessageBox::Warning);
        alert.setWindowTitle(QStringLiteral("Something went wrong"));
        alert.setText(QStringLiteral("Something went wrong"));
        // The sentence may quote a name typed by the user or given by the
        // phone: plain text, never markup.
        PlainText::setInformativeText(alert, *model.errorMessage());
    }
    // Every item a copy didn't take, as file managers list them; the
    // message names the first and counts the rest.
    alert.setDetailedText(model.errorDetails().join(QLatin1Char('\n')));
}

void ContentView::showNewFolderPrompt()
{
    BrowserModel* model = m_env.model;
    if (!model->showingNewFolder()) {
        if (m_newFolderPrompt)
            m_newFolderPrompt->reject();
        return;
    }
    m_newFolderName = QStringLiteral("untitled folder");
    if (m_newFolderPrompt) {
        m_newFolderPrompt->setText(m_newFolderName);
        return;
    }
    auto* prompt = new NamePrompt(QStringLiteral("New Folder"), QStringLiteral("Folder name"),
                                  QStringLiteral("Create"), this);
    prompt->setObjectName(QStringLiteral("newFolderPrompt"));
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->setMessage(newFolderMessage(*model));
    prompt->setText(m_newFolderName);
    connect(prompt->field(), &QLineEdit::textChanged, this, [this](const QString& text) { m_newFolderName = text; });
    connect(prompt, &NamePrompt::confirmed, this, [this](const QString& name) { m_env.model->newFolder(name); });
    connect(prompt, &NamePrompt::dismissed, this, [this] {
        m_newFolderPrompt = nullptr;
        m_env.model->setShowingNewFolder(false);
    });
    m_newFolderPrompt = prompt;
    prompt->open();
}

void ContentView::showRenamePrompt()
{
    BrowserModel* model = m_env.model;
    const std::optional<RemoteEntry>& entry = model->renaming();
    // The field opens with the current name each time.
    m_renameText = entry ? entry->name : QString();
    if (!entry) {
        if (m_renamePrompt)
            m_renamePrompt->reject();
        return;
    }
    if (m_renamePrompt) {
        m_renamePrompt->setText(m_renameText);
        return;
    }
    auto* prompt = new NamePrompt(QStringLiteral("Rename"), QStringLiteral("Name"), QStringLiteral("Rename"), this);
    prompt->setObjectName(QStringLiteral("renamePrompt"));
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->setText(m_renameText);
    connect(prompt->field(), &QLineEdit::textChanged, this, [this](const QString& text) { m_renameText = text; });
    connect(prompt, &NamePrompt::confirmed, this, [this](const QString& name) {
        const std::optional<RemoteEntry> target = m_env.model->renaming();
        if (target)
            m_env.model->rename(*target, name);
    });
    connect(prompt, &NamePrompt::dismissed, this, [this] {
        m_renamePrompt = nullptr;
        m_env.model->setRenaming(std::nullopt);
    });
    m_renamePrompt = prompt;
    prompt->open();
}

void ContentView::showWirelessSheet()
{
    BrowserModel* model = m_env.model;
    if (!model->showingWireless()) {
        if (m_wirelessSheet)
            m_wirelessSheet->close();
        return;
    }
    if (m_wirelessSheet || !m_env.commands.wirelessSheet)
        return;
    QWidget* sheet = m_env.commands.wirelessSheet(this);
    if (!sheet)
        return;
    sheet->setWindowFlag(Qt::Sheet);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the sheet, however it happens, ends the request.
    connect(sheet, &QObject::destroyed, model, [model] { model->setShowingWireless(false); });
    m_wirelessSheet = sheet;
    sheet->show();
}
