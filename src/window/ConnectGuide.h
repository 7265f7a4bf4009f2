#pragma once

#include "Environment.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QPushButton;

// How to connect a phone: a drawn phone beside numbered steps, and a button
// that opens the Wi-Fi connection sheet instead.
class ConnectGuide : public QWidget {
    Q_OBJECT
public:
    using Step = QPair<QString, QString>; // title, detail

    ConnectGuide(const Environment& env, const QList<Step>& steps, QWidget* parent = nullptr);

    // The steps of the guide, the only ones there are.
    static const QList<Step>& connectSteps();

    QPushButton* wirelessButton() const { return m_wireless; }

private:
    Environment m_env;
    QPushButton* m_wireless;
};
