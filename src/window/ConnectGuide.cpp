#include "ConnectGuide.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "Glass.h"
#include "Look.h"
#include "PhoneFrame.h"
#include "Theme.h"
#include "WrappedLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The step's number on a faint accent circle.
class StepBadge : public QWidget {
public:
    StepBadge(int number, QWidget* parent) : QWidget(parent), m_number(number)
    {
        setFixedSize(24, 24);
        // The steps are read in their order; the number only draws it.
        Accessibility::hide(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor accent = Theme::accent(Theme::isDark(palette()));
        QColor fill = accent;
        fill.setAlphaF(0.14f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawEllipse(rect());
        QFont number = Look::callout(font());
        number.setWeight(QFont::DemiBold);
        painter.setFont(number);
        painter.setPen(accent);
        painter.drawText(rect(), Qt::AlignCenter, QString::number(m_number));
    }

private:
    int m_number;
};

} // namespace

const QList<ConnectGuide::Step>& ConnectGuide::connectSteps()
{
    static const QList<Step> steps = {
        {QStringLiteral("Plug in your phone"), QStringLiteral("Use a USB cable that carries data. Some cables only charge.")},
        {QStringLiteral("Choose File transfer"),
         QStringLiteral("Unlock the phone, tap the “USB” notification and pick File transfer. That's all you need to "
                        "browse and copy files.")},
        {QStringLiteral("Want more? Turn on USB debugging"),
         QStringLiteral("For installing apps, screenshots and screen mirroring: tap Build number seven times in "
                        "Settings › About phone, then switch on USB debugging in Developer options.")},
    };
    return steps;
}

ConnectGuide::ConnectGuide(const Environment& env, const QList<Step>& steps, QWidget* parent)
    : QWidget(parent), m_env(env)
{
    setObjectName(QStringLiteral("connectGuide"));
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(40, 40, 40, 40);
    outer->setSpacing(40);
    outer->addStretch();
    outer->addWidget(new PhoneFrame(QStringLiteral("cable.connector"), 120, this), 0, Qt::AlignVCenter);

    auto* textColumn = new QWidget(this);
    textColumn->setMaximumWidth(380);
    auto* column = new QVBoxLayout(textColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto* heading = new QLabel(QStringLiteral("Connect your Android phone"), textColumn);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setFont(Look::title2(font()));
    column->addWidget(heading);

    int number = 0;
    for (const Step& step : steps) {
        auto* row = new QHBoxLayout;
        row->setSpacing(12);
        row->addWidget(new StepBadge(++number, textColumn), 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* title = new QLabel(step.first, textColumn);
        title->setObjectName(QStringLiteral("stepTitle"));
        title->setFont(Look::headline(font()));
        texts->addWidget(title);
        auto* detail = new WrappedLabel(step.second, textColumn);
        detail->setObjectName(QStringLiteral("stepDetail"));
        Look::setForeground(detail, Look::secondary(palette()));
        texts->addWidget(detail);
        row->addLayout(texts, 1);
        column->addLayout(row);
    }

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(36, 0, 0, 0);
    m_wireless = new QPushButton(QStringLiteral("Connect over Wi-Fi Instead"), textColumn);
    m_wireless->setIcon(
        Look::symbolIcon(QStringLiteral("wifi"), palette().color(QPalette::ButtonText), m_wireless->iconSize().width()));
    m_wireless->setObjectName(QStringLiteral("wirelessInstead"));
    m_wireless->setMinimumHeight(32);
    glassButton(m_wireless, false);
    // Offered only when the sheet can be shown.
    m_wireless->setEnabled(bool(m_env.commands.wirelessSheet));
    connect(m_wireless, &QPushButton::clicked, this, [this] { m_env.model->setShowingWireless(true); });
    buttonRow->addWidget(m_wireless);
    buttonRow->addStretch();
    column->addLayout(buttonRow);

    outer->addWidget(textColumn, 1, Qt::AlignVCenter);
    outer->addStretch();
}
