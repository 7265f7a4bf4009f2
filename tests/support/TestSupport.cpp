#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include <chrono>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

namespace testsupport {

QString writeScript(const QString& folder, const QString& name, const QByteArray& body)
{
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

namespace {

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= static_cast<unsigned char>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(quint32 value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    return bigEndian(quint32(data.size())) + type + data + bigEndian(crc32(type + data));
}

} // namespace

QByteArray pngCarrying(const QByteArray& payload)
{
    // 1×1, 8-bit grey; the image data is one row: filter byte, pixel.
    const QByteArray header = bigEndian(1) + bigEndian(1) + QByteArray("\x08\x00\x00\x00\x00", 5);
    const QByteArray pixels = qCompress(QByteArray(2, '\0')).mid(4); // without Qt's length prefix
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += pngChunk("IHDR", header);
    if (!payload.isEmpty())
        png += pngChunk("prIv", payload);
    png += pngChunk("IDAT", pixels);
    png += pngChunk("IEND", {});
    return png;
}

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int openDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

int reapZombies()
{
    int count = 0;
    while (::waitpid(-1, nullptr, WNOHANG) > 0)
        ++count;
    return count;
}

bool processAlive(long pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && close + 2 < line.size() && line.at(close + 2) != 'Z';
}

namespace {

bool canListenOn(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0;
    ::close(fd);
    return free;
}

} // namespace

quint16 unusedLoopbackPort()
{
    int low = 32768;
    int high = 60999;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> bounds = range.readAll().simplified().split(' ');
        if (bounds.size() == 2 && bounds[0].toInt() > 0 && bounds[1].toInt() >= bounds[0].toInt()) {
            low = bounds[0].toInt();
            high = bounds[1].toInt();
        }
    }
    // Below the range when there is room there, else above it.
    const int first = low > 11024 ? low - 10000 : high + 1;
    const int last = low > 11024 ? low - 1 : 65535;
    if (first > last)
        return 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<quint16>(QRandomGenerator::global()->bounded(first, last + 1));
        if (canListenOn(port))
            return port;
    }
    return 0;
}

} // namespace testsupport
