#pragma once

#include "Environment.h"
#include "NamePrompt.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

class DetailView;
class QActionGroup;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;
class Sidebar;

// The main window: the sidebar beside the detail pane, the title, the
// toolbar, and the prompts the model asks for (an error, a new folder's
// name, a new name, the Wi-Fi sheet). It acts only through the model.
class ContentView : public QMainWindow {
    Q_OBJECT
public:
    explicit ContentView(const Environment& env, QWidget* parent = nullptr);
    ~ContentView() override;

    Sidebar* sidebar() const { return m_sidebar; }
    DetailView* detail() const { return m_detail; }

    // The toolbar, in its order.
    QAction* backAction() const { return m_back; }
    QAction* forwardAction() const { return m_forward; }
    QAction* listAction() const { return m_list; }
    QAction* iconsAction() const { return m_icons; }
    QAction* newFolderAction() const { return m_newFolder; }
    QAction* copyToPhoneAction() const { return m_copyToPhone; }
    QAction* copyToMacAction() const { return m_copyToMac; }
    QMenu* moreMenu() const { return m_more; }
    QLineEdit* searchField() const { return m_search; }
    bool showsSearchField() const;

    // The prompts while they are shown.
    QMessageBox* errorAlert() const { return m_errorAlert; }
    NamePrompt* newFolderPrompt() const { return m_newFolderPrompt; }
    NamePrompt* renamePrompt() const { return m_renamePrompt; }
    QWidget* wirelessSheet() const { return m_wirelessSheet; }

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void buildToolbar();
    void buildMoreMenu();
    void updateTitle();
    void updateToolbar();
    void showError();
    // The alert's heading, sentence and list, as the model has them now.
    void fillErrorAlert();
    void showNewFolderPrompt();
    void showRenamePrompt();
    void showWirelessSheet();

    Environment m_env;
    Sidebar* m_sidebar;
    DetailView* m_detail;

    QToolBar* m_toolbar = nullptr;
    QAction* m_back = nullptr;
    QAction* m_forward = nullptr;
    QActionGroup* m_viewModes = nullptr;
    QAction* m_list = nullptr;
    QAction* m_icons = nullptr;
    QAction* m_newFolder = nullptr;
    QAction* m_copyToPhone = nullptr;
    QAction* m_copyToMac = nullptr;
    QToolButton* m_moreButton = nullptr;
    QMenu* m_more = nullptr;
    QAction* m_mirror = nullptr;
    QAction* m_apps = nullptr;
    QAction* m_logcat = nullptr;
    QAction* m_screenshot = nullptr;
    QAction* m_record = nullptr;
    QAction* m_install = nullptr;
    QAction* m_wireless = nullptr;
    QAction* m_showHidden = nullptr;
    QLineEdit* m_search = nullptr;
    QAction* m_searchItem = nullptr;

    // The two texts of the naming prompts.
    QString m_newFolderName;
    QString m_renameText;
    QPointer<QMessageBox> m_errorAlert;
    QPointer<NamePrompt> m_newFolderPrompt;
    QPointer<NamePrompt> m_renamePrompt;
    QPointer<QWidget> m_wirelessSheet;
};
