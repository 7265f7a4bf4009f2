#include "AppsList.h"
#include "PlainText.h"

#include "Accessibility.h"
#include "AppsModel.h"
#include "AppsTable.h"
#include "Digits.h"
#include "Look.h"
#include "Spinner.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimerEvent>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kVersionMinimum = 70;
constexpr int kInstalledMinimum = 80;

} // namespace

AppsList::AppsList(std::function<QString()> saveFolder, std::function<void()> onInstall, QWidget* parent)
    : QWidget(parent), m_saveFolder(std::move(saveFolder)), m_onInstall(std::move(onInstall))
{
    setObjectName(QStringLiteral("appsList"));
    m_rows = new AppsTableModel(this);
    m_filter = new AppsFilter(this);
    m_filter->setSourceModel(m_rows);
    m_filter->sort(0, Qt::AscendingOrder);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* bar = new QToolBar(this);
    buildToolbar(bar);
    column->addWidget(bar);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("appsTable"));
    m_table->setAccessibleName(QStringLiteral("Apps"));
    m_table->setModel(m_filter);
    m_cell = new AppCell(m_table);
    m_table->setItemDelegateForColumn(0, m_cell);
    m_table->setItemDelegateForColumn(1, new DigitsDelegate(m_table));
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setAlternatingRowColors(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the table, as it leaves the main window's list; arrows move within it.
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setMinimumSectionSize(kVersionMinimum);
    header->resizeSection(1, 110);
    header->resizeSection(2, 110);
    // The header has one minimum for all; a date needs a little more.
    connect(header, &QHeaderView::sectionResized, this, [header](int section, int, int size) {
        if (section == 2 && size < kInstalledMinimum)
            header->resizeSection(2, kInstalledMinimum);
    });
    header->setSortIndicatorShown(true);
    header->setSortIndicator(0, Qt::AscendingOrder);
    header->setSectionsClickable(true);
    // Only "App" sorts; a click on it turns the order round.
    connect(header, &QHeaderView::sectionClicked, this, [this, header](int section) {
        const Qt::SortOrder order = m_filter->sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        if (section == 0)
            m_filter->sort(0, order);
        header->setSortIndicator(0, m_filter->sortOrder());
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_restoring)
            return;
        const QModelIndexList rows = m_table->selectionModel()->selectedRows();
        m_selection = rows.isEmpty() ? std::nullopt
                                     : std::optional(rows.first().data(AppsTableModel::PackageRole).toString());
        updateActionsItem();
    });
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (std::unique_ptr<QMenu> menu = rowMenu(position))
            menu.release()->popup(m_table->viewport()->mapToGlobal(position));
    });
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (const std::optional<InstalledApp> app = appAt(index); app && m_model)
            m_model->open(*app);
    });
    // Rows leave and come back with the filter and the search; the chosen app stays chosen.
    connect(m_filter, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { m_restoring = true; });
    connect(m_filter, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { m_restoring = true; });
    connect(m_filter, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_restoring = true; });
    connect(m_filter, &QAbstractItemModel::rowsRemoved, this, &AppsList::restoreSelection);
    connect(m_filter, &QAbstractItemModel::rowsInserted, this, &AppsList::restoreSelection);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &AppsList::restoreSelection);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &AppsList::restoreSelection);
    connect(m_filter, &QAbstractItemModel::rowsInserted, this, &AppsList::updateStatus);
    connect(m_filter, &QAbstractItemModel::rowsRemoved, this, &AppsList::updateStatus);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &AppsList::updateStatus);
    column->addWidget(m_table, 1);

    m_overlay = new QWidget(m_table);
    m_overlay->setObjectName(QStringLiteral("readingApps"));
    m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* overlayRow = new QHBoxLayout(m_overlay);
    overlayRow->addWidget(new Spinner(m_overlay));
    auto* reading = new QLabel(QStringLiteral("Reading apps…"), m_overlay);
    Look::setForeground(reading, Look::secondary(palette()));
    overlayRow->addWidget(reading);
    m_overlay->hide();
    m_table->installEventFilter(this);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("appsStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setFont(Look::callout(font()));
    m_status->setContentsMargins(12, 6, 12, 6);
    m_status->setAutoFillBackground(true);
    m_status->setBackgroundRole(QPalette::Window);
    Look::setForeground(m_status, Look::secondary(palette()));
    column->addWidget(m_status);
    updateStatus();
    updateActionsItem();
}

AppsList::~AppsList()
{
    for (const QMetaObject::Connection& connection : m_connections)
        disconnect(connection);
    // The alert belongs to the window, not to the list: it goes with the model it reports for.
    closeAlert();
}

void AppsList::buildToolbar(QWidget* widget)
{
    auto* bar = static_cast<QToolBar*>(widget);
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const QColor ink = palette().color(QPalette::ButtonText);

    m_showSystem = bar->addAction(Look::symbolIcon(QStringLiteral("gearshape.2"), ink), QStringLiteral("System Apps"));
    m_showSystem->setCheckable(true);
    m_showSystem->setToolTip(QStringLiteral("Show apps that came with the phone"));
    connect(m_showSystem, &QAction::toggled, m_filter, &AppsFilter::setShowSystem);

    m_install = bar->addAction(Look::symbolIcon(QStringLiteral("plus.app"), ink), QStringLiteral("Install APK"));
    m_install->setToolTip(QStringLiteral("Install an APK file from your computer"));
    m_install->setEnabled(bool(m_onInstall));
    connect(m_install, &QAction::triggered, this, [this] {
        if (m_onInstall)
            m_onInstall();
    });

    m_refresh = bar->addAction(Look::symbolIcon(QStringLiteral("arrow.clockwise"), ink), QStringLiteral("Refresh"));
    m_refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_refresh->setShortcutContext(Qt::WindowShortcut);
    connect(m_refresh, &QAction::triggered, this, [this] {
        if (m_model && !m_model->isLoading())
            m_model->reload();
    });

    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    m_search = new QLineEdit(bar);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("Search apps"));
    m_search->setAccessibleName(QStringLiteral("Search apps"));
    m_search->setClearButtonEnabled(true);
    m_search->setMaximumWidth(220);
    connect(m_search, &QLineEdit::textChanged, m_filter, &AppsFilter::setSearch);
    bar->addWidget(m_search);

    m_actions = new QToolButton(bar);
    m_actions->setText(QStringLiteral("Actions"));
    m_actions->setIcon(Look::symbolIcon(QStringLiteral("ellipsis.circle"), ink));
    m_actions->setToolTip(QStringLiteral("Open, stop, save or uninstall the selected app"));
    m_actions->setAccessibleName(QStringLiteral("Actions"));
    m_actions->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_actions->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(m_actions);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        if (const std::optional<InstalledApp> app = selectedApp())
            addActions(*menu, *app);
    });
    m_actions->setMenu(menu);
    m_actionsItem = bar->addWidget(m_actions);
    // The actions button's menu arrow would touch the window's edge.
    bar->setContentsMargins(0, 0, 6, 0);
    Accessibility::setFieldButtons(m_search);
    Accessibility::setToolbar(bar, QStringLiteral("Toolbar"));
}

void AppsList::setModel(std::shared_ptr<AppsModel> model)
{
    for (const QMetaObject::Connection& connection : m_connections)
        disconnect(connection);
    m_connections.clear();
    closeAlert();
    m_model = std::move(model);
    if (!m_model)
        return;
    AppsModel* source = m_model.get();
    m_connections = {
        connect(source, &AppsModel::appsChanged, this, &AppsList::showApps),
        connect(source, &AppsModel::isLoadingChanged, this, &AppsList::updateLoading),
        connect(source, &AppsModel::busyPackageChanged, this, &AppsList::updateBusy),
        connect(source, &AppsModel::statusChanged, this, &AppsList::updateStatus),
        connect(source, &AppsModel::errorMessageChanged, this, &AppsList::updateAlert),
    };
    showApps();
    updateLoading();
    updateBusy();
    updateAlert();
}

void AppsList::showApps()
{
    m_rows->setApps(m_model ? m_model->apps() : std::vector<InstalledApp>());
    updateLoading();
    updateActionsItem();
}

void AppsList::restoreSelection()
{
    m_restoring = true;
    QItemSelectionModel* selection = m_table->selectionModel();
    selection->clearSelection();
    if (m_selection) {
        for (int row = 0; row < m_filter->rowCount(); ++row) {
            const QModelIndex index = m_filter->index(row, 0);
            if (index.data(AppsTableModel::PackageRole).toString() == *m_selection) {
                selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
                break;
            }
        }
    }
    m_restoring = false;
    updateActionsItem();
}

std::optional<InstalledApp> AppsList::selectedApp() const
{
    if (!m_selection || !m_model)
        return std::nullopt;
    for (const InstalledApp& app : m_model->apps()) {
        if (app.package == *m_selection)
            return app;
    }
    return std::nullopt;
}

std::optional<InstalledApp> AppsList::appAt(const QModelIndex& index) const
{
    if (!index.isValid() || !m_model)
        return std::nullopt;
    const QString package = index.data(AppsTableModel::PackageRole).toString();
    for (const InstalledApp& app : m_model->apps()) {
        if (app.package == package)
            return app;
    }
    return std::nullopt;
}

std::unique_ptr<QMenu> AppsList::rowMenu(const QPoint& position)
{
    const std::optional<InstalledApp> app = appAt(m_table->indexAt(position));
    if (!app)
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addActions(*menu, *app);
    return menu;
}

void AppsList::addActions(QMenu& menu, const InstalledApp& app)
{
    // The menu may outlive a model swap; its items act on the model they were made for.
    // They act once the menu is done with the click: a question's own loop must
    // not run under the menu, which a phone change may take away meanwhile.
    std::weak_ptr<AppsModel> weak = m_model;
    auto act = [&menu, weak, app](const QString& title, void (AppsModel::*action)(const InstalledApp&)) {
        QObject::connect(menu.addAction(title), &QAction::triggered, &menu, [weak, app, action] {
            if (const std::shared_ptr<AppsModel> model = weak.lock()) {
                QMetaObject::invokeMethod(
                    model.get(),
                    [weak, app, action] {
                        if (const std::shared_ptr<AppsModel> later = weak.lock())
                            (later.get()->*action)(app);
                    },
                    Qt::QueuedConnection);
            }
        });
    };
    act(QStringLiteral("Open on Phone"), &AppsModel::open);
    act(QStringLiteral("Force Stop"), &AppsModel::forceStop);
    act(QStringLiteral("Show App Info on Phone"), &AppsModel::showInfo);
    menu.addSeparator();
    const QString folder = m_saveFolder ? m_saveFolder() : QString();
    QObject::connect(menu.addAction(QStringLiteral("Save APK to ") + QFileInfo(QDir::cleanPath(folder)).fileName()),
                     &QAction::triggered, &menu, [weak, app, folder] {
                         if (const std::shared_ptr<AppsModel> model = weak.lock())
                             model->saveAPK(app, folder);
                     });
    QObject::connect(menu.addAction(QStringLiteral("Copy Package Name")), &QAction::triggered, &menu, [app] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(app.package);
    });
    menu.addSeparator();
    act(QStringLiteral("Clear Data…"), &AppsModel::clearData);
    if (!app.isSystem)
        act(QStringLiteral("Uninstall…"), &AppsModel::uninstall);
}

void AppsList::updateActionsItem()
{
    m_actionsItem->setVisible(selectedApp().has_value());
}

QString AppsList::statusText() const
{
    if (m_model && m_model->status())
        return *m_model->status();
    return QString::number(m_filter->rowCount()) + QStringLiteral(" apps");
}

void AppsList::updateStatus()
{
    m_status->setText(statusText());
}

void AppsList::updateLoading()
{
    const bool loading = m_model && m_model->isLoading();
    m_refresh->setEnabled(!loading);
    m_overlay->setVisible(loading && m_model->apps().empty());
    placeOverlay();
}

void AppsList::updateBusy()
{
    m_rows->setBusyPackage(m_model ? m_model->busyPackage() : std::nullopt);
    if (m_model && m_model->busyPackage())
        m_turn.start(80, this);
    else
        m_turn.stop();
}

void AppsList::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_turn.timerId())
        return QWidget::timerEvent(event);
    m_cell->turn();
    m_table->viewport()->update();
}

void AppsList::updateAlert()
{
    const std::optional<QString> message = m_model ? m_model->errorMessage() : std::nullopt;
    if (!message) {
        closeAlert();
        return;
    }
    if (!m_alert) {
        m_alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Couldn’t finish"), QString(),
                                  QMessageBox::NoButton, window());
        m_alert->setAttribute(Qt::WA_DeleteOnClose);
        m_alert->setWindowModality(Qt::WindowModal);
        // adb's and the phone's words, never markup.
        m_alert->setTextFormat(Qt::PlainText);
        QPushButton* ok = m_alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
        m_alert->setEscapeButton(ok);
        m_alert->setDefaultButton(ok);
        std::weak_ptr<AppsModel> weak = m_model;
        connect(m_alert, &QDialog::finished, this, [weak] {
            if (const std::shared_ptr<AppsModel> model = weak.lock())
                model->setErrorMessage(std::nullopt);
        });
    }
    m_alert->setText(QStringLiteral("Couldn’t finish"));
    PlainText::setInformativeText(*m_alert, *message);
    m_alert->open();
}

void AppsList::closeAlert()
{
    // It deletes itself later; a new failure gets a new alert. Closed for the
    // person, not by them: the failure stays untold to the model.
    if (QMessageBox* alert = m_alert) {
        m_alert = nullptr;
        disconnect(alert, &QDialog::finished, this, nullptr);
        alert->close();
    }
}

bool AppsList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && event->type() == QEvent::Resize)
        placeOverlay();
    return QWidget::eventFilter(watched, event);
}

void AppsList::placeOverlay()
{
    m_overlay->adjustSize();
    const QRect area = m_table->rect();
    m_overlay->move(area.center() - m_overlay->rect().center());
    m_overlay->raise();
}
