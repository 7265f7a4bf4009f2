#pragma once

#include "ServiceBrowser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

// The reports DNS-SD gives for the instances of one service type. The daemon
// reports an instance once per network interface and protocol; callers want
// one service per instance name, gone only when its last report is.
class ServiceReports {
public:
    struct Where {
        int interface = 0;
        int protocol = 0;
        friend auto operator<=>(const Where&, const Where&) = default;
    };

    struct Removal {
        bool gone = false;                              // that was the name's last report
        std::optional<ServiceBrowser::Resolved> update; // else what remains resolved, if anything
    };

    // A report appeared, or appeared again: its earlier resolution is void.
    void add(const QString& name, Where where);
    // A report resolved: the instance with the addresses of all its resolved
    // reports (in a stable order), and this port.
    ServiceBrowser::Resolved resolve(const QString& name, Where where, const QByteArray& address, uint16_t port);
    Removal remove(const QString& name, Where where);
    // Forgets everything; returns the names that had reports.
    QStringList clear();

    bool contains(const QString& name) const { return m_names.count(name) != 0; }

private:
    struct Report {
        std::optional<QByteArray> address;
        uint16_t port = 0;
    };
    std::optional<ServiceBrowser::Resolved> merged(const QString& name) const;

    std::map<QString, std::map<Where, Report>> m_names;
};
