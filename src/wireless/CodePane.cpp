#include "CodePane.h"

#include "Accessibility.h"
#include "Glass.h"
#include "Look.h"
#include "ManualForm.h"
#include "Motion.h"
#include "Spinner.h"
#include "Theme.h"
#include "WirelessConnectView.h"
#include "BrowserModel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString expandedHint = QString();
const QString collapsedHint = QStringLiteral("For phones that don’t show up");

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The quaternary fill at `opacity`: the shared fill is already at the
// panels' 0.35.
QColor quaternaryAt(const QPalette& palette, qreal opacity)
{
    QColor fill = Look::quaternaryFill(palette);
    fill.setAlphaF(float(std::min(1.0, fill.alphaF() * opacity / 0.35)));
    return fill;
}

// A rounded panel on the faint quaternary fill.
class Panel : public QWidget {
public:
    Panel(qreal alpha, QWidget* parent) : QWidget(parent), m_alpha(alpha) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(quaternaryAt(palette(), m_alpha));
        painter.drawRoundedRect(QRectF(rect()), 10, 10);
    }

private:
    qreal m_alpha;
};

// The disclosure reads as the heading of its section, pressed to open or
// close it; its value and state say whether it is open.
class DisclosureAccessible : public QAccessibleWidget {
public:
    explicit DisclosureAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Heading) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = static_cast<DisclosureButton*>(widget())->isExpanded();
        state.collapsed = !state.expanded;
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        auto* button = static_cast<DisclosureButton*>(widget());
        if (t == QAccessible::Name)
            return button->text();
        if (t == QAccessible::Value)
            return button->isExpanded() ? QStringLiteral("Expanded") : QStringLiteral("Collapsed");
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {QAccessibleActionInterface::pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == QAccessibleActionInterface::pressAction())
            static_cast<DisclosureButton*>(widget())->click();
    }
};

QAccessibleInterface* disclosureFactory(const QString& className, QObject* object)
{
    if (className == QStringLiteral("DisclosureButton") && object && object->isWidgetType())
        return new DisclosureAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

// ---- disclosure ------------------------------------------------------------------

DisclosureButton::DisclosureButton(QWidget* parent) : QAbstractButton(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(disclosureFactory);
        return true;
    }();
    (void)installed;
    setObjectName(QStringLiteral("manualDisclosure"));
    setText(QStringLiteral("Connect by IP address"));
    setFont(Look::callout(font()));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void DisclosureButton::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    update();
    QAccessibleValueChangeEvent event(this, expanded ? QStringLiteral("Expanded") : QStringLiteral("Collapsed"));
    QAccessible::updateAccessibility(&event);
}

QString DisclosureButton::hint() const
{
    return m_expanded ? expandedHint : collapsedHint;
}

QSize DisclosureButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(10 + 12 + 8 + metrics.horizontalAdvance(text()) + 8 + 200 + 10, metrics.height() + 16);
}

void DisclosureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = Look::secondary(palette());
    // The chevron, turned a quarter clockwise about its centre while open.
    const QRectF chevron(10, (height() - 12) / 2.0, 12, 12);
    painter.save();
    painter.translate(chevron.center());
    painter.rotate(chevronAngle());
    painter.drawPixmap(QRectF(-6, -6, 12, 12), Look::symbol(QStringLiteral("chevron.right"), 12, secondary,
                                                            devicePixelRatioF()),
                       QRectF());
    painter.restore();
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect textArea = rect().adjusted(10 + 12 + 8, 0, -10, 0);
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, text());
    painter.setFont(Look::caption(font()));
    painter.setPen(secondary);
    painter.drawText(textArea, Qt::AlignRight | Qt::AlignVCenter, hint());
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 9, 9);
    }
}

// ---- pane ------------------------------------------------------------------------

CodePane::CodePane(WirelessConnectView& sheet) : QWidget(nullptr), m_sheet(sheet)
{
    setObjectName(QStringLiteral("codePane"));
    setMinimumHeight(210);
    auto* pane = new QVBoxLayout(this);
    pane->setContentsMargins(0, 0, 0, 0);
    pane->setSpacing(14);

    // Available devices.
    auto* available = new QVBoxLayout;
    available->setSpacing(8);
    auto* heading = new QLabel(QStringLiteral("Available devices"), this);
    heading->setFont(Look::headline(font()));
    available->addWidget(heading);
    m_searching = new QWidget(this);
    m_searching->setObjectName(QStringLiteral("searchingForPhones"));
    auto* searchingRow = new QHBoxLayout(m_searching);
    searchingRow->setContentsMargins(0, 4, 0, 4);
    searchingRow->setSpacing(10);
    searchingRow->addWidget(new Spinner(m_searching), 0, Qt::AlignTop);
    auto* searchingText = new QLabel(
        QStringLiteral("Searching for phones… On the phone, open Developer options › Wireless debugging › Pair device "
                       "with pairing code, and it will show up here."),
        m_searching);
    searchingText->setWordWrap(true);
    Look::setForeground(searchingText, Look::secondary(palette()));
    searchingRow->addWidget(searchingText, 1);
    available->addWidget(m_searching);
    m_pairList = new QVBoxLayout;
    m_pairList->setSpacing(8);
    available->addLayout(m_pairList);
    pane->addLayout(available);

    // The code entry, moved under whichever row it belongs to.
    m_entry = new Panel(0.35, this);
    m_entry->setObjectName(QStringLiteral("codeEntry"));
    auto* entry = new QVBoxLayout(m_entry);
    entry->setContentsMargins(12, 12, 12, 12);
    entry->setSpacing(10);
    m_entryPrompt = plainLabel(QString(), m_entry);
    m_entryPrompt->setWordWrap(true);
    Look::setForeground(m_entryPrompt, Look::secondary(palette()));
    entry->addWidget(m_entryPrompt);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->setSpacing(12);
    m_codeField = new QLineEdit(m_entry);
    m_codeField->setObjectName(QStringLiteral("codeField"));
    m_codeField->setAccessibleName(QStringLiteral("Pairing code"));
    m_codeField->setPlaceholderText(QStringLiteral("000000"));
    m_codeField->setAlignment(Qt::AlignCenter);
    m_codeField->setFixedSize(190, 44);
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPointSizeF(font().pointSizeF() > 0 ? font().pointSizeF() * 26.0 / 13.0 : 20);
    codeFont.setWeight(QFont::DemiBold);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 8);
    m_codeField->setFont(codeFont);
    QPalette fieldPalette = m_codeField->palette();
    QColor placeholder = Look::secondary(palette());
    placeholder.setAlphaF(0.4f);
    fieldPalette.setColor(QPalette::PlaceholderText, placeholder);
    m_codeField->setPalette(fieldPalette);
    // Stronger than the panel it stands on.
    const QColor fieldFill = quaternaryAt(palette(), 0.5);
    // Made before it joins the sheet, and a style sheet's palette starts from
    // the application's: the sheet's tint is named here.
    m_codeField->setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: 1px solid %2; border-radius: 8px; "
                                              "selection-background-color: %3; selection-color: %4; }")
                                   .arg(fieldFill.name(QColor::HexArgb), palette().color(QPalette::Mid).name(),
                                        m_sheet.palette().color(QPalette::Highlight).name(),
                                        m_sheet.palette().color(QPalette::HighlightedText).name()));
    connect(m_codeField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_sheet.setCode(text);
        if (m_codeField->text() != m_sheet.code())
            m_codeField->setText(m_sheet.code());
    });
    fieldRow->addWidget(m_codeField);
    m_entryPair = new QPushButton(QStringLiteral("Pair"), m_entry);
    m_entryPair->setObjectName(QStringLiteral("entryPair"));
    glassButton(m_entryPair, true);
    // Return anywhere in the sheet presses it while it is enabled.
    m_entryPair->setAutoDefault(false);
    connect(m_entryPair, &QPushButton::clicked, this, [this] {
        const QString target = m_sheet.pairingTarget().value_or(QString());
        for (const WirelessService& service : m_sheet.pairing().discovery().pairing()) {
            if (service.id() == target && WirelessConnectView::isCompleteCode(m_sheet.code())) {
                m_sheet.pairing().pair(service, m_sheet.code());
                return;
            }
        }
    });
    fieldRow->addWidget(m_entryPair);
    m_entryBack = new QPushButton(QStringLiteral("Back"), m_entry);
    m_entryBack->setObjectName(QStringLiteral("entryBack"));
    m_entryBack->setAutoDefault(false);
    connect(m_entryBack, &QPushButton::clicked, this, [this] { m_sheet.setPairingTarget(std::nullopt); });
    fieldRow->addWidget(m_entryBack);
    fieldRow->addStretch(1);
    entry->addLayout(fieldRow);
    // Full width: a failure wraps across it; the pill keeps to the left itself.
    entry->addWidget(sheet.status(std::nullopt, m_entry));
    m_entry->hide();

    // Paired phones on this network.
    m_pairedSection = new QWidget(this);
    m_pairedSection->setObjectName(QStringLiteral("pairedPhones"));
    auto* paired = new QVBoxLayout(m_pairedSection);
    paired->setContentsMargins(0, 0, 0, 0);
    paired->setSpacing(8);
    auto* pairedHeading = new QLabel(QStringLiteral("Paired phones on this network"), m_pairedSection);
    pairedHeading->setFont(Look::headline(font()));
    paired->addWidget(pairedHeading);
    m_connectList = new QVBoxLayout;
    m_connectList->setSpacing(8);
    paired->addLayout(m_connectList);
    pane->addWidget(m_pairedSection);

    // Connect by IP address.
    auto* manual = new Panel(0.35, this);
    auto* manualColumn = new QVBoxLayout(manual);
    manualColumn->setContentsMargins(0, 0, 0, 0);
    manualColumn->setSpacing(0);
    m_disclosure = new DisclosureButton(manual);
    connect(m_disclosure, &QAbstractButton::clicked, this, &CodePane::toggleManual);
    manualColumn->addWidget(m_disclosure);
    auto* formFrame = new QWidget(manual);
    auto* formMargins = new QVBoxLayout(formFrame);
    formMargins->setContentsMargins(10, 0, 10, 10);
    m_form = new ManualForm(sheet, formFrame);
    m_form->setFont(Look::callout(font()));
    formMargins->addWidget(m_form);
    formFrame->hide();
    manualColumn->addWidget(formFrame);
    pane->addWidget(manual);

    m_footStatus = sheet.status(std::nullopt, this);
    pane->addWidget(m_footStatus);
    pane->addStretch(1);

    connect(&sheet, &WirelessConnectView::stateChanged, this, &CodePane::refresh);
    connect(&sheet.pairing(), &WirelessPairing::phaseChanged, this, &CodePane::refresh);
    // The discovery the pairing model shares once the sheet is up.
    connect(&sheet.host().discovery(), &WirelessDiscovery::servicesChanged, this, &CodePane::refresh);
    connect(&sheet.model(), &BrowserModel::devicesChanged, this, &CodePane::refresh);
    connect(&sheet.model(), &BrowserModel::pairedPhonesChanged, this, &CodePane::refresh);
    refresh();
}

QWidget* CodePane::row(const QString& id) const
{
    if (const auto found = m_pairRows.constFind(id); found != m_pairRows.cend())
        return found->widget;
    if (const auto found = m_connectRows.constFind(id); found != m_connectRows.cend())
        return found->widget;
    return nullptr;
}

CodePane::Row CodePane::makeRow(const WirelessService& service)
{
    Row row;
    row.widget = new QWidget(this);
    row.widget->setObjectName(service.id());
    auto* layout = new QHBoxLayout(row.widget);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(12);
    auto* icon = new QLabel(row.widget);
    icon->setFixedWidth(28);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(Look::symbol(QStringLiteral("iphone.gen3.radiowaves.left.and.right"), 20,
                                 Theme::accent(Theme::isDark(palette())), devicePixelRatioF()));
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    row.name = plainLabel(QString(), row.widget);
    QFont medium = font();
    medium.setWeight(QFont::Medium);
    row.name->setFont(medium);
    row.name->setObjectName(QStringLiteral("name"));
    texts->addWidget(row.name);
    row.subtitle = plainLabel(QString(), row.widget);
    row.subtitle->setObjectName(QStringLiteral("subtitle"));
    row.subtitle->setFont(Look::caption(font()));
    Look::setForeground(row.subtitle, Look::secondary(palette()));
    texts->addWidget(row.subtitle);
    layout->addLayout(texts, 1);

    const bool pairing = service.kind == WirelessService::Kind::pairing;
    row.button = new QPushButton(pairing ? QStringLiteral("Pair") : QStringLiteral("Connect"), row.widget);
    row.button->setObjectName(pairing ? QStringLiteral("pair") : QStringLiteral("connect"));
    row.button->setAutoDefault(false);
    glassButton(row.button, pairing);
    layout->addWidget(row.button);
    if (pairing) {
        QLabel* pairingText = plainLabel(QStringLiteral("Pairing…"), row.widget);
        Look::setForeground(pairingText, Look::secondary(palette()));
        pairingText->setGraphicsEffect(new QGraphicsOpacityEffect(pairingText));
        row.mark = pairingText;
    } else {
        // A label: the check mark symbol and the text, both in the accent colour.
        row.mark = new QWidget(row.widget);
        auto* markRow = new QHBoxLayout(row.mark);
        markRow->setContentsMargins(0, 0, 0, 0);
        markRow->setSpacing(4);
        const QFont callout = Look::callout(font());
        const QColor accent = Theme::accent(Theme::isDark(palette()));
        auto* symbol = new QLabel(row.mark);
        symbol->setObjectName(QStringLiteral("markSymbol"));
        symbol->setPixmap(Look::symbol(QStringLiteral("checkmark.circle.fill"), QFontMetrics(callout).height() - 2,
                                       accent, devicePixelRatioF()));
        markRow->addWidget(symbol);
        QLabel* text = plainLabel(QStringLiteral("Connected"), row.mark);
        text->setFont(callout);
        Look::setForeground(text, accent);
        markRow->addWidget(text);
        // The symbol only decorates the text.
        Accessibility::hide(symbol);
    }
    row.mark->setObjectName(QStringLiteral("mark"));
    layout->addWidget(row.mark);

    const QString id = service.id();
    if (pairing) {
        connect(row.button, &QPushButton::clicked, this, [this, id] {
            m_sheet.setPairingTarget(id);
            m_sheet.setCode(QString());
        });
    } else {
        connect(row.button, &QPushButton::clicked, this, [this, id] {
            for (const WirelessService& listed : m_sheet.pairing().discovery().connect()) {
                if (listed.id() == id) {
                    m_sheet.pairing().connect(listed);
                    return;
                }
            }
        });
    }
    return row;
}

void CodePane::syncRows(QHash<QString, Row>& rows, const QList<WirelessService>& services, QVBoxLayout* list)
{
    QSet<QString> listed;
    for (const WirelessService& service : services)
        listed.insert(service.id());
    for (auto it = rows.begin(); it != rows.end();) {
        if (listed.contains(it.key())) {
            ++it;
        } else {
            delete it->widget;
            it = rows.erase(it);
        }
    }
    // Rows keep their widgets; only their order and texts follow the list.
    while (list->count() > 0)
        delete list->takeAt(0);
    for (const WirelessService& service : services) {
        auto found = rows.find(service.id());
        if (found == rows.end())
            found = rows.insert(service.id(), makeRow(service));
        found->name->setText(m_sheet.host().name(service.name));
        found->subtitle->setText(service.address);
        list->addWidget(found->widget);
        if (service.kind == WirelessService::Kind::pairing && m_sheet.pairingTarget() == service.id())
            list->addWidget(m_entry);
    }
}

void CodePane::refresh()
{
    const WirelessDiscovery& discovery = m_sheet.pairing().discovery();
    const QList<WirelessService> pairing = discovery.pairing();
    const QList<WirelessService> connect = discovery.connect();
    const bool busy = m_sheet.pairing().phase().isBusy();
    const std::optional<QString>& target = m_sheet.pairingTarget();

    syncRows(m_pairRows, pairing, m_pairList);
    syncRows(m_connectRows, connect, m_connectList);
    m_searching->setVisible(pairing.isEmpty());
    m_pairedSection->setVisible(!connect.isEmpty());

    std::optional<WirelessService> open;
    for (const WirelessService& service : pairing) {
        if (service.id() == target)
            open = service;
    }
    for (const WirelessService& service : pairing) {
        const Row& row = m_pairRows[service.id()];
        const bool isOpen = service.id() == target;
        row.button->setVisible(!isOpen);
        row.button->setEnabled(!busy);
        row.mark->setVisible(isOpen);
        static_cast<QGraphicsOpacityEffect*>(row.mark->graphicsEffect())->setOpacity(busy ? 1.0 : 0.0);
    }
    for (const WirelessService& service : connect) {
        const Row& row = m_connectRows[service.id()];
        const bool connected = m_sheet.host().isConnected(service);
        row.button->setVisible(!connected);
        row.button->setEnabled(!busy);
        row.mark->setVisible(connected);
    }

    m_entry->setVisible(open.has_value());
    if (open) {
        m_entryPrompt->setText(QStringLiteral("Enter the 6-digit code shown on ") + m_sheet.host().name(open->name)
                               + QStringLiteral("."));
        if (m_codeField->text() != m_sheet.code())
            m_codeField->setText(m_sheet.code());
    }
    m_codeField->setEnabled(!busy);
    m_entryBack->setEnabled(!busy);
    m_entryPair->setEnabled(!busy && WirelessConnectView::isCompleteCode(m_sheet.code()));
    // Return presses the entry's "Pair", and only while it can be pressed.
    m_entryPair->setDefault(open.has_value() && m_entryPair->isEnabled());
    m_footStatus->setVisible(!target.has_value());

    m_disclosure->setExpanded(m_sheet.showManual());
    showManualForm(m_sheet.showManual());
}

void CodePane::showManualForm(bool show)
{
    // The form fades in when shown and out when hidden; it leaves the layout
    // once it has faded out.
    QWidget* formFrame = m_form->parentWidget();
    const bool shown = formFrame->isVisibleTo(this) && !(m_formFade && m_formFade->endValue().toDouble() == 0.0);
    if (show == shown)
        return;
    if (Motion::reduced()) {
        if (m_formFade)
            m_formFade->stop();
        formFrame->setGraphicsEffect(nullptr);
        formFrame->setVisible(show);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(formFrame->graphicsEffect());
    // A fade under way turns round from where it is.
    const qreal from = effect ? effect->opacity() : (show ? 0.0 : 1.0);
    if (m_formFade)
        m_formFade->stop();
    if (!effect) {
        effect = new QGraphicsOpacityEffect(formFrame);
        formFrame->setGraphicsEffect(effect);
    }
    effect->setOpacity(from);
    formFrame->setVisible(true);
    m_formFade = new QPropertyAnimation(effect, "opacity", formFrame);
    m_formFade->setStartValue(from);
    m_formFade->setEndValue(show ? 1.0 : 0.0);
    m_formFade->setDuration(int(300 * std::abs((show ? 1.0 : 0.0) - from)));
    QObject::connect(m_formFade, &QPropertyAnimation::finished, formFrame, [formFrame, show] {
        formFrame->setGraphicsEffect(nullptr);
        formFrame->setVisible(show);
    });
    m_formFade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CodePane::toggleManual()
{
    m_sheet.setShowManual(!m_sheet.showManual());
}
