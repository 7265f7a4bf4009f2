#pragma once

#include "MirrorVideoWidget.h"

#include <QPointer>
#include <QSizeF>

class MirrorSession;

// The mirrored screen: shows the session's pictures with rounded corners
// and turns the mouse, wheel, keys, typed text and Paste into the phone's
// touches, scrolls, keys and text.
class MirrorDisplayView : public MirrorVideoWidget {
    Q_OBJECT
public:
    // Shows `session`'s pictures; the session must outlive the view.
    explicit MirrorDisplayView(MirrorSession& session, QWidget* parent = nullptr);

    MirrorSession* session() const { return m_session; }

    // A point of a `view`-sized view in the video's pixels, clamped to the
    // picture; (0, 0) for an empty view.
    static QPointF videoPoint(QPointF position, QSizeF view, QSizeF video);
    // The phone's scroll amounts (horizontal, vertical) for a wheel's deltas:
    // precise pixel deltas are scaled by the video's width over the view's,
    // wheel steps are counted. Positive: away from the user, to the right.
    static QPointF scrollAmounts(QPoint pixelDelta, QPoint angleDelta, qreal viewWidth, qreal videoWidth);
    // Whether text may be typed on the phone: not empty, and no control or
    // format characters (Ctrl+A's, for one).
    static bool isTypable(const QString& text);

    // The Paste command: the clipboard's text goes to the phone's clipboard
    // and is pasted there.
    void paste();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool focusNextPrevChild(bool next) override;

private:
    QPointF phonePoint(QPointF position) const;
    void type(const QString& text);
    // Takes the focus unless another control of the window holds it.
    void focusStep();

    QPointer<MirrorSession> m_session;
    QPointer<QWidget> m_watchedWindow;
};
