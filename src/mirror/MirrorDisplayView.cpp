#include "MirrorDisplayView.h"

#include "Accessibility.h"
#include "AndroidKey.h"
#include "MirrorFrameSink.h"
#include "MirrorSession.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

MirrorDisplayView::MirrorDisplayView(MirrorSession& session, QWidget* parent)
    : MirrorVideoWidget(session.sink().layer(), parent), m_session(&session)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    Accessibility::setName(this, QStringLiteral("Screen of ") + session.name(), {});
    setAttribute(Qt::WA_InputMethodEnabled);
}

QPointF MirrorDisplayView::videoPoint(QPointF position, QSizeF view, QSizeF video)
{
    if (!(view.width() > 0) || !(view.height() > 0))
        return {0, 0};
    auto axis = [](qreal at, qreal extent, qreal size) {
        const qreal ratio = at / extent;
        return (ratio > 0 ? std::min(ratio, 1.0) : 0.0) * size;
    };
    return {axis(position.x(), view.width(), video.width()), axis(position.y(), view.height(), video.height())};
}

bool MirrorDisplayView::isTypable(const QString& text)
{
    if (text.isEmpty())
        return false;
    const QList<uint> scalars = text.toUcs4();
    return std::none_of(scalars.begin(), scalars.end(), [](uint scalar) {
        const QChar::Category category = QChar::category(char32_t(scalar));
        return category == QChar::Other_Control || category == QChar::Other_Format;
    });
}

QPointF MirrorDisplayView::phonePoint(QPointF position) const
{
    return videoPoint(position, QSizeF(size()), m_session ? m_session->videoSize() : QSizeF(0, 0));
}

void MirrorDisplayView::resizeEvent(QResizeEvent* event)
{
    MirrorVideoWidget::resizeEvent(event);
    setCornerRadius(0.06 * width());
}

// ---- focus ---------------------------------------------------------------------

void MirrorDisplayView::showEvent(QShowEvent* event)
{
    MirrorVideoWidget::showEvent(event);
    QWidget* top = window();
    if (top != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = top;
        top->installEventFilter(this);
    }
    QTimer::singleShot(0, this, &MirrorDisplayView::focusStep);
}

bool MirrorDisplayView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowActivate)
        focusStep();
    return MirrorVideoWidget::eventFilter(watched, event);
}

void MirrorDisplayView::focusStep()
{
    QWidget* top = window();
    QWidget* holder = top->focusWidget();
    if (isVisible() && (!holder || holder == top))
        setFocus(Qt::ActiveWindowFocusReason);
}

bool MirrorDisplayView::focusNextPrevChild(bool)
{
    return false; // Tab and Shift+Tab go to the phone
}

// ---- pointer -------------------------------------------------------------------

void MirrorDisplayView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        if (m_session)
            m_session->touch(ControlMessage::TouchAction::down, phonePoint(event->position()));
    } else if (event->button() == Qt::RightButton) {
        if (m_session)
            m_session->press(4); // Back
    }
}

void MirrorDisplayView::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && m_session)
        m_session->touch(ControlMessage::TouchAction::move, phonePoint(event->position()));
}

void MirrorDisplayView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_session)
        m_session->touch(ControlMessage::TouchAction::up, phonePoint(event->position()));
}

void MirrorDisplayView::wheelEvent(QWheelEvent* event)
{
    if (!m_session || width() <= 0)
        return;
    const QPointF amounts = scrollAmounts(event->pixelDelta(), event->angleDelta(), width(), m_session->videoSize().width());
    m_session->scroll(phonePoint(event->position()), amounts.x(), amounts.y());
}

QPointF MirrorDisplayView::scrollAmounts(QPoint pixelDelta, QPoint angleDelta, qreal viewWidth, qreal videoWidth)
{
    if (!(viewWidth > 0))
        return {0, 0};
    double dx, dy;
    if (!pixelDelta.isNull()) {
        // Precise deltas are in the view's pixels; the phone scrolls by its own.
        const double factor = videoWidth / viewWidth;
        dx = pixelDelta.x() * factor / 150;
        dy = pixelDelta.y() * factor / 150;
    } else {
        dx = angleDelta.x() / 120.0;
        dy = angleDelta.y() / 120.0;
    }
    return {-dx, dy};
}

// ---- keys and text -------------------------------------------------------------

bool MirrorDisplayView::event(QEvent* event)
{
    // Keys without Ctrl, and Paste, are the phone's: no shortcut may take them.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Paste) || !(key->modifiers() & Qt::ControlModifier)) {
            event->accept();
            return true;
        }
    }
    return MirrorVideoWidget::event(event);
}

void MirrorDisplayView::keyPressEvent(QKeyEvent* event)
{
    if (!m_session)
        return; // swallowed
    if (event->matches(QKeySequence::Paste)) {
        paste();
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        // Tab is the phone's; Ctrl+Tab leaves the screen, as in a text editor.
        if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
            const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
            MirrorVideoWidget::focusNextPrevChild(!back);
            return;
        }
        event->ignore(); // the window's shortcuts
        return;
    }
    if (const std::optional<qint32> code = AndroidKey::code(event->key())) {
        m_session->press(*code);
        return;
    }
    type(event->text());
}

void MirrorDisplayView::inputMethodEvent(QInputMethodEvent* event)
{
    type(event->commitString());
    event->accept();
}

QVariant MirrorDisplayView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return QRect(width() / 2, height() / 2, 1, 1);
    default:
        return MirrorVideoWidget::inputMethodQuery(query);
    }
}

void MirrorDisplayView::type(const QString& text)
{
    if (m_session && isTypable(text))
        m_session->type(text);
}

void MirrorDisplayView::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (m_session && !text.isEmpty())
        m_session->paste(text);
}
