#include "BrowserPane.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "DropOverlay.h"
#include "FileGridView.h"
#include "FileListView.h"
#include "Glass.h"
#include "Motion.h"
#include "FileDrag.h"
#include "PathBar.h"
#include "StatusBar.h"
#include "Look.h"
#include "Spinner.h"
#include "TransferHUD.h"
#include "WindowRules.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QVariantAnimation>

#include <algorithm>
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

    m_pathBar = new PathBar(m_env.model, this);
    column->addWidget(m_pathBar);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    Accessibility::hide(divider);
    column->addWidget(divider);

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
    m_dragHint = new QLabel(QStringLiteral("Drag files here from the file manager to copy them to the phone."), m_emptyPage);
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
    m_grid = new FileGridView(m_env, m_body);
    m_pages->addWidget(m_grid);
    // The grid takes the whole drag itself; the overlay shows while a drop
    // there would go into the folder shown.
    connect(m_grid, &FileGridView::currentFolderTargeted, this, &BrowserPane::setDropTargeted);
    column->addWidget(m_body, 1);
    m_statusBar = new StatusBar(m_env.model, this);
    column->addWidget(m_statusBar);

    // Over the whole body, outside the page stack; it fades in and out.
    m_overlay = new DropOverlay(m_body);
    m_overlay->hide();
    m_body->installEventFilter(this);
    m_body->setAcceptDrops(true);
    m_overlayFade = new QVariantAnimation(this);
    m_overlayFade->setObjectName(QStringLiteral("overlayFade"));
    m_overlayFade->setDuration(200);
    m_overlayFade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_overlayFade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { m_overlay->setOpacity(value.toDouble()); });
    connect(m_overlayFade, &QAbstractAnimation::finished, this, [this] {
        if (!m_dropTargeted)
            m_overlay->hide();
    });

    // Floats 14 pt above the bottom of the listing; it comes up from the
    // bottom edge fading in, and leaves the same way, on a spring.
    m_hud = new TransferHUD(m_env.model, m_body);
    m_hud->hide();
    m_hudMotion = new QVariantAnimation(this);
    m_hudMotion->setObjectName(QStringLiteral("hudMotion"));
    m_hudMotion->setStartValue(0.0);
    m_hudMotion->setEndValue(1.0);
    m_hudMotion->setDuration(Motion::springMilliseconds(hudResponse, hudDamping));
    connect(m_hudMotion, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { stepHUD(value.toDouble()); });
    connect(m_hudMotion, &QAbstractAnimation::finished, this, [this] {
        if (m_hudShown) {
            m_hud->surface()->setOpacity(1);
            placeHUD();
        } else {
            m_hud->hide();
        }
    });

    BrowserModel* model = m_env.model;
    connect(model, &BrowserModel::jobChanged, this, &BrowserPane::followJob);
    for (auto signal : {&BrowserModel::isLoadingChanged, &BrowserModel::entriesChanged,
                        &BrowserModel::visibleEntriesChanged, &BrowserModel::searchTextChanged,
                        &BrowserModel::viewModeChanged})
        connect(model, signal, this, &BrowserPane::update);
    update();
    followJob();
}

BrowserPane::Body BrowserPane::body() const
{
    if (m_pages->currentWidget() == m_loadingPage)
        return Body::loading;
    if (m_pages->currentWidget() == m_emptyPage)
        return Body::empty;
    if (m_pages->currentWidget() == m_grid)
        return Body::grid;
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
        keepOnTop();
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
        keepOnTop();
        return;
    }
    m_pages->setCurrentWidget(model->viewMode() == ViewMode::grid ? static_cast<QWidget*>(m_grid)
                                                                  : static_cast<QWidget*>(m_list));
    keepOnTop();
}

void BrowserPane::keepOnTop()
{
    // Switching pages raises the page; the capsule and the overlay stay above it.
    m_hud->raise();
    if (m_overlay->isVisible())
        m_overlay->raise();
}

void BrowserPane::followJob()
{
    const std::optional<Job>& job = m_env.model->job();
    if (job)
        m_hud->setJob(*job);
    else
        m_hud->clearJob();
    // Only a job starting or ending moves the capsule, not each progress step.
    if (job.has_value() == m_hudShown) {
        if (m_hudShown && m_hudMotion->state() != QAbstractAnimation::Running)
            placeHUD();
        return;
    }
    m_hudShown = job.has_value();
    m_hudMotion->stop();
    m_hud->adjustSize();
    const QPoint rest((m_body->width() - m_hud->width()) / 2, m_body->height() - m_hud->height() - 14);
    const QPoint below(rest.x(), m_body->height());
    if (Motion::reduced()) {
        m_hud->surface()->setOpacity(1);
        m_hud->move(rest);
        m_hud->setVisible(m_hudShown);
        if (m_hudShown)
            m_hud->raise();
        return;
    }
    if (m_hudShown && m_hud->isHidden()) {
        m_hud->move(below);
        m_hud->surface()->setOpacity(0);
        m_hud->show();
        m_hud->raise();
    }
    // From wherever it is, so a job that ends while the capsule comes in
    // turns it round.
    m_hudPath = {m_hud->pos(), m_hudShown ? rest : below, m_hud->surface()->opacity(), m_hudShown ? 1.0 : 0.0};
    m_hudMotion->start();
}

void BrowserPane::stepHUD(double progress)
{
    const double seconds = progress * m_hudMotion->duration() / 1000.0;
    const double travelled = Motion::spring(seconds, hudResponse, hudDamping);
    const QPointF from(m_hudPath.from), to(m_hudPath.to);
    m_hud->move((from + (to - from) * travelled).toPoint());
    m_hud->surface()->setOpacity(
        std::clamp(m_hudPath.fromOpacity + (m_hudPath.toOpacity - m_hudPath.fromOpacity) * travelled, 0.0, 1.0));
}

void BrowserPane::placeHUD()
{
    m_hud->adjustSize();
    m_hud->move((m_body->width() - m_hud->width()) / 2, m_body->height() - m_hud->height() - 14);
}

void BrowserPane::setDropTargeted(bool targeted)
{
    if (targeted) {
        m_overlay->setFolder(WindowRules::currentFolderName(m_env.model->pathComponents()));
        m_overlay->setGeometry(m_body->rect());
    }
    if (targeted == m_dropTargeted)
        return;
    m_dropTargeted = targeted;
    m_overlayFade->stop();
    if (Motion::reduced()) {
        m_overlay->setOpacity(1);
        m_overlay->setVisible(targeted);
        if (targeted)
            m_overlay->raise();
        return;
    }
    if (targeted) {
        if (m_overlay->isHidden())
            m_overlay->setOpacity(0);
        m_overlay->show();
        m_overlay->raise();
    }
    m_overlayFade->setStartValue(m_overlay->opacity());
    m_overlayFade->setEndValue(targeted ? 1.0 : 0.0);
    m_overlayFade->start();
}

bool BrowserPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_body)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        m_overlay->setGeometry(m_body->rect());
        if (m_hudShown && m_hudMotion->state() != QAbstractAnimation::Running)
            placeHUD();
        break;
    case QEvent::DragEnter:
        setDropTargeted(m_drag.enter(static_cast<QDragEnterEvent*>(event), m_env.model));
        return true;
    case QEvent::DragMove:
        // Taken again once a job is over: the overlay says so again.
        setDropTargeted(m_drag.move(static_cast<QDragMoveEvent*>(event), m_env.model));
        return true;
    case QEvent::DragLeave:
        m_drag.leave();
        setDropTargeted(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        setDropTargeted(false);
        const std::optional<QList<QUrl>> files = m_drag.drop(drop, m_env.model);
        if (!files)
            return true;
        if (files->isEmpty()) {
            drop->ignore();
            return true;
        }
        // After the drop has ended: the copy may ask a question first, and
        // the sending application waits for the drop's answer. It goes to
        // the folder shown at the drop.
        if (const std::optional<BrowserModel::Shown> asked = m_env.model->shown()) {
            QMetaObject::invokeMethod(
                m_env.model,
                [model = m_env.model, asked = *asked, files = *files] { model->handleDrop(asked, files, std::nullopt); },
                Qt::QueuedConnection);
        }
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
