#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>

class DrawnAhead;

// A phone outline drawn from shapes (body, rim, screen, camera), with a
// symbol on a tinted gradient in place of a screen picture, and a soft
// shadow below it.
class PhoneFrame : public QWidget {
    Q_OBJECT
public:
    PhoneFrame(const QString& placeholderSymbol, int width, QWidget* parent = nullptr);
    ~PhoneFrame() override;

    // The outline's measures for a frame `width` wide.
    struct Geometry {
        QSizeF size;
        qreal cornerRadius;
        QRectF screen;
        qreal screenRadius;
        QPointF cameraCentre;
        qreal cameraDiameter;
    };
    static Geometry geometry(qreal width);

    // What the shadow adds around a frame's own rectangle `rect`.
    static QRectF withShadow(const QRectF& rect);

    // What a frame `width` wide looks like, shadow included but without its
    // symbol, covering withShadow() of its rectangle. Safe off the main thread.
    static QImage picture(int width, const QColor& body, const QColor& accent, qreal devicePixelRatio);

    // Draws the frame with its shadow onto a painter in the frame's own
    // coordinates.
    void paintFrame(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Appearance {
        QColor body;
        QColor accent;
        qreal devicePixelRatio = 1.0;
        bool operator==(const Appearance&) const = default;
    };
    Appearance lookNow(qreal devicePixelRatio) const;
    QColor symbolColor() const;
    int symbolSize() const;

    QString m_symbol;
    int m_width;
    Appearance m_pictureLook;
    QImage m_picture;
    Appearance m_aheadLook;
    std::unique_ptr<DrawnAhead> m_ahead;
};
