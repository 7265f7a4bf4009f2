#pragma once

#include <QTimer>
#include <QWidget>

class MirrorVideoSurface;

// Paints the newest picture of a video surface fitted on black; after a
// resize the picture is converted again at the new size. The surface must
// outlive the widget.
class MirrorVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit MirrorVideoWidget(MirrorVideoSurface& surface, QWidget* parent = nullptr);
    ~MirrorVideoWidget() override;

    // Rounds the corners of the black area and the picture; 0: square.
    void setCornerRadius(qreal radius);
    qreal cornerRadius() const { return m_cornerRadius; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateViewSize();

    MirrorVideoSurface& m_surface;
    QSize m_viewSize;
    // A still picture is converted again once a resize has come to rest,
    // not at each of its steps.
    QTimer m_redraw;
    qreal m_cornerRadius = 0;
};
