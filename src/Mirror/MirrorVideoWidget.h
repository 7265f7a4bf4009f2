#pragma once

#include <QWidget>

class MirrorVideoSurface;

// Paints the newest picture of a video surface fitted on black. The surface
// must outlive the widget.
class MirrorVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit MirrorVideoWidget(MirrorVideoSurface& surface, QWidget* parent = nullptr);
    ~MirrorVideoWidget() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateViewSize();

    MirrorVideoSurface& m_surface;
};
