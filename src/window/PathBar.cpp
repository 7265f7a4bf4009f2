#include "PathBar.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "Look.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>

namespace {

constexpr int driveSize = 12;
constexpr int spacing = 4;
constexpr QMargins inset(6, 3, 6, 3);

} // namespace

PathSegment::PathSegment(BrowserModel* model, const PathComponent& component, bool first, bool current,
                         QWidget* parent)
    : QAbstractButton(parent), m_model(model), m_component(component), m_first(first), m_current(current)
{
    setObjectName(component.path);
    // The folder's name as it is: "&" is no mnemonic here.
    setText(QString(component.name).replace(QLatin1Char('&'), QStringLiteral("&&")));
    Accessibility::setName(this, {}, component.name);
    setFont(Look::callout(font()));
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setAcceptDrops(true);
    connect(this, &QAbstractButton::clicked, this,
            [this] { m_model->navigate(m_component.path, true); });
}

QSize PathSegment::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(m_component.name);
    if (m_first)
        width += driveSize + spacing;
    return QSize(width + inset.left() + inset.right(), metrics.height() + inset.top() + inset.bottom());
}

void PathSegment::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_current) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Look::quaternaryFill(palette()));
        painter.drawRoundedRect(QRectF(rect()), 5, 5);
    }
    const QColor ink = m_current ? palette().color(QPalette::WindowText) : Look::secondary(palette());
    QRect area = rect().marginsRemoved(inset);
    if (m_first) {
        const QPixmap drive = Look::symbol(QStringLiteral("internaldrive"), driveSize, ink, devicePixelRatioF());
        painter.drawPixmap(area.left(), area.top() + (area.height() - driveSize) / 2, drive);
        area.setLeft(area.left() + driveSize + spacing);
    }
    painter.setPen(ink);
    painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, m_component.name);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
    }
}

void PathSegment::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    // Tab from outside the bar comes in at either end, which a long path
    // may have scrolled away.
    for (QWidget* up = parentWidget(); up; up = up->parentWidget()) {
        if (auto* bar = qobject_cast<PathBar*>(up)) {
            bar->ensureWidgetVisible(this, 12, 0);
            break;
        }
    }
}

// The folder shown takes its drops in the pane below.
void PathSegment::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_current) {
        event->ignore();
        return;
    }
    m_drag.enter(event, m_model);
}

void PathSegment::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_current) {
        event->ignore();
        return;
    }
    m_drag.move(event, m_model);
}

void PathSegment::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_drag.leave();
    QAbstractButton::dragLeaveEvent(event);
}

void PathSegment::dropEvent(QDropEvent* event)
{
    if (m_current) {
        event->ignore();
        return;
    }
    const std::optional<QList<QUrl>> files = m_drag.drop(event, m_model);
    if (!files)
        return;
    const std::optional<BrowserModel::Shown> asked = m_model->shown();
    if (!asked)
        return;
    // After the drop has ended: the model may ask a question first. The
    // folder is of the phone shown at the drop.
    QMetaObject::invokeMethod(
        m_model,
        [model = m_model, asked = *asked, files = *files, folder = m_component.path] { model->handleDrop(asked, files, folder); },
        Qt::QueuedConnection);
}

PathBar::PathBar(BrowserModel* model, QWidget* parent) : QScrollArea(parent), m_model(model)
{
    setObjectName(QStringLiteral("pathBar"));
    setFrameShape(QFrame::NoFrame);
    // Its segments take the keyboard, not the strip that holds them.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    m_row = new QWidget(this);
    m_row->setObjectName(QStringLiteral("pathRow"));
    m_layout = new QHBoxLayout(m_row);
    m_layout->setContentsMargins(12, 7, 12, 7);
    m_layout->setSpacing(2);
    setWidget(m_row);
    const QFontMetrics metrics(Look::callout(font()));
    setFixedHeight(metrics.height() + 6 + 14);
    connect(model, &BrowserModel::pathChanged, this, &PathBar::rebuild);
    rebuild();
}

QList<PathSegment*> PathBar::segments() const
{
    return m_row->findChildren<PathSegment*>(QString(), Qt::FindDirectChildrenOnly);
}

int PathBar::chevronCount() const
{
    return int(m_row->findChildren<QLabel*>(QStringLiteral("chevron"), Qt::FindDirectChildrenOnly).size());
}

void PathBar::rebuild()
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<PathComponent> components = m_model->pathComponents();
    const QColor tertiary = Look::tertiary(palette());
    for (qsizetype index = 0; index < components.size(); ++index) {
        if (index > 0) {
            auto* chevron = new QLabel(m_row);
            chevron->setObjectName(QStringLiteral("chevron"));
            chevron->setPixmap(Look::symbol(QStringLiteral("chevron.compact.right"), 10, tertiary, devicePixelRatioF()));
            Accessibility::hide(chevron);
            m_layout->addWidget(chevron, 0, Qt::AlignVCenter);
        }
        m_layout->addWidget(
            new PathSegment(m_model, components[index], index == 0, index == components.size() - 1, m_row), 0,
            Qt::AlignVCenter);
    }
    m_layout->addStretch(1);
    // The folder shown stays in sight.
    QMetaObject::invokeMethod(
        this, [this] { horizontalScrollBar()->setValue(horizontalScrollBar()->maximum()); }, Qt::QueuedConnection);
}
