#pragma once

#include "ADBTools.h"

#include <QBasicTimer>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AppCell;
class AppsFilter;
class AppsModel;
class AppsTableModel;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTableView;
class QToolButton;

// The apps of one phone as a table with search, the system-apps filter, a
// toolbar, the row menu, a status line, the loading overlay and the error
// alert. Its view state (search, filter, selection, sort) lasts while it is
// on screen, also across a change of model.
class AppsList : public QWidget {
    Q_OBJECT
public:
    // `saveFolder` is read each time a menu is built; without `onInstall`
    // "Install APK" stays disabled.
    AppsList(std::function<QString()> saveFolder, std::function<void()> onInstall, QWidget* parent = nullptr);
    ~AppsList() override;

    void setModel(std::shared_ptr<AppsModel> model);
    AppsModel* model() const { return m_model.get(); }

    // The app of the selected row, looked up in all of the model's apps (a
    // row hidden by the search stays selected).
    std::optional<InstalledApp> selectedApp() const;
    // The row menu for a point of the table's viewport; none below the rows.
    std::unique_ptr<QMenu> rowMenu(const QPoint& position);
    // The menu items for an app, shared by the row menu and "Actions".
    void addActions(QMenu& menu, const InstalledApp& app);
    QString statusText() const;

    QTableView* table() const { return m_table; }
    QLineEdit* searchField() const { return m_search; }
    QAction* systemAppsAction() const { return m_showSystem; }
    QAction* installAction() const { return m_install; }
    QAction* refreshAction() const { return m_refresh; }
    // Present only while an app is selected.
    QAction* actionsAction() const { return m_actionsItem; }
    QWidget* overlay() const { return m_overlay; }
    QMessageBox* alert() const { return m_alert; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void buildToolbar(QWidget* bar);
    void showApps();
    void restoreSelection();
    void updateActionsItem();
    void updateLoading();
    void updateStatus();
    void updateBusy();
    void updateAlert();
    void closeAlert();
    void placeOverlay();
    std::optional<InstalledApp> appAt(const QModelIndex& index) const;

    std::function<QString()> m_saveFolder;
    std::function<void()> m_onInstall;
    std::shared_ptr<AppsModel> m_model;
    std::optional<QString> m_selection;
    bool m_restoring = false;

    AppsTableModel* m_rows;
    AppsFilter* m_filter;
    AppCell* m_cell;
    QTableView* m_table;
    QLineEdit* m_search;
    QAction* m_showSystem;
    QAction* m_install;
    QAction* m_refresh;
    QToolButton* m_actions;
    QAction* m_actionsItem;
    QWidget* m_overlay;
    QLabel* m_status;
    QPointer<QMessageBox> m_alert;
    QBasicTimer m_turn;
    std::vector<QMetaObject::Connection> m_connections;
};
