#include "WirelessConnectView.h"

#include "BrowserModel.h"
#include "CodePane.h"
#include "Glass.h"
#include "Look.h"
#include "Motion.h"
#include "QrPane.h"
#include "StatusPill.h"
#include "Theme.h"

#include <QButtonGroup>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include <unicode/uchar.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr std::chrono::milliseconds closeDelay(2500);

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A symbol and a wrapping text, in one colour.
QWidget* symbolLabel(const QString& symbol, const QString& text, const QColor& color, QWidget* parent,
                     const QString& name)
{
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* icon = new QLabel(box);
    icon->setPixmap(Look::symbol(symbol, 14, color, box->devicePixelRatioF()));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* label = plainLabel(text, box);
    label->setObjectName(name);
    label->setWordWrap(true);
    Look::setForeground(label, color);
    row->addWidget(label, 1);
    return box;
}

// The sheet's status line for the phase: a pill, a failure, or nothing.
class StatusLine : public QWidget {
public:
    StatusLine(WirelessConnectView& sheet, std::optional<QString> searching, QWidget* parent)
        : QWidget(parent), m_sheet(sheet), m_searching(std::move(searching))
    {
        setObjectName(QStringLiteral("statusLine"));
        m_layout = new QVBoxLayout(this);
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(6);
        connect(&sheet.pairing(), &WirelessPairing::phaseChanged, this, &StatusLine::rebuild);
        connect(&sheet, &WirelessConnectView::stateChanged, this, &StatusLine::rebuild);
        rebuild();
    }

private:
    void rebuild()
    {
        const WirelessPairing::Phase& phase = m_sheet.pairing().phase();
        const WirelessConnectView::Method method = m_sheet.method();
        // Nothing to do when the line already shows this.
        if (m_shown && m_shownPhase == phase && m_shownMethod == method)
            return;
        m_shown = true;
        m_shownPhase = phase;
        m_shownMethod = method;
        while (QLayoutItem* item = m_layout->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        using Kind = WirelessPairing::Phase::Kind;
        // The line holds nothing but a pill while one shows: the pill casts
        // its shadow from the line, whose parent has room for it, so that it
        // isn't cut off at the line's edge.
        setGraphicsEffect(nullptr);
        const auto addPill = [this](const QString& text, bool pulsing) {
            auto* pill = new StatusPill(text, pulsing, this);
            m_layout->addWidget(pill, 0, Qt::AlignLeft);
            pill->castShadowFrom(this);
        };
        switch (phase.kind()) {
        case Kind::waiting:
            if (m_searching)
                addPill(*m_searching, true);
            break;
        case Kind::pairing:
            addPill(QStringLiteral("Pairing with the phone…"), false);
            break;
        case Kind::connecting:
            addPill(QStringLiteral("Connecting to ") + phase.text() + QStringLiteral("…"), false);
            break;
        case Kind::done:
            break;
        case Kind::failed: {
            m_layout->addWidget(symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), phase.text(),
                                            Look::orange(), this, QStringLiteral("failure")));
            if (method == WirelessConnectView::Method::qr) {
                auto* newCode = new QPushButton(QStringLiteral("New Code"), this);
                newCode->setObjectName(QStringLiteral("newCode"));
                newCode->setAutoDefault(false);
                newCode->setFont(Look::caption(font()));
                WirelessPairing* pairing = &m_sheet.pairing();
                connect(newCode, &QPushButton::clicked, pairing, [pairing] { pairing->newCode(); });
                m_layout->addWidget(newCode, 0, Qt::AlignLeft);
            }
            break;
        }
        }
        // Shown now, not at the next turn of the event loop.
        for (int i = 0; i < m_layout->count(); ++i)
            m_layout->itemAt(i)->widget()->show();
        setVisible(m_layout->count() > 0);
    }

    WirelessConnectView& m_sheet;
    std::optional<QString> m_searching;
    QVBoxLayout* m_layout;
    bool m_shown = false;
    WirelessPairing::Phase m_shownPhase;
    WirelessConnectView::Method m_shownMethod = WirelessConnectView::Method::qr;
};

bool isNumeric(char32_t c)
{
    const int type = u_getIntPropertyValue(UChar32(c), UCHAR_NUMERIC_TYPE);
    return type == U_NT_DECIMAL || type == U_NT_DIGIT || type == U_NT_NUMERIC;
}

} // namespace

// ---- methods -------------------------------------------------------------------

QString WirelessConnectView::methodText(Method method)
{
    return method == Method::qr ? QStringLiteral("QR Code") : QStringLiteral("Pairing Code");
}

std::optional<WirelessConnectView::Method> WirelessConnectView::methodFromText(const QString& text)
{
    for (Method method : {Method::qr, Method::code}) {
        if (text == methodText(method))
            return method;
    }
    return std::nullopt;
}

QString WirelessConnectView::filteredCode(const QString& text)
{
    QString kept;
    int count = 0;
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = clusters.toNextBoundary(); end != -1 && count < 6; end = clusters.toNextBoundary()) {
        const QString cluster = text.mid(start, end - start);
        start = end;
        const QList<uint> scalars = cluster.toUcs4();
        if (!scalars.isEmpty() && isNumeric(char32_t(scalars.first()))) {
            kept += cluster;
            ++count;
        }
    }
    return kept;
}

int WirelessConnectView::codeLength(const QString& code)
{
    int count = 0;
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, code);
    while (clusters.toNextBoundary() != -1)
        ++count;
    return count;
}

// ---- the sheet ------------------------------------------------------------------

WirelessConnectView::WirelessConnectView(BrowserModel& model, QWidget* parent, Seams seams)
    : QDialog(parent),
      m_model(model),
      m_clock(seams.clock ? std::move(seams.clock) : Clock::system()),
      m_host(seams.host ? std::move(seams.host) : PairingHost::of(model)),
      m_pairing(new WirelessPairing(m_clock, this))
{
    setObjectName(QStringLiteral("wirelessSheet"));
    setWindowTitle(QStringLiteral("Connect over Wi-Fi"));
    setFixedWidth(560);
    // A window of its own takes nothing from the main window's palette: the
    // accent tints its focus and selection as it does there.
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, Theme::accent(Theme::isDark(tinted)));
    tinted.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(tinted);

    auto* sheet = new QVBoxLayout(this);
    sheet->setContentsMargins(24, 24, 24, 24);
    sheet->setSpacing(20);

    // Header.
    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    header->addWidget(new AccentTile(QStringLiteral("wifi"), 46, 12, 0.7, this), 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    auto* title = new QLabel(QStringLiteral("Connect over Wi-Fi"), this);
    QFont titleFont = Look::title2(font());
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    titles->addWidget(title);
    auto* subtitle = new QLabel(QStringLiteral("Android 11 or later, on the same Wi-Fi network as this computer."), this);
    Look::setForeground(subtitle, Look::secondary(palette()));
    titles->addWidget(subtitle);
    header->addLayout(titles);
    header->addStretch(1);
    sheet->addLayout(header);

    // Method picker.
    m_picker = new QWidget(this);
    m_picker->setObjectName(QStringLiteral("methodPicker"));
    m_picker->setAccessibleName(QStringLiteral("Method"));
    m_picker->setFixedWidth(300);
    auto* segments = new QHBoxLayout(m_picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    auto* group = new QButtonGroup(m_picker);
    group->setExclusive(true);
    for (auto [method, symbol] : {std::pair{Method::qr, "qrcode"}, std::pair{Method::code, "number"}}) {
        auto* segment = new QPushButton(Look::symbolIcon(QString::fromLatin1(symbol), palette().color(QPalette::ButtonText)),
                                        methodText(method), m_picker);
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segment->setChecked(method == m_method);
        group->addButton(segment);
        segments->addWidget(segment, 1);
        connect(segment, &QPushButton::toggled, this, [this, method](bool on) {
            if (on)
                setMethod(method);
        });
        (method == Method::qr ? m_qrButton : m_codeButton) = segment;
    }
    sheet->addWidget(m_picker, 0, Qt::AlignHCenter);

    // Panes, and the connected pane in their place once done.
    m_panes = new QStackedWidget(this);
    m_qrPane = new QrPane(*this);
    m_codePane = new CodePane(*this);
    m_panes->addWidget(m_qrPane);
    m_panes->addWidget(m_codePane);
    sheet->addWidget(m_panes);
    m_connected = connectedPane();
    sheet->addWidget(m_connected);

    // Footer.
    auto* footer = new QHBoxLayout;
    footer->setSpacing(12);
    m_adbWarning = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"),
                               QStringLiteral("Install Google's platform tools to use Wi-Fi."), Look::orange(), this,
                               QStringLiteral("adbWarning"));
    m_adbWarning->setFont(Look::callout(font()));
    footer->addWidget(m_adbWarning);
    footer->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setAutoDefault(false);
    m_cancel->setMinimumHeight(30);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    footer->addWidget(m_cancel);
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setObjectName(QStringLiteral("done"));
    m_done->setAutoDefault(false);
    glassButton(m_done, true);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    footer->addWidget(m_done);
    sheet->addLayout(footer);

    m_adbWarning->setVisible(model.adbMissing());
    connect(&model, &BrowserModel::adbMissingChanged, this,
            [this] { m_adbWarning->setVisible(m_model.adbMissing()); });
    connect(m_pairing, &WirelessPairing::phaseChanged, this, &WirelessConnectView::phaseChanged);
    showBody();
}

WirelessConnectView::~WirelessConnectView()
{
    stopOnce();
}

QWidget* WirelessConnectView::connectedPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("connectedPane"));
    pane->setMinimumHeight(210);
    auto* column = new QVBoxLayout(pane);
    column->setSpacing(10);
    column->addStretch(1);
    auto* check = new QLabel(pane);
    check->setPixmap(Look::symbol(QStringLiteral("checkmark.circle.fill"), 44, Theme::accent(Theme::isDark(palette())),
                                  devicePixelRatioF()));
    column->addWidget(check, 0, Qt::AlignHCenter);
    auto* heading = new QLabel(QStringLiteral("Device connected"), pane);
    heading->setFont(Look::headline(font()));
    column->addWidget(heading, 0, Qt::AlignHCenter);
    m_connectedText = plainLabel(QString(), pane);
    m_connectedText->setObjectName(QStringLiteral("connectedText"));
    m_connectedText->setWordWrap(true);
    m_connectedText->setAlignment(Qt::AlignHCenter);
    Look::setForeground(m_connectedText, Look::secondary(palette()));
    column->addWidget(m_connectedText);
    column->addStretch(1);
    return pane;
}

QWidget* WirelessConnectView::status(const std::optional<QString>& searching, QWidget* parent)
{
    return new StatusLine(*this, searching, parent);
}

// ---- view state -----------------------------------------------------------------

void WirelessConnectView::setMethod(Method method)
{
    if (method == m_method)
        return;
    m_method = method;
    (method == Method::qr ? m_qrButton : m_codeButton)->setChecked(true);
    showBody();
    if (!Motion::reduced()) {
        // The new pane eases in.
        auto* effect = new QGraphicsOpacityEffect(m_panes);
        m_panes->setGraphicsEffect(effect);
        auto* fade = new QPropertyAnimation(effect, "opacity", m_panes);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->setDuration(350);
        fade->setEasingCurve(QEasingCurve::OutCubic);
        connect(fade, &QPropertyAnimation::finished, m_panes, [this] { m_panes->setGraphicsEffect(nullptr); });
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
    Q_EMIT stateChanged();
}

void WirelessConnectView::setPairingTarget(const std::optional<QString>& target)
{
    if (target == m_pairingTarget)
        return;
    m_pairingTarget = target;
    Q_EMIT stateChanged();
}

void WirelessConnectView::setCode(const QString& code)
{
    const QString filtered = filteredCode(code);
    if (filtered == m_code)
        return;
    m_code = filtered;
    Q_EMIT stateChanged();
}

void WirelessConnectView::setShowManual(bool show)
{
    if (show == m_showManual)
        return;
    m_showManual = show;
    Q_EMIT stateChanged();
}

void WirelessConnectView::setAddress(const QString& text)
{
    if (text == m_address)
        return;
    m_address = text;
    Q_EMIT stateChanged();
}

void WirelessConnectView::setPairingAddress(const QString& text)
{
    if (text == m_pairingAddress)
        return;
    m_pairingAddress = text;
    Q_EMIT stateChanged();
}

void WirelessConnectView::setManualCode(const QString& text)
{
    if (text == m_manualCode)
        return;
    m_manualCode = text;
    Q_EMIT stateChanged();
}

// ---- phase and life ---------------------------------------------------------------

void WirelessConnectView::showBody()
{
    const WirelessPairing::Phase& phase = m_pairing->phase();
    const bool done = phase.kind() == WirelessPairing::Phase::Kind::done;
    m_picker->setVisible(!done);
    m_panes->setVisible(!done);
    m_panes->setCurrentWidget(m_method == Method::qr ? static_cast<QWidget*>(m_qrPane) : m_codePane);
    m_connected->setVisible(done);
    if (done)
        m_connectedText->setText(phase.text()
                                 + QStringLiteral(" is connected over Wi-Fi. Next time it’s on this network, it "
                                                  "connects by itself."));
    m_cancel->setVisible(!done);
    m_done->setVisible(done);
    // Return presses "Done"; otherwise only the code entry's "Pair" may be
    // the default button.
    m_done->setDefault(done);
}

bool WirelessConnectView::event(QEvent* event)
{
    // The sheet's height follows its content: rows come and go, texts wrap.
    if (event->type() == QEvent::LayoutRequest && !m_fitting) {
        m_fitting = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_fitting = false;
                QLayout* content = layout();
                const int wanted = content->hasHeightForWidth() ? content->totalHeightForWidth(width())
                                                                : content->totalSizeHint().height();
                setFixedHeight(std::max(wanted, content->totalMinimumSize().height()));
            },
            Qt::QueuedConnection);
    }
    return QDialog::event(event);
}

void WirelessConnectView::phaseChanged()
{
    showBody();
    if (m_pairing->phase().kind() != WirelessPairing::Phase::Kind::done)
        return;
    setPairingTarget(std::nullopt);
    m_clock->after(closeDelay, this, [this] {
        // This sheet only, and only while it is still up and still done.
        if (!m_closed && m_pairing->phase().kind() == WirelessPairing::Phase::Kind::done)
            accept();
    });
}

void WirelessConnectView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_pairing->start(m_host);
}

void WirelessConnectView::done(int result)
{
    m_closed = true;
    stopOnce();
    QDialog::done(result);
}

void WirelessConnectView::stopOnce()
{
    if (!m_started || m_stopped)
        return;
    m_stopped = true;
    m_pairing->stop();
}
