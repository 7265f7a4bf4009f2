#include "BrowserPane.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "DropOverlay.h"
#include "FileListView.h"
#include "Look.h"
#include "Spinner.h"
#include "WindowRules.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QStackedLayout>
#include <QVBoxLayout>

BrowserPane::BrowserPane(const Environment& env, QWidget* parent) : QWidget(parent), m_env(env)
{
    setObjectName(QStringLiteral("browser"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("browserBody"));
    // The listing's own background, also behind the loading and empty messages.
    m_body->setBackgroundRole(QPalette::Base);
    m_body->setAutoFillBackground(true);
    m_pages = new QStackedLayout(m_body);
    m_pages->setStackingMode(QStackedLayout::StackOne);

    m_loadingPage = new QWidget(m_body);
    auto* loading = new QVBoxLayout(m_loadingPage);
    m_spinner = new Spinner(m_loadingPage);
    loading->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_pages->addWidget(m_loadingPage);

    m_emptyPage = new QWidget(m_body);
    auto* empty = new QVBoxLayout(m_emptyPage);
    empty->setSpacing(8);
    empty->addStretch();
    m_emptySymbol = new QLabel(m_emptyPage);
    m_emptySymbol->setAlignment(Qt::AlignCenter);
    Accessibility::hide(m_emptySymbol);
    empty->addWidget(m_emptySymbol);
    m_emptyText = new QLabel(m_emptyPage);
    m_emptyText->setObjectName(QStringLiteral("emptyText"));
    m_emptyText->setAlignment(Qt::AlignCenter);
    // It quotes the search text as typed.
    m_emptyText->setTextFormat(Qt::PlainText);
    m_emptyText->setWordWrap(true);
    Look::setForeground(m_emptyText, Look::secondary(palette()));
    empty->addWidget(m_emptyText);
    m_dragHint = new QLabel(QStringLiteral("Drag files here from Finder to copy them to the phone."), m_emptyPage);
    m_dragHint->setObjectName(QStringLiteral("dragHint"));
    m_dragHint->setAlignment(Qt::AlignCenter);
    m_dragHint->setWordWrap(true);
    m_dragHint->setFont(Look::callout(font()));
    Look::setForeground(m_dragHint, Look::tertiary(palette()));
    empty->addWidget(m_dragHint);
    empty->addStretch();
    m_pages->addWidget(m_emptyPage);

    m_list = new FileListView(m_env, m_body);
    m_pages->addWidget(m_list);
    column->addWidget(m_body, 1);

    // Over the whole body, outside the page stack.
    m_overlay = new DropOverlay(m_body);
    m_overlay->hide();
    m_body->installEventFilter(this);
    // Files can be dropped only where something copies them.
    m_body->setAcceptDrops(bool(m_env.commands.handleDrop));

    BrowserModel* model = m_env.model;
    for (auto signal : {&BrowserModel::isLoadingChanged, &BrowserModel::entriesChanged,
                        &BrowserModel::visibleEntriesChanged, &BrowserModel::searchTextChanged})
        connect(model, signal, this, &BrowserPane::update);
    update();
}

BrowserPane::Body BrowserPane::body() const
{
    if (m_pages->currentWidget() == m_loadingPage)
        return Body::loading;
    if (m_pages->currentWidget() == m_emptyPage)
        return Body::empty;
    return Body::listing;
}

QString BrowserPane::emptyText() const
{
    return m_emptyText->text();
}

bool BrowserPane::showsDragHint() const
{
    return !m_dragHint->isHidden();
}

void BrowserPane::update()
{
    const BrowserModel* model = m_env.model;
    if (model->isLoading() && model->entries().isEmpty()) {
        m_pages->setCurrentWidget(m_loadingPage);
        return;
    }
    if (model->visibleEntries().isEmpty()) {
        const QString& search = model->searchText();
        const QString symbol = search.isEmpty() ? QStringLiteral("tray") : QStringLiteral("magnifyingglass");
        m_emptySymbol->setPixmap(Look::symbol(symbol, 30, Look::tertiary(palette()), devicePixelRatioF()));
        m_emptyText->setText(search.isEmpty() ? QStringLiteral("This folder is empty")
                                              : QStringLiteral("No items match “") + search + QStringLiteral("”"));
        m_dragHint->setHidden(!search.isEmpty());
        m_pages->setCurrentWidget(m_emptyPage);
        return;
    }
    m_pages->setCurrentWidget(m_list);
}

void BrowserPane::setDropTargeted(bool targeted)
{
    if (targeted) {
        m_overlay->setFolder(WindowRules::currentFolderName(m_env.model->pathComponents()));
        m_overlay->setGeometry(m_body->rect());
        m_overlay->raise();
    }
    m_overlay->setVisible(targeted);
}

bool BrowserPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_body)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        m_overlay->setGeometry(m_body->rect());
        break;
    case QEvent::DragEnter: {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (drag->mimeData()->hasUrls() && m_env.commands.handleDrop) {
            drag->acceptProposedAction();
            setDropTargeted(true);
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragMove:
        static_cast<QDragMoveEvent*>(event)->acceptProposedAction();
        return true;
    case QEvent::DragLeave:
        setDropTargeted(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        setDropTargeted(false);
        const QList<QUrl> files = WindowRules::fileUrls(drop->mimeData()->urls());
        if (files.isEmpty() || !m_env.commands.handleDrop) {
            drop->ignore();
            return true;
        }
        m_env.commands.handleDrop(files, std::nullopt);
        drop->acceptProposedAction();
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
