#include "ItemsPanel.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

QString nearestExistingFolder(const QString& folder)
{
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return QDir::homePath();
    QString path = QDir::cleanPath(folder);
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return QDir::homePath();
        path = parent;
    }
    return path;
}

ItemsPanel::ItemsPanel(const QString& message, const QString& prompt, const QString& folder, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(message);
    resize(640, 440);
    auto* column = new QVBoxLayout(this);
    auto* text = new QLabel(message, this);
    text->setTextFormat(Qt::PlainText);
    if (message.isEmpty())
        text->hide();
    column->addWidget(text);

    auto* placeRow = new QHBoxLayout;
    m_up = new QToolButton(this);
    m_up->setObjectName(QStringLiteral("enclosingFolder"));
    m_up->setText(QStringLiteral("Enclosing Folder"));
    m_up->setToolButtonStyle(Qt::ToolButtonTextOnly);
    placeRow->addWidget(m_up);
    m_place = new QLabel(this);
    m_place->setObjectName(QStringLiteral("folder"));
    // A folder's name is the user's text, never markup.
    m_place->setTextFormat(Qt::PlainText);
    placeRow->addWidget(m_place, 1);
    column->addLayout(placeRow);

    m_files = new QFileSystemModel(this);
    m_files->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("items"));
    m_view->setModel(m_files);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(0, Qt::AscendingOrder);
    m_view->setExpandsOnDoubleClick(false);
    m_view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    column->addWidget(m_view, 1);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Cancel);
    // Without a prompt the button keeps the platform's own wording.
    m_accept = prompt.isEmpty() ? buttons->addButton(QDialogButtonBox::Open)
                                : buttons->addButton(prompt, QDialogButtonBox::AcceptRole);
    m_accept->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    // Only what the user chose may be copied: nothing is chosen for them.
    auto follow = [this] { m_accept->setEnabled(m_view->selectionModel()->hasSelection()); };
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, follow);
    connect(m_up, &QToolButton::clicked, this, [this] { showFolder(QFileInfo(this->folder()).path()); });
    connect(m_view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (m_files->isDir(index))
            showFolder(m_files->filePath(index));
    });
    m_view->installEventFilter(this);
    showFolder(nearestExistingFolder(folder));
    follow();
    // Arrows and typing choose items at once, as in any file chooser.
    m_view->setFocus();
}

bool ItemsPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_view || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    // The one folder chosen, or the folder under the keyboard's ring when
    // nothing is chosen.
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    QModelIndex target;
    if (rows.size() == 1)
        target = rows.first();
    else if (rows.isEmpty())
        target = m_view->currentIndex();
    if (!target.isValid() || !m_files->isDir(target))
        return false;
    showFolder(m_files->filePath(target));
    return true;
}

QString ItemsPanel::folder() const
{
    return m_files->filePath(m_view->rootIndex());
}

void ItemsPanel::showFolder(const QString& folder)
{
    const QString shown = nearestExistingFolder(folder);
    m_files->setRootPath(shown);
    m_view->clearSelection();
    m_view->setRootIndex(m_files->index(shown));
    m_view->setCurrentIndex(QModelIndex());
    m_view->scrollToTop();
    m_place->setText(QDir::toNativeSeparators(shown));
    m_up->setEnabled(!QDir(shown).isRoot());
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
