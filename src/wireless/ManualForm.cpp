#include "ManualForm.h"

#include "Glass.h"
#include "Look.h"
#include "WirelessConnectView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The Unicode space separators and the tab; not line breaks.
bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

} // namespace

QString ManualForm::trimmed(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

ManualForm::ManualForm(WirelessConnectView& sheet, QWidget* parent) : QWidget(parent), m_sheet(sheet)
{
    setObjectName(QStringLiteral("manualForm"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 2, 0, 0);
    column->setSpacing(10);

    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(8);
    const struct {
        const char* label;
        const char* title;
        const char* placeholder;
        QLineEdit** field;
        QString text;
        void (WirelessConnectView::*store)(const QString&);
    } rows[] = {
        {"Address", "IP address and port", "192.168.1.20:41235", &m_address, sheet.address(),
         &WirelessConnectView::setAddress},
        {"Pairing address", "Pairing address", "192.168.1.20:37099", &m_pairingAddress, sheet.pairingAddress(),
         &WirelessConnectView::setPairingAddress},
        {"Pairing code", "Pairing code", "6-digit code", &m_code, sheet.manualCode(),
         &WirelessConnectView::setManualCode},
    };
    int line = 0;
    for (const auto& row : rows) {
        auto* label = new QLabel(QString::fromUtf8(row.label), this);
        auto* field = new QLineEdit(row.text, this);
        field->setAccessibleName(QString::fromUtf8(row.title));
        field->setPlaceholderText(QString::fromUtf8(row.placeholder));
        label->setBuddy(field);
        grid->addWidget(label, line, 0, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(field, line, 1);
        ++line;
        *row.field = field;
        // Captures the sheet, not `this`: GCC 12's sanitizer checks a stale
        // register for a captured `this` before a member-pointer call.
        auto store = row.store;
        connect(field, &QLineEdit::textChanged, this,
                [sheet = &m_sheet, store](const QString& text) { (sheet->*store)(text); });
    }
    column->addLayout(grid);

    auto* footer = new QHBoxLayout;
    auto* help = new QLabel(QStringLiteral("The address is under “IP address & Port” on the Wireless debugging screen. "
                                           "The pairing address and code are only needed the first time (Pair device "
                                           "with pairing code)."),
                            this);
    help->setTextFormat(Qt::PlainText);
    help->setWordWrap(true);
    help->setFont(Look::caption(font()));
    Look::setForeground(help, Look::secondary(palette()));
    footer->addWidget(help, 1);
    m_connect = new QPushButton(QStringLiteral("Connect"), this);
    m_connect->setObjectName(QStringLiteral("manualConnect"));
    m_connect->setAutoDefault(false);
    glassButton(m_connect, false);
    connect(m_connect, &QPushButton::clicked, this, &ManualForm::submit);
    footer->addWidget(m_connect, 0, Qt::AlignVCenter);
    column->addLayout(footer);

    connect(&sheet, &WirelessConnectView::stateChanged, this, &ManualForm::update);
    connect(&sheet.pairing(), &WirelessPairing::phaseChanged, this, &ManualForm::update);
    update();
}

void ManualForm::update()
{
    const bool incomplete =
        m_sheet.address().isEmpty() && (m_sheet.pairingAddress().isEmpty() || m_sheet.manualCode().isEmpty());
    m_connect->setEnabled(!m_sheet.pairing().phase().isBusy() && !incomplete);
}

void ManualForm::submit()
{
    m_sheet.setPairingTarget(std::nullopt);
    m_sheet.pairing().connectManually(trimmed(m_sheet.address()), trimmed(m_sheet.pairingAddress()),
                                      trimmed(m_sheet.manualCode()));
}
