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

    explicit GlassSurface(Shape shape, qreal radius = 0, bool interactive = false, QWidget* parent = nullptr);

    Shape shape() const { return m_shape; }
    qreal radius() const { return m_radius; }
    bool isInteractive() const { return m_interactive; }

    // The outline of the shape inside `rect`.
    static QPainterPath outline(Shape shape, const QRectF& rect, qreal radius);
    // The surface's fill and hairline along `path`, for views that draw
    // their glass themselves (brighter while hovered, when interactive).
    static void paint(QPainter& painter, const QPainterPath& path, const QPalette& palette, bool hovered);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Shape m_shape;
    qreal m_radius;
    bool m_interactive;
    bool m_hovered = false;
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
