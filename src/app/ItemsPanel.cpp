#include "ItemsPanel.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

ItemsPanel::ItemsPanel(const QString& message, const QString& prompt, const QString& folder, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(message);
    resize(640, 440);
    auto* column = new QVBoxLayout(this);
    auto* text = new QLabel(message, this);
    text->setTextFormat(Qt::PlainText);
    column->addWidget(text);

    m_files = new QFileSystemModel(this);
    m_files->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
    m_files->setRootPath(QDir::rootPath());
    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("items"));
    m_view->setModel(m_files);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(0, Qt::AscendingOrder);
    m_view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    const QString start = folder.isEmpty() ? QDir::homePath() : folder;
    const QModelIndex startIndex = m_files->index(start);
    m_view->setCurrentIndex(startIndex);
    m_view->expand(startIndex);
    m_view->scrollTo(startIndex, QAbstractItemView::PositionAtTop);
    column->addWidget(m_view, 1);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Cancel);
    m_accept = buttons->addButton(prompt, QDialogButtonBox::AcceptRole);
    m_accept->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    auto follow = [this] { m_accept->setEnabled(m_view->selectionModel()->hasSelection()); };
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, follow);
    follow();
}

QStringList ItemsPanel::chosen() const
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [this](const QModelIndex& a, const QModelIndex& b) {
        return m_view->visualRect(a).top() < m_view->visualRect(b).top();
    });
    QStringList paths;
    for (const QModelIndex& row : std::as_const(rows))
        paths.append(m_files->filePath(row));
    return paths;
}
