#pragma once

#include <QDialog>
#include <QStringList>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

// Picks files and folders together, several at once; the standard file
// dialog chooses either files or one folder, not both.
class ItemsPanel : public QDialog {
    Q_OBJECT
public:
    ItemsPanel(const QString& message, const QString& prompt, const QString& folder, QWidget* parent = nullptr);

    // The chosen items in the order they are listed.
    QStringList chosen() const;
    QTreeView* view() const { return m_view; }
    QPushButton* acceptButton() const { return m_accept; }

private:
    QFileSystemModel* m_files;
    QTreeView* m_view;
    QPushButton* m_accept;
};
