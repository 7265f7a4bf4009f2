#include "MirrorStreamWriter.h"

#include <QtEndian>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace mirrorstream {

namespace {

template <class T>
void append(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

} // namespace

QByteArray header(quint8 flags, quint32 length)
{
    QByteArray out(1, char(flags));
    out.append(7, '\0');
    append(out, length);
    return out;
}

QByteArray videoSize(quint32 width, quint32 height)
{
    QByteArray out;
    append(out, quint32(0x80000000));
    append(out, width);
    append(out, height);
    return out;
}

QByteArray videoConfiguration(const QByteArray& parameterSets) { return header(0x40, quint32(parameterSets.size())) + parameterSets; }

QByteArray videoPicture(const QByteArray& accessUnit) { return header(0, quint32(accessUnit.size())) + accessUnit; }

QByteArray audioCodec() { return QByteArray("\0raw", 4); }

QByteArray audioConfiguration(const QByteArray& payload) { return header(0x40, quint32(payload.size())) + payload; }

QByteArray audioPcm(const QByteArray& pcm) { return header(0, quint32(pcm.size())) + pcm; }

QByteArray clipboard(const QByteArray& utf8)
{
    QByteArray out(1, char(0));
    append(out, quint32(utf8.size()));
    return out + utf8;
}

QByteArray clipboardAcknowledgement(quint64 sequence)
{
    QByteArray out(1, char(1));
    append(out, sequence);
    return out;
}

QByteArray uhidOutput(quint16 id, const QByteArray& data)
{
    QByteArray out(1, char(2));
    append(out, id);
    append(out, quint16(data.size()));
    return out + data;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t wrote = ::send(fd, at, size_t(left), MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        at += wrote;
        left -= wrote;
    }
    return true;
}

} // namespace mirrorstream
