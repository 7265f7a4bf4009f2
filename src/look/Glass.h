#pragma once

#include <QWidget>

class QAbstractButton;
class QPainter;
class QPainterPath;

// The shared floating-panel look: a translucent fill of the shape, a faint
// white hairline around it and a soft shadow below.
class GlassSurface : public QWidget {
    Q_OBJECT
public:
    enum class Shape { capsule, circle, roundedRectangle };

    // `interactive` is kept for the callers' sake; this look has no
    // interactive variant, so it changes nothing.
    explicit GlassSurface(Shape shape, qreal radius = 0, bool interactive = false, QWidget* parent = nullptr);

    Shape shape() const { return m_shape; }
    qreal radius() const { return m_radius; }
    bool isInteractive() const { return m_interactive; }

    // The surface, its shadow and everything on it drawn at `opacity`: the
    // way to fade glass, since Qt draws no graphics effect inside another.
    void setOpacity(qreal opacity);
    qreal opacity() const;

    // The shadow is drawn in the surface's parent and cut off at the
    // parent's edge. A surface that fills a hard-edged box (a wrapper, a
    // composite with a badge) casts it from that box instead, which must
    // lie in a parent with room for it; setOpacity() then fades the box.
    void castShadowFrom(QWidget* box);

    // The outline of the shape inside `rect`.
    static QPainterPath outline(Shape shape, const QRectF& rect, qreal radius);
    // The surface's fill and hairline along `path`, for views that draw
    // their glass themselves.
    static void paint(QPainter& painter, const QPainterPath& path, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* shadowHolder() const;

    Shape m_shape;
    qreal m_radius;
    bool m_interactive;
    QWidget* m_shadowBox = nullptr;
};

// A square glass tile filled with the accent colour fading downwards to
// `fadedAlpha`, with a white symbol of 22 points in its middle.
class AccentTile : public GlassSurface {
public:
    AccentTile(const QString& symbol, int side, qreal radius, qreal fadedAlpha, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    qreal m_fadedAlpha;
};

// Gives a button the bordered look, or the accent-filled prominent look.
void glassButton(QAbstractButton* button, bool prominent);
