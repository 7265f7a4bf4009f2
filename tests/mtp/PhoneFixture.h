#pragma once

#include "MTPCodes.h"
#include "MTPConnection.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"

#include <gtest/gtest.h>

#include <memory>

// A simulated phone on a simulated USB stack, and a connection to it.
class PhoneTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (connection)
            connection->close(true);
    }

    // Plugs the phone in and connects to it (the way a first device poll does).
    std::shared_ptr<MTPConnection> connect()
    {
        const uint64_t id = host->registryID(phone) ? host->registryID(phone) : host->plug(phone);
        connection = std::make_shared<MTPConnection>(host, id, QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
        connection->check();
        return connection;
    }

    // Runs body on the connection's work queue.
    template <class Body>
    auto onQueue(Body&& body)
    {
        return connection->run(std::forward<Body>(body), Cancel());
    }

    // One whole transaction with a data-in phase, collected.
    QByteArray fetch(uint16_t code, std::vector<uint32_t> params = {})
    {
        return onQueue([&](MTPConnection& c) { return c.fetch(code, params, QStringLiteral("do that")); });
    }

    std::shared_ptr<mtpsim::SimulatedUsbHost> host = std::make_shared<mtpsim::SimulatedUsbHost>();
    std::shared_ptr<mtpsim::SimulatedPhone> phone = std::make_shared<mtpsim::SimulatedPhone>();
    std::shared_ptr<MTPConnection> connection;
};

// The MTPError a call throws, or nothing.
template <class F>
std::optional<MTPError> mtpErrorOf(F&& call)
{
    try {
        call();
    } catch (const MTPError& error) {
        return error;
    }
    return std::nullopt;
}
