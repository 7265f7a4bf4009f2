#include "LogcatWindow.h"

#include "BrowserModel.h"
#include "LogcatModel.h"
#include "LogcatView.h"
#include "NeedsDebuggingView.h"
#include "ToolWindow.h"

#include <QCloseEvent>
#include <QStackedLayout>

LogcatWindow::LogcatWindow(BrowserModel& model, std::function<void(LogcatModel&)> prepare, QWidget* parent)
    : QWidget(parent), m_model(model), m_prepare(std::move(prepare)), m_ready(new ReadySerial(model, this))
{
    setMinimumSize(640, 360);
    setWindowTitle(ToolWindow::title(QStringLiteral("Logcat"), std::nullopt));
    m_stack = new QStackedLayout(this);
    m_placeholder = new NeedsDebuggingView(QStringLiteral("text.alignleft"), QStringLiteral("read its log"), this);
    m_stack->addWidget(m_placeholder);
    connect(m_ready, &ReadySerial::changed, this, &LogcatWindow::connectPhone);
}

LogcatWindow::~LogcatWindow()
{
    dropModel();
}

void LogcatWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    connectPhone();
}

void LogcatWindow::closeEvent(QCloseEvent* event)
{
    // A log closed with its window streams again when the window reopens.
    dropModel();
    QWidget::closeEvent(event);
}

void LogcatWindow::connectPhone()
{
    const std::optional<Device> phone = ToolWindow::readyPhone(m_model);
    if (!phone) {
        dropModel();
        return;
    }
    if (m_logcat && m_logcat->serial() == phone->serial)
        return;
    if (m_logcat)
        m_logcat->stop();
    auto logcat = std::make_unique<LogcatModel>(*m_model.adb(), phone->serial, phone->model);
    if (m_prepare)
        m_prepare(*logcat);
    if (!m_view) {
        // A fresh view each time the log replaces the placeholder: follow starts on.
        m_view = new LogcatView(this);
        m_stack->addWidget(m_view);
    }
    m_view->setModel(logcat.get());
    m_stack->setCurrentWidget(m_view);
    m_logcat = std::move(logcat);
    setWindowTitle(ToolWindow::title(QStringLiteral("Logcat"), m_logcat->name()));
    m_logcat->start();
}

void LogcatWindow::dropModel()
{
    if (m_logcat)
        m_logcat->stop();
    if (m_view) {
        m_stack->removeWidget(m_view);
        delete m_view;
        m_view = nullptr;
    }
    m_logcat.reset();
    m_stack->setCurrentWidget(m_placeholder);
    setWindowTitle(ToolWindow::title(QStringLiteral("Logcat"), std::nullopt));
}
