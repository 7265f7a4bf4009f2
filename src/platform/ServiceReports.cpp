#include "ServiceReports.h"

void ServiceReports::add(const QString& name, Where where)
{
    m_names[name][where] = Report{};
}

ServiceBrowser::Resolved ServiceReports::resolve(const QString& name, Where where, const QByteArray& address,
                                                 uint16_t port)
{
    m_names[name][where] = Report{address, port};
    ServiceBrowser::Resolved result = *merged(name);
    result.port = port;
    return result;
}

ServiceReports::Removal ServiceReports::remove(const QString& name, Where where)
{
    auto found = m_names.find(name);
    if (found == m_names.end())
        return {};
    auto& reports = found->second;
    auto report = reports.find(where);
    if (report == reports.end())
        return {};
    const bool wasResolved = report->second.address.has_value();
    reports.erase(report);
    if (reports.empty()) {
        m_names.erase(found);
        return {true, std::nullopt};
    }
    // Only a resolved report changes what callers were told.
    return {false, wasResolved ? merged(name) : std::nullopt};
}

QStringList ServiceReports::clear()
{
    QStringList names;
    for (const auto& entry : m_names)
        names << entry.first;
    m_names.clear();
    return names;
}

std::optional<ServiceBrowser::Resolved> ServiceReports::merged(const QString& name) const
{
    auto found = m_names.find(name);
    if (found == m_names.end())
        return std::nullopt;
    ServiceBrowser::Resolved result{name, {}, 0};
    bool any = false;
    for (const auto& [where, report] : found->second) {
        if (!report.address)
            continue;
        if (!any)
            result.port = report.port;
        any = true;
        result.addresses << *report.address;
    }
    if (!any)
        return std::nullopt;
    return result;
}
