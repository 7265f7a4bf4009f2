#include "DetailsPopover.h"

#include "ADBTools.h"
#include "BrowserModel.h"
#include "Look.h"
#include "Spinner.h"
#include "WindowRules.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

// ---- PhoneDetailsView --------------------------------------------------------------

PhoneDetailsView::PhoneDetailsView(BrowserModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("phoneDetails"));
    setMinimumWidth(280);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Phone Details"), this);
    title->setObjectName(QStringLiteral("detailsTitle"));
    title->setFont(Look::headline(font()));
    column->addWidget(title);
    m_spinner = new Spinner(this);
    column->addWidget(m_spinner, 0, Qt::AlignLeft);
    m_failure = new QLabel(QStringLiteral("The phone didn’t answer."), this);
    m_failure->setObjectName(QStringLiteral("detailsFailure"));
    Look::setForeground(m_failure, Look::secondary(palette()));
    m_failure->hide();
    column->addWidget(m_failure);
    column->addStretch();
}

PhoneDetailsView::~PhoneDetailsView()
{
    // Ends adb at once; the answer has no one left to go to.
    m_load.cancel();
}

bool PhoneDetailsView::isLoading() const
{
    return !m_grid && m_failure->isHidden();
}

bool PhoneDetailsView::hasFailed() const
{
    return !m_failure->isHidden();
}

QList<std::pair<QString, QString>> PhoneDetailsView::rows() const
{
    QList<std::pair<QString, QString>> shown;
    if (!m_gridLayout)
        return shown;
    for (int row = 0; row < m_gridLayout->rowCount(); ++row) {
        auto* label = qobject_cast<QLabel*>(m_gridLayout->itemAtPosition(row, 0)->widget());
        auto* value = qobject_cast<QLabel*>(m_gridLayout->itemAtPosition(row, 1)->widget());
        shown.append({label->text(), value->text()});
    }
    return shown;
}

void PhoneDetailsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        load();
    }
}

void PhoneDetailsView::hideEvent(QHideEvent* event)
{
    // Closing ends the question; a late answer is not shown.
    m_load.cancel();
    QWidget::hideEvent(event);
}

void PhoneDetailsView::load()
{
    const std::optional<ADB>& adb = m_model->adb();
    const std::optional<Device> phone = m_model->selectedDevice();
    if (!adb || !WindowRules::isReadyOverADB(phone)) {
        showFailure();
        return;
    }
    m_load = Task::run(
        this, [adb = *adb, serial = phone->serial](const Cancel& cancel) { return adb.details(serial, cancel); },
        [this](const DeviceDetails& details) {
            if (!m_load.isCancelled())
                showRows(details);
        },
        // Every failure reads the same; the error's own text is not shown.
        [this](std::exception_ptr) {
            if (!m_load.isCancelled())
                showFailure();
        });
}

void PhoneDetailsView::showRows(const DeviceDetails& details)
{
    m_spinner->hide();
    m_grid = new QWidget(this);
    m_grid->setObjectName(QStringLiteral("detailsGrid"));
    m_gridLayout = new QGridLayout(m_grid);
    m_gridLayout->setContentsMargins(0, 0, 0, 0);
    m_gridLayout->setHorizontalSpacing(14);
    m_gridLayout->setVerticalSpacing(6);
    const QFont callout = Look::callout(font());
    int row = 0;
    for (const auto& [labelText, valueText] : details.rows) {
        // The phone's texts are shown as they are, never as markup.
        auto* label = new QLabel(labelText, m_grid);
        label->setTextFormat(Qt::PlainText);
        label->setFont(callout);
        Look::setForeground(label, Look::secondary(palette()));
        auto* value = new QLabel(valueText, m_grid);
        value->setTextFormat(Qt::PlainText);
        value->setFont(callout);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        value->setCursor(Qt::IBeamCursor);
        m_gridLayout->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
        m_gridLayout->addWidget(value, row, 1, Qt::AlignLeft | Qt::AlignTop);
        ++row;
    }
    m_gridLayout->setColumnStretch(1, 1);
    static_cast<QVBoxLayout*>(layout())->insertWidget(2, m_grid);
    Q_EMIT settled();
}

void PhoneDetailsView::showFailure()
{
    m_spinner->hide();
    m_failure->show();
    Q_EMIT settled();
}

// ---- DetailsPopover ----------------------------------------------------------------

DetailsPopover::DetailsPopover(BrowserModel* model, QWidget* anchor)
    : QFrame(anchor, Qt::Popup), m_anchor(anchor)
{
    setObjectName(QStringLiteral("detailsPopover"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_view = new PhoneDetailsView(model, this);
    column->addWidget(m_view);
    // The popover grows from the spinner to the rows.
    connect(m_view, &PhoneDetailsView::settled, this, [this] {
        adjustSize();
        place();
    });
}

void DetailsPopover::place()
{
    if (!m_anchor)
        return;
    adjustSize();
    const QPoint edge = m_anchor->mapToGlobal(QPoint(m_anchor->width(), m_anchor->height() / 2));
    QPoint at(edge.x() + 6, edge.y() - height() / 2);
    if (QScreen* screen = m_anchor->screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - width())));
        at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - height())));
    }
    move(at);
}

void DetailsPopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

void DetailsPopover::mousePressEvent(QMouseEvent* event)
{
    // A click on the button that opened it only closes it, not opens it again.
    if (m_anchor && !rect().contains(event->position().toPoint())) {
        const QRect button(m_anchor->mapToGlobal(QPoint(0, 0)), m_anchor->size());
        if (button.contains(event->globalPosition().toPoint()))
            setAttribute(Qt::WA_NoMouseReplay);
    }
    QFrame::mousePressEvent(event);
}
