#include "DetailView.h"

#include "BrowserModel.h"
#include "BrowserPane.h"
#include "BusyPhoneView.h"
#include "ConnectGuide.h"
#include "EmptyStateView.h"

#include <QVBoxLayout>

using WindowRules::DetailCase;

DetailView::DetailView(const Environment& env, QWidget* parent) : QWidget(parent), m_env(env)
{
    setObjectName(QStringLiteral("detail"));
    setMinimumWidth(480);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    BrowserModel* model = m_env.model;
    for (auto signal : {&BrowserModel::adbMissingChanged, &BrowserModel::devicesChanged,
                        &BrowserModel::selectedSerialChanged})
        connect(model, signal, this, &DetailView::update);
    update();
}

BrowserPane* DetailView::browser() const
{
    return m_case == DetailCase::browser ? static_cast<BrowserPane*>(m_view) : nullptr;
}

void DetailView::update()
{
    const BrowserModel* model = m_env.model;
    const std::optional<Device> device = model->selectedDevice();
    const DetailCase which = WindowRules::detailCase(model->adbMissing(), model->devices().isEmpty(), device);

    // The hints name the phone, so another phone or name makes them anew;
    // the browser follows the model by itself and stays.
    QString key = QString::number(int(which));
    if (which == DetailCase::unauthorized || which == DetailCase::locked || which == DetailCase::busy ||
        which == DetailCase::noPermissions || which == DetailCase::connecting)
        key += QLatin1Char('\n') + device->serial + QLatin1Char('\n') + device->model;
    if (m_view && key == m_shownKey)
        return;

    const bool wasBrowsing = m_view && m_case == DetailCase::browser;
    if (m_view) {
        m_view->hide();
        m_view->deleteLater();
    }
    m_case = which;
    m_shownKey = key;
    m_view = makeView(which, device);
    layout()->addWidget(m_view);
    const bool browsing = which == DetailCase::browser;
    if (browsing != wasBrowsing)
        Q_EMIT browsingChanged(browsing);
}

QWidget* DetailView::makeView(DetailCase which, const std::optional<Device>& device)
{
    switch (which) {
    case DetailCase::installTools:
        return new EmptyStateView(
            QStringLiteral("wrench.and.screwdriver"), QStringLiteral("Install Android platform tools"),
            QStringLiteral("Plug in your phone and choose File transfer on it to browse files. For installing apps, "
                           "screenshots and screen mirroring, Vantelorquist also uses Google's adb tool. Run this in "
                           "Terminal; the app picks it up as soon as it's installed."),
            QStringLiteral("sudo apt install adb"), this);
    case DetailCase::browser:
        return new BrowserPane(m_env, this);
    case DetailCase::unauthorized:
        return new EmptyStateView(
            QStringLiteral("lock.fill"), QStringLiteral("Allow USB debugging on your phone"),
            QStringLiteral("Unlock ") + device->model +
                QStringLiteral(" and tap Allow on the “Allow USB debugging?” prompt. Tick “Always allow from this "
                               "computer” to skip this next time."),
            std::nullopt, this);
    case DetailCase::locked:
        return new EmptyStateView(QStringLiteral("lock.fill"), QStringLiteral("Unlock your phone"),
                                  QStringLiteral("Unlock ") + device->model +
                                      QStringLiteral(" to see its files. If it asks “Use USB for”, choose File "
                                                     "transfer."),
                                  std::nullopt, this);
    case DetailCase::busy:
        return new BusyPhoneView(m_env, *device, this);
    case DetailCase::noPermissions:
        // The project's udev rule opens phones in File transfer mode to the
        // person at the seat; adb reaches them through the same device.
        return new EmptyStateView(
            QStringLiteral("lock.fill"), QStringLiteral("Allow this computer to use your phone"),
            QStringLiteral("This computer's USB access rights keep Vantelorquist from using ") + device->model +
                QStringLiteral(". Vantelorquist's udev rule gives you access to phones in File transfer mode: choose "
                               "File transfer when the phone asks “Use USB for”, then unplug it and plug it in "
                               "again."),
            std::nullopt, this);
    case DetailCase::connecting:
        return new EmptyStateView(
            QStringLiteral("cable.connector"), QStringLiteral("Connecting to your phone"),
            QStringLiteral("Vantelorquist is connecting to ") + device->model +
                QStringLiteral(". If this takes long, unlock the phone, or unplug it and plug it in again."),
            std::nullopt, this);
    case DetailCase::connectGuide:
        break;
    }
    return new ConnectGuide(m_env, ConnectGuide::connectSteps(), this);
}
