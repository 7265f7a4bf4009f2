#pragma once

#include "PhoneFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <mutex>

// A ready connection to the simulated phone, a local folder to copy to and
// from, and a record of what the phone was asked.
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
    // Names in a local folder, hidden ones included.
    static QStringList entries(const QString& folder)
    {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    }

    QTemporaryDir temp;
};

// Progress values of one copy.
struct ProgressRecord {
    std::mutex mutex;
    std::vector<double> values;
    Progress callback()
    {
        return [this](double value) {
            std::lock_guard lock(mutex);
            values.push_back(value);
        };
    }
    bool risesWithin0And1()
    {
        std::lock_guard lock(mutex);
        return std::is_sorted(values.begin(), values.end())
               && std::all_of(values.begin(), values.end(), [](double v) { return v >= 0.0 && v <= 1.0; });
    }
};

inline QByteArray bytesOf(qsizetype size, char seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed + i / 997) & 0xff);
    return bytes;
}

constexpr qsizetype MiB = 1024 * 1024;
