#include "TransferHUD.h"
#include "PlainText.h"

#include "BrowserModel.h"
#include "Digits.h"
#include "Glass.h"
#include "Look.h"
#include "Motion.h"
#include "Spinner.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace {

constexpr int ringSteps = 1000; // finer than a pixel of the ring
constexpr int textWidth = 360;
constexpr int ringSize = 22;

} // namespace

// The faint full circle and the arc of the progress over it; the arc eases
// to each new value.
class TransferHUD::Ring : public QWidget {
public:
    explicit Ring(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("ring"));
        setFixedSize(ringSize, ringSize);
        m_motion = new QVariantAnimation(this);
        m_motion->setObjectName(QStringLiteral("ringMotion"));
        m_motion->setDuration(250);
        m_motion->setEasingCurve(Motion::easeOut());
        connect(m_motion, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_shown = value.toDouble();
            update();
        });
    }

    void setSteps(std::optional<int> steps)
    {
        m_motion->stop();
        const std::optional<int> before = m_steps;
        m_steps = steps;
        if (!steps) {
            m_shown = 0;
        } else if (!before || Motion::reduced()) {
            // A first value shows as it is; only changes ease.
            m_shown = *steps;
        } else {
            m_motion->setStartValue(m_shown);
            m_motion->setEndValue(double(*steps));
            m_motion->start();
        }
        update();
    }

    // The fraction the arc shows now.
    double shownFraction() const { return m_shown / ringSteps; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = Theme::accent(Theme::isDark(palette()));
        QColor faint = accent;
        faint.setAlphaF(0.2f);
        const QRectF circle = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        painter.setPen(QPen(faint, 3));
        painter.drawEllipse(circle);
        const int span = int(std::lround(360.0 * 16 * m_shown / ringSteps));
        if (!m_steps || span == 0)
            return;
        painter.setPen(QPen(accent, 3, Qt::SolidLine, Qt::RoundCap));
        // From the top, clockwise; Qt counts sixteenths of a degree counter-clockwise.
        painter.drawArc(circle, 90 * 16, -span);
    }

private:
    std::optional<int> m_steps;
    double m_shown = 0; // in steps
    QVariantAnimation* m_motion;
};

TransferHUD::TransferHUD(BrowserModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("transferHUD"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* surface = new GlassSurface(GlassSurface::Shape::capsule, 0, false, this);
    outer->addWidget(surface);
    // The capsule fills this box: the shadow falls from the box, over the pane.
    surface->castShadowFrom(this);
    m_row = surface;
    auto* row = new QHBoxLayout(surface);
    row->setSpacing(12);

    auto* indicator = new QWidget(surface);
    indicator->setFixedSize(ringSize, ringSize);
    m_ring = new Ring(indicator);
    m_spinner = new Spinner(indicator);
    m_spinner->move((ringSize - m_spinner->width()) / 2, (ringSize - m_spinner->height()) / 2);
    row->addWidget(indicator);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    m_message = new QLabel(surface);
    m_message->setObjectName(QStringLiteral("message"));
    // A file name that looks like markup stays text.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setFont(Look::callout(font()));
    m_message->setMaximumWidth(textWidth);
    texts->addWidget(m_message);
    m_percent = new DigitsLabel(surface);
    m_percent->setObjectName(QStringLiteral("percent"));
    m_percent->setRolls(true);
    m_percent->setFont(Look::caption(font()));
    Look::setForeground(m_percent, Look::secondary(palette()));
    texts->addWidget(m_percent);
    row->addLayout(texts);

    m_stop = new QToolButton(surface);
    m_stop->setObjectName(QStringLiteral("Stop"));
    m_stop->setIcon(Look::symbolIcon(QStringLiteral("xmark"), Look::secondary(palette())));
    m_stop->setIconSize(QSize(10, 10));
    m_stop->setFixedSize(ringSize, ringSize);
    m_stop->setAutoRaise(true);
    m_stop->setToolTip(QStringLiteral("Stop"));
    m_stop->setAccessibleName(QStringLiteral("Stop"));
    connect(m_stop, &QToolButton::clicked, model, &BrowserModel::cancelJob);
    row->addWidget(m_stop);

    // Escape in the window stops the job, as the button does, unless the
    // control with the focus takes the key for itself first.
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_escape->setContext(Qt::WindowShortcut);
    connect(m_escape, &QShortcut::activated, model, &BrowserModel::cancelJob);
    clearJob();
}

std::optional<double> TransferHUD::shownFraction(const std::optional<double>& progress)
{
    if (!progress || std::isnan(*progress))
        return std::nullopt;
    return std::clamp(*progress, 0.0, 1.0);
}

void TransferHUD::setJob(const Job& job)
{
    Shown shown;
    shown.message = job.message;
    shown.cancellable = job.cancellable;
    if (const std::optional<double> fraction = shownFraction(job.progress)) {
        shown.ringSteps = int(std::lround(*fraction * ringSteps));
        shown.percent = Look::percent(int(std::floor(*fraction * 100 + 0.5)));
    }
    display(shown);
}

void TransferHUD::clearJob()
{
    Shown shown;
    if (m_shown) {
        shown = *m_shown;
        shown.cancellable = false;
    }
    display(shown);
}

void TransferHUD::display(const Shown& shown)
{
    if (m_shown == shown)
        return;
    const std::optional<Shown> before = m_shown;
    m_shown = shown;
    if (!before || before->message != shown.message) {
        m_message->setText(
            m_message->fontMetrics().elidedText(shown.message, Qt::ElideMiddle, textWidth));
        m_message->setToolTip(PlainText::toolTip(shown.message));
    }
    if (!before || before->ringSteps != shown.ringSteps) {
        m_ring->setSteps(shown.ringSteps);
        m_spinner->setVisible(!shown.ringSteps);
    }
    if (!before || before->percent != shown.percent) {
        m_percent->setText(shown.percent);
        m_percent->setVisible(!shown.percent.isEmpty());
    }
    if (!before || before->cancellable != shown.cancellable) {
        m_stop->setVisible(shown.cancellable);
        m_escape->setEnabled(shown.cancellable);
        m_row->layout()->setContentsMargins(12, 9, shown.cancellable ? 8 : 16, 9);
    }
    adjustSize();
}

QString TransferHUD::message() const
{
    return m_shown ? m_shown->message : QString();
}

QString TransferHUD::percentText() const
{
    return m_shown ? m_shown->percent : QString();
}

double TransferHUD::ringFraction() const
{
    return m_ring->shownFraction();
}

GlassSurface* TransferHUD::surface() const
{
    return static_cast<GlassSurface*>(m_row);
}

bool TransferHUD::showsSpinner() const
{
    return m_shown && !m_shown->ringSteps;
}
