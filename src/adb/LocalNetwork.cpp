#include "LocalNetwork.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace LocalNetwork {

std::vector<Subnet> subnets()
{
    std::vector<Subnet> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_netmask)
            continue;
        sockaddr_in address{};
        sockaddr_in mask{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        std::memcpy(&mask, entry->ifa_netmask, sizeof mask);
        result.push_back({address.sin_addr.s_addr & mask.sin_addr.s_addr, mask.sin_addr.s_addr});
    }
    ::freeifaddrs(list);
    return result;
}

std::optional<IPv4> ipv4(const QByteArray& socketAddress)
{
    sockaddr_in address{};
    if (socketAddress.size() < qsizetype(sizeof address))
        return std::nullopt;
    std::memcpy(&address, socketAddress.constData(), sizeof address);
    if (address.sin_family != AF_INET)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text))
        return std::nullopt;
    return IPv4{address.sin_addr.s_addr, QString::fromLatin1(text)};
}

std::optional<QString> reachableIPv4(const QList<QByteArray>& addresses)
{
    return reachableIPv4(addresses, subnets());
}

std::optional<QString> reachableIPv4(const QList<QByteArray>& addresses, const std::vector<Subnet>& subnets)
{
    std::optional<QString> first;
    for (const QByteArray& bytes : addresses) {
        const auto address = ipv4(bytes);
        if (!address)
            continue;
        if (!first)
            first = address->text;
        for (const Subnet& subnet : subnets) {
            if ((address->raw & subnet.mask) == subnet.network)
                return address->text;
        }
    }
    return first;
}

} // namespace LocalNetwork
