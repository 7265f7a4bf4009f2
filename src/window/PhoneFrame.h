#pragma once

#include <QString>
#include <QWidget>

// A phone outline drawn from shapes (body, rim, screen, camera), with a
// symbol on a tinted gradient in place of a screen picture.
class PhoneFrame : public QWidget {
    Q_OBJECT
public:
    PhoneFrame(const QString& placeholderSymbol, int width, QWidget* parent = nullptr);


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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    int m_width;
};
