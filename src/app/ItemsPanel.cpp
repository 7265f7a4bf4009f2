#include "ItemsPanel.h"

#include "LocalItemsModel.h"
#include "Look.h"
#include "Paths.h"

#include <QDialogButtonBox>
#include <QDir>
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

namespace {

QString enclosing(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

QString nearestExistingFolder(const QString& folder)
{
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return QDir::homePath();
    QString path = QDir::cleanPath(folder);
    // By bytes: a folder whose name isn't UTF-8 is there too.
    while (paths::kindOf(path, true) != paths::Kind::folder) {
        if (path == QStringLiteral("/"))
            return QDir::homePath();
        path = enclosing(path);
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

    m_items = new LocalItemsModel(this);
    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("items"));
    m_view->setModel(m_items);
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(0, Qt::AscendingOrder);
    m_view->setExpandsOnDoubleClick(false);
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setSectionResizeMode(LocalItemsModel::name, QHeaderView::Stretch);
    m_view->header()->resizeSection(
        LocalItemsModel::modified,
        m_view->fontMetrics().horizontalAdvance(Look::modifiedText(QDateTime(QDate(2024, 12, 28), QTime(22, 58)))) + 24);
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
    connect(m_up, &QToolButton::clicked, this, [this] { showFolder(enclosing(this->folder())); });
    connect(m_view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (m_items->isDir(index))
            showFolder(m_items->filePath(index));
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
    if (!target.isValid() || !m_items->isDir(target))
        return false;
    showFolder(m_items->filePath(target));
    return true;
}

QString ItemsPanel::folder() const
{
    return m_items->folder();
}

void ItemsPanel::showFolder(const QString& folder)
{
    const QString shown = nearestExistingFolder(folder);
    m_items->setFolder(shown);
    m_view->clearSelection();
    m_view->setCurrentIndex(QModelIndex());
    m_view->scrollToTop();
    m_place->setText(paths::shown(shown));
    m_up->setEnabled(shown != QStringLiteral("/"));
}

QStringList ItemsPanel::chosen() const
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    // The model holds the rows in the order shown.
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList chosen;
    for (const QModelIndex& row : std::as_const(rows))
        chosen.append(m_items->filePath(row));
    return chosen;
}
