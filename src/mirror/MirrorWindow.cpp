#include "MirrorWindow.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "Look.h"
#include "MirrorSession.h"
#include "MirrorView.h"

#include <QCloseEvent>
#include <QLabel>
#include <QStackedLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString placeholderTitle = QStringLiteral("Phone Screen");

QWidget* makePlaceholder(QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(10);
    layout->setAlignment(Qt::AlignCenter);
    const QColor secondary = Look::secondary(page->palette());
    auto* symbol = new QLabel(page);
    symbol->setPixmap(Look::symbol(QStringLiteral("iphone.slash"), 34, secondary, page->devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignHCenter);
    Accessibility::hide(symbol);
    auto* text = new QLabel(QStringLiteral("Connect a phone with USB debugging turned on to mirror its screen."), page);
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignHCenter);
    text->setWordWrap(true);
    Look::setForeground(text, secondary);
    layout->addWidget(symbol);
    layout->addWidget(text);
    return page;
}

} // namespace

MirrorWindow::MirrorWindow(BrowserModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_stack(new QStackedLayout(this)), m_placeholder(makePlaceholder(this))
{
    setMinimumSize(350, 480);
    setWindowTitle(placeholderTitle);
    m_stack->addWidget(m_placeholder);
    m_watched = watched();
    connect(&model, &BrowserModel::devicesChanged, this, &MirrorWindow::followChoice);
    connect(&model, &BrowserModel::selectedSerialChanged, this, &MirrorWindow::followChoice);
}

MirrorWindow::~MirrorWindow()
{
    drop();
}

bool MirrorWindow::showsPlaceholder() const
{
    return m_stack->currentWidget() == m_placeholder;
}

std::optional<QString> MirrorWindow::watched() const
{
    const std::optional<Device> device = m_model.selectedDevice();
    if (device && device->transport == Device::Transport::adb && device->state == QStringLiteral("device"))
        return device->serial;
    return std::nullopt;
}

void MirrorWindow::followChoice()
{
    const std::optional<QString> now = watched();
    if (now == m_watched)
        return; // another name or other facts of the same phone change nothing
    m_watched = now;
    drop();
    // A closed window mirrors nothing; its next showing starts a session.
    if (isVisible())
        startIfNeeded();
}

void MirrorWindow::startIfNeeded()
{
    if (m_session)
        return;
    m_session = m_model.makeMirror();
    if (!m_session)
        return;
    if (m_setUp)
        m_setUp(*m_session);
    m_view = new MirrorView(*m_session, m_model, this);
    m_stack->addWidget(m_view);
    m_stack->setCurrentWidget(m_view);
    setWindowTitle(Accessibility::plainTitle(m_session->name()));
    m_session->start();
}

void MirrorWindow::drop()
{
    if (m_view) {
        m_stack->setCurrentWidget(m_placeholder);
        delete m_view; // it holds the session: it goes first
        m_view = nullptr;
    }
    if (m_session) {
        m_session->stop();
        m_session.reset();
    }
    setWindowTitle(placeholderTitle);
}

void MirrorWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startIfNeeded();
}

void MirrorWindow::closeEvent(QCloseEvent* event)
{
    drop();
    QWidget::closeEvent(event);
}
