#include "DetailsPopover.h"

#include "ADBTools.h"
#include "BrowserModel.h"
#include "Look.h"
#include "Spinner.h"
#include "WindowRules.h"

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
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
    : QFrame(anchor->window()), m_anchor(anchor)
{
    setObjectName(QStringLiteral("detailsPopover"));
    setAccessibleName(QStringLiteral("Phone Details"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_view = new PhoneDetailsView(model, this);
    column->addWidget(m_view);
    // The popover grows from the spinner to the rows.
    connect(m_view, &PhoneDetailsView::settled, this, [this] {
        adjustSize();
        place();
    });
    connect(anchor, &QObject::destroyed, this, &QWidget::close);
    // Presses anywhere close it; the window's size moves it.
    qApp->installEventFilter(this);
}

void DetailsPopover::place()
{
    QWidget* top = parentWidget();
    if (!m_anchor || !top)
        return;
    adjustSize();
    const QPoint edge = m_anchor->mapTo(top, QPoint(m_anchor->width(), m_anchor->height() / 2));
    QPoint at(edge.x() + 6, edge.y() - height() / 2);
    at.setX(std::clamp(at.x(), 0, std::max(0, top->width() - width())));
    at.setY(std::clamp(at.y(), 0, std::max(0, top->height() - height())));
    move(at);
}

void DetailsPopover::open()
{
    place();
    show();
    raise();
    setFocus(Qt::PopupFocusReason);
}

bool DetailsPopover::event(QEvent* event)
{
    // Escape is the popover's before any shortcut of the window takes it.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->keyCombination() == QKeyCombination(Qt::Key_Escape)) {
        event->accept();
        return true;
    }
    return QFrame::event(event);
}

void DetailsPopover::keyPressEvent(QKeyEvent* event)
{
    if (event->keyCombination() == QKeyCombination(Qt::Key_Escape)) {
        if (m_anchor)
            m_anchor->setFocus(Qt::PopupFocusReason);
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

bool DetailsPopover::eventFilter(QObject* watched, QEvent* event)
{
    if (!isVisible())
        return false;
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        auto* pressed = static_cast<QWidget*>(watched);
        if (pressed != this && !isAncestorOf(pressed)) {
            // A press on the button that opened it only closes it, not opens it again.
            const bool onAnchor = m_anchor && (pressed == m_anchor || m_anchor->isAncestorOf(pressed));
            close();
            return onAnchor;
        }
    } else if (watched == parentWidget() && event->type() == QEvent::Resize) {
        place();
    } else if (watched == parentWidget() && event->type() == QEvent::WindowDeactivate) {
        close(); // the person went to another application
    }
    return false;
}

void DetailsPopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    qApp->removeEventFilter(this);
    Q_EMIT closed();
    deleteLater();
}
