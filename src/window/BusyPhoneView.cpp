#include "BusyPhoneView.h"

#include "BrowserModel.h"
#include "EmptyStateView.h"
#include "Glass.h"
#include "Look.h"

#include <QPushButton>
#include <QVBoxLayout>

BusyPhoneView::BusyPhoneView(const Environment& env, const Device& device, QWidget* parent)
    : QWidget(parent), m_env(env)
{
    setObjectName(QStringLiteral("busyPhone"));
    auto* column = new QVBoxLayout(this);
    column->setSpacing(14);
    column->addStretch();
    m_message = new EmptyStateView(
        QStringLiteral("hand.raised.fill"), QStringLiteral("Another app is using ") + device.model,
        detailText({}),
        std::nullopt, this);
    m_message->setMaximumHeight(360);
    column->addWidget(m_message);

    m_quit = new QPushButton(Look::symbolIcon(QStringLiteral("xmark.circle"), palette().color(QPalette::ButtonText)),
                             QString(), this);
    m_quit->setObjectName(QStringLiteral("quitApps"));
    m_quit->setMinimumHeight(32);
    glassButton(m_quit, false);
    connect(m_quit, &QPushButton::clicked, m_env.model, &BrowserModel::quitConflictingApps);
    column->addWidget(m_quit, 0, Qt::AlignHCenter);
    column->addStretch();

    // The names are read again whenever the model publishes a change.
    BrowserModel* model = m_env.model;
    for (auto signal : {&BrowserModel::devicesChanged, &BrowserModel::deviceInfoChanged, &BrowserModel::jobChanged,
                        &BrowserModel::conflictingAppsChanged})
        connect(model, signal, this, &BusyPhoneView::refresh);
    refresh();
}

QString BusyPhoneView::detailText(const QStringList& names)
{
    // The programs that hold it where they are found; a desktop's file
    // manager is the usual one otherwise.
    const QString which = names.isEmpty() ? QStringLiteral("the other app, such as the file manager")
                                          : names.join(QStringLiteral(" and "));
    return QStringLiteral("Only one app at a time can use a phone's file transfer. Quit ") + which
           + QStringLiteral(", and Vantelorquist connects on its own.");
}

QString BusyPhoneView::quitTitle(const QStringList& names)
{
    return QStringLiteral("Quit ") + names.join(QStringLiteral(" and "));
}

void BusyPhoneView::refresh()
{
    const QStringList& names = m_env.model->conflictingApps();
    m_message->setDetail(detailText(names));
    m_quit->setText(quitTitle(names));
    m_quit->setVisible(!names.isEmpty());
}
