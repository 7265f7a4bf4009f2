#pragma once

#include "ServiceBrowser.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// A service discovery backend driven by the test: it records what is
// browsed and reports what the test says.
class FakeServiceBrowser : public ServiceBrowser {
public:
    struct Browse {
        QString type;
        QString domain;
        Handlers handlers;
    };

    // Shared with the test, which keeps a pointer after handing the
    // browser to the discovery.
    std::vector<Browse>* browses;

    explicit FakeServiceBrowser(std::vector<Browse>* record) : browses(record) {}

    void browse(const QString& type, const QString& domain, Handlers handlers) override
    {
        browses->push_back({type, domain, std::move(handlers)});
    }
};

// Socket addresses as service discovery hands them over.
QByteArray ipv4Address(const char* dottedQuad, uint16_t port = 0);
QByteArray ipv6Address(const char* text, uint16_t port = 0);
