#include "StatusPill.h"

#include "Accessibility.h"
#include "Look.h"
#include "Motion.h"
#include "Spinner.h"
#include "Theme.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>

namespace {

// The accent dot; its opacity is animated.
class PulseDot : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal level READ level WRITE setLevel)
public:
    explicit PulseDot(QWidget* parent) : QWidget(parent)
    {
        setFixedSize(8, 8);
        if (Motion::reduced())
            return;
        m_level = 0.3;
        // Eases in and out over 0.9 s each way, forever.
        auto* pulse = new QSequentialAnimationGroup(this);
        for (auto [from, to] : {std::pair{0.3, 1.0}, std::pair{1.0, 0.3}}) {
            auto* half = new QPropertyAnimation(this, "level", pulse);
            half->setStartValue(from);
            half->setEndValue(to);
            half->setDuration(900);
            half->setEasingCurve(QEasingCurve::InOutQuad);
            pulse->addAnimation(half);
        }
        pulse->setLoopCount(-1);
        pulse->start();
    }

    qreal level() const { return m_level; }
    void setLevel(qreal level)
    {
        m_level = level;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(m_level);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::accent(Theme::isDark(palette())));
        painter.drawEllipse(rect());
    }

private:
    qreal m_level = 1.0;
};

} // namespace

StatusPill::StatusPill(const QString& text, bool pulsing, QWidget* parent)
    : GlassSurface(Shape::capsule, 0, false, parent), m_pulsing(pulsing)
{
    setObjectName(QStringLiteral("statusPill"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(8);
    if (pulsing) {
        m_dot = new PulseDot(this);
        row->addWidget(m_dot, 0, Qt::AlignVCenter);
    } else {
        row->addWidget(new Spinner(this), 0, Qt::AlignVCenter);
    }
    m_text = new QLabel(text, this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setFont(Look::callout(font()));
    Look::setForeground(m_text, Look::secondary(palette()));
    row->addWidget(m_text, 0, Qt::AlignVCenter);
    // One element for assistive technology: the text, read once.
    Accessibility::combine(this, text);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

QString StatusPill::text() const
{
    return m_text->text();
}

qreal StatusPill::dotOpacity() const
{
    return m_dot ? static_cast<PulseDot*>(m_dot)->level() : 1.0;
}

#include "StatusPill.moc"
