#include "MirrorStatusOverlay.h"

#include "Accessibility.h"
#include "Glass.h"
#include "Look.h"
#include "MirrorLook.h"
#include "MirrorSession.h"
#include "Spinner.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QWidget* column(QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(12);
    layout->setAlignment(Qt::AlignCenter);
    return page;
}

QLabel* centredText(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    label->setFont(Look::callout(label->font()));
    Look::setForeground(label, MirrorLook::white(0.8));
    return label;
}

} // namespace

MirrorStatusOverlay::MirrorStatusOverlay(MirrorSession& session, QWidget* parent)
    : QWidget(parent), m_session(&session), m_pages(new QStackedWidget(this))
{
    setPalette(MirrorLook::darkPalette(palette()));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 0, Qt::AlignCenter);

    QWidget* connecting = column(m_pages);
    auto* spinner = new Spinner(connecting);
    m_starting = centredText(QStringLiteral("Starting screen mirroring…"), connecting);
    connecting->layout()->addWidget(spinner);
    connecting->layout()->setAlignment(spinner, Qt::AlignHCenter);
    connecting->layout()->addWidget(m_starting);
    m_pages->addWidget(connecting);

    QWidget* stopped = column(m_pages);
    auto* warning = new QLabel(stopped);
    const int symbolSize = QFontMetrics(Look::title2(font())).height();
    warning->setPixmap(Look::symbol(QStringLiteral("exclamationmark.triangle"), symbolSize, MirrorLook::white(0.8),
                                    devicePixelRatioF()));
    Accessibility::hide(warning);
    m_message = centredText({}, stopped);
    m_tryAgain = new QPushButton(QStringLiteral("Try Again"), stopped);
    glassButton(m_tryAgain, true);
    stopped->layout()->addWidget(warning);
    stopped->layout()->setAlignment(warning, Qt::AlignHCenter);
    stopped->layout()->addWidget(m_message);
    stopped->layout()->addWidget(m_tryAgain);
    stopped->layout()->setAlignment(m_tryAgain, Qt::AlignHCenter);
    m_pages->addWidget(stopped);

    connect(m_tryAgain, &QPushButton::clicked, this, [this] {
        if (!m_session)
            return;
        m_session->stop();
        m_session->start();
    });
    connect(&session, &MirrorSession::phaseChanged, this, &MirrorStatusOverlay::follow);
    follow();
}

void MirrorStatusOverlay::follow()
{
    if (!m_session)
        return;
    const MirrorSession::Phase phase = m_session->phase();
    // A page or the overlay hidden with the focus in it would hand the focus
    // to the next control, the rail's first button, where Space presses the
    // phone's Power key: park it on the overlay, then give it to the screen.
    QWidget* holder = window()->focusWidget();
    if (holder && (holder == this || isAncestorOf(holder))) {
        if (phase.kind() == MirrorSession::Phase::Kind::streaming && m_screen)
            m_screen->setFocus(Qt::OtherFocusReason);
        else if (phase.kind() == MirrorSession::Phase::Kind::connecting)
            setFocus(Qt::OtherFocusReason);
    }
    // Hidden, it lets every click, drag and scroll through to the screen.
    setVisible(phase.kind() != MirrorSession::Phase::Kind::streaming);
    if (phase.kind() == MirrorSession::Phase::Kind::stopped) {
        m_message->setText(phase.message());
        m_pages->setCurrentIndex(1);
    } else {
        m_pages->setCurrentIndex(0);
    }
}

QString MirrorStatusOverlay::text() const
{
    if (!m_session)
        return {};
    switch (m_session->phase().kind()) {
    case MirrorSession::Phase::Kind::connecting:
        return m_starting->text();
    case MirrorSession::Phase::Kind::stopped:
        return m_message->text();
    case MirrorSession::Phase::Kind::streaming:
        break;
    }
    return {};
}

void MirrorStatusOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor dim(Qt::black);
    dim.setAlphaF(0.85f);
    // The same rounding as the screen it covers, so no corner shows outside it.
    const qreal radius = 0.06 * width();
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius, radius);
    painter.fillPath(shape, dim);
}
