#pragma once

#include "Desktop.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

// The desktop the browser model asks, made of widgets: message boxes for
// its questions, a folder chooser, a panel that picks files and folders
// together, the system's beep, the default applications and the file
// manager.
class WidgetDesktop : public Desktop {
public:
    // Also keeps the click that closes a question, panel or menu from
    // beginning a double-click in the window under it, for the whole
    // application: a double-click whose first press went to another window
    // arrives as a single press.
    WidgetDesktop();

    std::optional<int> ask(const Question& question) override;
    void closeQuestions() override;
    std::optional<QString> chooseFolder(const Panel& panel) override;
    QStringList chooseItems(const Panel& panel) override;
    QStringList chooseFiles(const Panel& panel, const QStringList& patterns) override;
    void beep() override;
    // Through xdg-open, run here to hear it answer that nothing opens the
    // file; without it, through Qt's own launcher.
    bool open(const QString& path, std::function<void()> failed) override;
    // Through the file manager's ShowItems call; where no file manager
    // answers it, the folders holding the files are opened instead.
    void reveal(const QStringList& paths) override;

private:
    // Where the items panel was last used; it opens there next time.
    QString m_itemsFolder;
    // The questions open now, innermost last.
    QList<QPointer<QMessageBox>> m_questions;
};
