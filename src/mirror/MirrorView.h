#pragma once

#include <QWidget>

class BrowserModel;
class MirrorDisplayView;
class MirrorSession;
class MirrorSideRail;
class MirrorStatusOverlay;

// One session's screen, kept at the picture's aspect ratio with the status
// overlay over it, beside the side rail, on a nearly black ground.
class MirrorView : public QWidget {
    Q_OBJECT
public:
    // Both must outlive the view.
    MirrorView(MirrorSession& session, BrowserModel& model, QWidget* parent = nullptr);

    MirrorDisplayView* screen() const { return m_screen; }
    MirrorStatusOverlay* overlay() const { return m_overlay; }
    MirrorSideRail* rail() const { return m_rail; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MirrorDisplayView* m_screen;
    MirrorStatusOverlay* m_overlay;
    MirrorSideRail* m_rail;
};
