#pragma once

#include "Environment.h"
#include "WindowRules.h"

#include <QWidget>

class BrowserPane;

// The trailing column of the main window: the file browser of a ready phone,
// or the guide or hint for the state the phones are in.
class DetailView : public QWidget {
    Q_OBJECT
public:
    explicit DetailView(const Environment& env, QWidget* parent = nullptr);

    WindowRules::DetailCase currentCase() const { return m_case; }
    QWidget* currentView() const { return m_view; }
    // The browser while it is shown, else none.
    BrowserPane* browser() const;

Q_SIGNALS:
    // The browser appeared or went (the search field belongs to it).
    void browsingChanged(bool browsing);

private:
    void update();
    QWidget* makeView(WindowRules::DetailCase which, const std::optional<Device>& device);

    Environment m_env;
    WindowRules::DetailCase m_case = WindowRules::DetailCase::connectGuide;
    // What the shown view was made from; another value makes it anew.
    QString m_shownKey;
    QWidget* m_view = nullptr;
};
