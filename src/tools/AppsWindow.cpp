#include "AppsWindow.h"

#include "AppsList.h"
#include "AppsModel.h"
#include "BrowserModel.h"
#include "NeedsDebuggingView.h"
#include "ToolWindow.h"

#include <QPointer>
#include <QStackedLayout>

AppsWindow::AppsWindow(BrowserModel& model, std::function<void()> onInstall, std::function<void(AppsModel&)> prepare,
                       QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_onInstall(std::move(onInstall)),
      m_prepare(std::move(prepare)),
      m_ready(new ReadySerial(model, this))
{
    setMinimumSize(560, 380);
    setWindowTitle(ToolWindow::title(QStringLiteral("Apps"), std::nullopt));
    m_stack = new QStackedLayout(this);
    m_placeholder = new NeedsDebuggingView(QStringLiteral("square.grid.2x2"), QStringLiteral("manage its apps"), this);
    m_stack->addWidget(m_placeholder);
    connect(m_ready, &ReadySerial::changed, this, &AppsWindow::connectPhone);
    connect(&model, &BrowserModel::appsInstalled, this, [this](const QString& serial) {
        if (m_apps && m_apps->serial() == serial)
            m_apps->reload();
    });
}

AppsWindow::~AppsWindow()
{
    dropModel();
}

void AppsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    connectPhone();
}

void AppsWindow::connectPhone()
{
    const std::optional<Device> phone = ToolWindow::readyPhone(m_model);
    if (!phone) {
        dropModel();
        return;
    }
    if (m_apps && m_apps->serial() == phone->serial)
        return;
    std::shared_ptr<AppsModel> apps = AppsModel::make(*m_model.adb(), phone->serial, phone->model);
    // The model outlives the window while a save runs; the application's model outlives both.
    AppsModel::Seams seams;
    seams.elsewhere = [browser = QPointer<BrowserModel>(&m_model)](const QString& message) {
        if (browser)
            browser->setErrorMessage(message);
    };
    apps->setSeams(std::move(seams));
    if (m_prepare)
        m_prepare(*apps);
    if (!m_list) {
        // A fresh list each time it replaces the placeholder: no search, no system apps.
        BrowserModel* browser = &m_model;
        m_list = new AppsList([browser] { return browser->saveFolder(); }, m_onInstall, this);
        m_stack->addWidget(m_list);
    }
    m_list->setModel(apps);
    m_stack->setCurrentWidget(m_list);
    if (m_apps)
        m_apps->drop();
    m_apps = std::move(apps);
    setWindowTitle(ToolWindow::title(QStringLiteral("Apps"), m_apps->name()));
    m_apps->reload();
}

void AppsWindow::dropModel()
{
    if (m_list) {
        m_stack->removeWidget(m_list);
        delete m_list;
        m_list = nullptr;
    }
    if (m_apps)
        m_apps->drop();
    m_apps.reset();
    m_stack->setCurrentWidget(m_placeholder);
    setWindowTitle(ToolWindow::title(QStringLiteral("Apps"), std::nullopt));
}
