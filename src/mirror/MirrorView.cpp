#include "MirrorView.h"

#include "MirrorDisplayView.h"
#include "MirrorSession.h"
#include "MirrorSideRail.h"
#include "MirrorStatusOverlay.h"
#include "MirrorVideoSurface.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>

namespace {

// Takes all the room the rail leaves and centres the screen in it, fitted
// at the picture's aspect ratio, with the overlay over it at the same size.
class ScreenColumn : public QWidget {
public:
    ScreenColumn(MirrorSession& session, QWidget* screen, QWidget* overlay, QWidget* parent)
        : QWidget(parent), m_session(&session), m_screen(screen), m_overlay(overlay)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setMinimumSize(0, 0);
        screen->setParent(this);
        overlay->setParent(this);
        connect(&session, &MirrorSession::videoSizeChanged, this, &ScreenColumn::place);
        // The screen's help, over the picture and the status laid over it
        // alike: not over the bars beside a turned picture.
        static const QString help =
            QStringLiteral("Click to touch, drag to swipe, right-click for Back. Typing goes to the phone.");
        screen->setToolTip(help);
        overlay->setToolTip(help);
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }

private:
    void place()
    {
        const QSize video = m_session ? m_session->videoSize().toSize() : QSize();
        // An empty size fits to an empty rectangle: nothing is divided by zero.
        const QRect fitted = MirrorVideoSurface::fitted(video, size());
        m_screen->setGeometry(fitted);
        m_overlay->setGeometry(fitted);
    }

    QPointer<MirrorSession> m_session;
    QWidget* m_screen;
    QWidget* m_overlay;
};

} // namespace

MirrorView::MirrorView(MirrorSession& session, BrowserModel& model, QWidget* parent)
    : QWidget(parent),
      m_screen(new MirrorDisplayView(session)),
      m_overlay(new MirrorStatusOverlay(session)),
      m_rail(new MirrorSideRail(session, model))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addWidget(new ScreenColumn(session, m_screen, m_overlay, this), 1);
    layout->addWidget(m_rail);
    m_overlay->setScreen(m_screen);
    m_overlay->raise();
}

void MirrorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor ground(Qt::black);
    ground.setAlphaF(0.92f);
    painter.fillRect(rect(), ground);
}
