#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Which of the addresses a network service resolves to this computer can
// reach. Addresses are socket addresses as bytes (a sockaddr_in or
// sockaddr_in6), the form service discovery hands them over in.
namespace LocalNetwork {

// An IPv4 subnet of this computer. Both values are in network byte order,
// as in a sockaddr_in, so a raw address can be masked without conversion.
struct Subnet {
    uint32_t network = 0;
    uint32_t mask = 0;
    friend bool operator==(const Subnet&, const Subnet&) = default;
};

struct IPv4 {
    uint32_t raw = 0; // network byte order
    QString text;     // dotted quad
};

// The subnets of the interfaces that are up and not loopback; empty when
// they can't be listed.
std::vector<Subnet> subnets();

// The IPv4 address in a socket address; none for anything else.
std::optional<IPv4> ipv4(const QByteArray& socketAddress);

// The first IPv4 address on one of this computer's subnets, else the first
// IPv4 address at all; none without IPv4 addresses. IPv6 is never chosen.
std::optional<QString> reachableIPv4(const QList<QByteArray>& addresses);
std::optional<QString> reachableIPv4(const QList<QByteArray>& addresses, const std::vector<Subnet>& subnets);

} // namespace LocalNetwork
