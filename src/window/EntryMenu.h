#pragma once

#include "Environment.h"

#include <QMenu>

// The one context menu of phone items: over the items clicked, or the
// folder's own menu when there are none. Every item hands its work to the
// model; one whose operation is not available is shown disabled.
class EntryMenu : public QMenu {
    Q_OBJECT
public:
    EntryMenu(const Environment& env, const QList<RemoteEntry>& items, QWidget* parent = nullptr);

    const QList<RemoteEntry>& items() const { return m_items; }

private:
    Environment m_env;
    QList<RemoteEntry> m_items;
};
