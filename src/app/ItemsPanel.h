#pragma once

#include <QDialog>
#include <QStringList>

class LocalItemsModel;
class QLabel;
class QPushButton;
class QToolButton;
class QTreeView;

// Picks files and folders together, several at once; the standard file
// dialog chooses either files or one folder, not both. It shows one folder's
// contents, with nothing chosen: the accept button waits for a choice.
class ItemsPanel : public QDialog {
    Q_OBJECT
public:
    // Opens in `folder`, or the home folder when that is empty or missing.
    ItemsPanel(const QString& message, const QString& prompt, const QString& folder, QWidget* parent = nullptr);

    // The chosen items in the order they are listed, by their exact names
    // (a name that isn't UTF-8 as paths::text() carries it).
    QStringList chosen() const;
    // The folder whose contents are shown.
    QString folder() const;
    // Shows another folder's contents; nothing stays chosen.
    void showFolder(const QString& folder);

    QTreeView* view() const { return m_view; }
    LocalItemsModel* items() const { return m_items; }
    QPushButton* acceptButton() const { return m_accept; }
    QToolButton* upButton() const { return m_up; }

protected:
    // Return on a folder opens it, as a double-click does; the accept
    // button alone copies a chosen folder.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    LocalItemsModel* m_items;
    QTreeView* m_view;
    QLabel* m_place;
    QToolButton* m_up;
    QPushButton* m_accept;
};

// The folder itself when it exists, else the closest folder above it that
// does, else the home folder. Paths in paths::text() form.
QString nearestExistingFolder(const QString& folder);
