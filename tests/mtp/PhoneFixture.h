#pragma once

#include "MTPCodes.h"
#include "MTPConnection.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

constexpr qsizetype MiB = 1024 * 1024;

// A simulated phone on a simulated USB stack, and a connection to it.
class PhoneTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (connection)
            connection->close().wait();
    }

    // Plugs the phone in and connects to it (the way a first device poll does).
    void connect()
    {
        const uint64_t id = host->registryID(phone) ? host->registryID(phone) : host->plug(phone);
        connection = std::make_shared<MTPConnection>(host, id, QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
        connection->check();
    }

    // A new connection and session, so that changed settings of the phone are read anew.
    void reconnect()
    {
        connection->close().wait();
        connect();
        phone->clearRecords();
    }

    template <class Body>
    auto onQueue(Body&& body)
    {
        return connection->run(std::forward<Body>(body), Cancel());
    }

    QByteArray fetch(uint16_t code, std::vector<uint32_t> params = {})
    {
        return onQueue([&](MTPConnection& c) { return c.fetch(code, params, QStringLiteral("do that")); });
    }

    std::shared_ptr<mtpsim::SimulatedUsbHost> host = std::make_shared<mtpsim::SimulatedUsbHost>();
    std::shared_ptr<mtpsim::SimulatedPhone> phone = std::make_shared<mtpsim::SimulatedPhone>();
    std::shared_ptr<MTPConnection> connection;
};

// A ready connection as PhoneFiles, a local folder, and a record of what the phone was asked.
class FilesTest : public PhoneTest {
protected:
    void SetUp() override
    {
        connect();
        ASSERT_EQ(connection->status(), MTPConnection::Status::ready);
        ASSERT_TRUE(temp.isValid());
        phone->clearRecords();
    }

    PhoneFiles& files() { return *connection; }
    QString local(const QString& name) const { return temp.filePath(name); }

    // How often the phone was sent this operation since the records were cleared.
    long sent(uint16_t code) const
    {
        const auto codes = phone->commandCodes();
        return std::count(codes.begin(), codes.end(), code);
    }

    // The sorted names of a phone folder's listing, hidden ones included.
    std::vector<QString> names(const QString& path)
    {
        std::vector<QString> result;
        for (const RemoteEntry& e : files().list(path, true, Cancel()))
            result.push_back(e.name);
        std::sort(result.begin(), result.end());
        return result;
    }

    static bool write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }
    static std::optional<QByteArray> read(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }
    static QStringList entries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Name);
    }

    QTemporaryDir temp;
};

inline QByteArray bytesOf(qsizetype size, char seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed + i / 997) & 0xff);
    return bytes;
}

// The error of type E a call throws, or nothing.
template <class E = MTPError, class F>
std::optional<E> errorOf(F&& call)
{
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}

// The sentence of the MTPError a call throws, or the empty text.
template <class F>
QString failureOf(F&& call)
{
    const auto error = errorOf(std::forward<F>(call));
    return error ? error->description() : QString();
}

template <class F>
std::optional<MTPError::Kind> kindOf(F&& call)
{
    const auto error = errorOf(std::forward<F>(call));
    return error ? std::optional(error->kind()) : std::nullopt;
}
