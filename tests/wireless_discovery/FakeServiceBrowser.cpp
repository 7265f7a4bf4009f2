#include "FakeServiceBrowser.h"

#include <arpa/inet.h>
#include <netinet/in.h>

QByteArray ipv4Address(const char* dottedQuad, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, dottedQuad, &address.sin_addr);
    return QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
}

QByteArray ipv6Address(const char* text, uint16_t port)
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    ::inet_pton(AF_INET6, text, &address.sin6_addr);
    return QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
}
