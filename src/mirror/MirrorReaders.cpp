// The reader loops of a mirroring connection and the exact read they share.

#include "MirrorConnection.h"

#include "Error.h"
#include "MirrorAudio.h"

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Longest payloads taken from the phone, checked before anything is allocated.
constexpr quint32 videoPayloadLimit = 1u << 25;  // 32 MiB
constexpr quint32 audioPayloadLimit = 1u << 20;  // 1 MiB
constexpr quint32 clipboardLimit = 1u << 20;     // 1 MiB

// The largest frame side taken: beyond any phone screen and H.264's own
// limits, and far within what the picture's int sizes hold.
constexpr quint32 frameSideLimit = 16384;

constexpr quint8 sizeFlag = 0x80;          // top bit of the first header byte
constexpr quint8 configurationFlag = 0x40; // the next bit

template <class T>
T readNumber(int fd)
{
    uchar bytes[sizeof(T)];
    MirrorConnection::readExact(fd, bytes, sizeof(T));
    return qFromBigEndian<T>(bytes);
}

QByteArray readPayload(int fd, quint32 length)
{
    QByteArray payload(qsizetype(length), Qt::Uninitialized);
    MirrorConnection::readExact(fd, payload.data(), length);
    return payload;
}

} // namespace

SystemError MirrorConnection::posixError(int code)
{
    return SystemError(QString::fromLocal8Bit(std::strerror(code)), code);
}

void MirrorConnection::readExact(int fd, void* buffer, size_t size)
{
    auto* at = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(fd, at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw MirrorConnection::posixError(ECONNRESET);
        at += got;
        size -= size_t(got);
    }
}

void MirrorConnection::readVideo(int fd, ReaderLink& link, const EventHandler& onEvent)
{
    H264SampleBuilder builder;
    uchar header[12];
    try {
        while (true) {
            readExact(fd, header, sizeof header);
            if (header[0] & sizeFlag) {
                const quint32 width = qFromBigEndian<quint32>(header + 4);
                const quint32 height = qFromBigEndian<quint32>(header + 8);
                // A side no picture can have is a broken stream.
                if (width > frameSideLimit || height > frameSideLimit)
                    throw MirrorConnection::posixError(EBADMSG);
                // A zero side would reach the fitting and the touch mapping as a division by zero.
                if (width > 0 && height > 0)
                    onEvent(Event {Event::Size {double(width), double(height)}});
                continue;
            }
            const quint32 length = qFromBigEndian<quint32>(header + 8);
            if (length == 0 || length >= videoPayloadLimit)
                throw MirrorConnection::posixError(EBADMSG);
            const QByteArray payload = readPayload(fd, length);
            if (header[0] & configurationFlag) {
                builder.configure(payload);
            } else if (auto sample = builder.sample(payload)) {
                onEvent(Event {Event::Frame {std::move(*sample)}});
            }
        }
    } catch (const std::exception&) { // a broken stream, or no memory for a payload
        if (link.stopped())
            return;
        link.stop();
        onEvent(Event {Event::Ended {std::current_exception()}});
    }
}

void MirrorConnection::readAudio(int fd, ReaderLink& link, const AudioFactory& makePlayer)
{
    try {
        uchar codec[4];
        readExact(fd, codec, sizeof codec);
        if (qFromBigEndian<quint32>(codec) != 0x00726177) // "\0raw"
            return;
        std::shared_ptr<MirrorAudio> player;
        try {
            player = makePlayer ? makePlayer() : std::make_shared<MirrorAudio>();
        } catch (const Error&) {
            return; // mirroring goes on without sound
        }
        if (!player)
            return;
        if (!link.keepAudio(player)) {
            player->stop();
            return;
        }
        uchar header[12];
        while (true) {
            readExact(fd, header, sizeof header);
            const quint32 length = qFromBigEndian<quint32>(header + 8);
            if (length == 0 || length >= audioPayloadLimit)
                return;
            const QByteArray payload = readPayload(fd, length);
            if (!(header[0] & configurationFlag))
                player->play(payload);
        }
    } catch (const std::exception&) {
    }
}

void MirrorConnection::readDeviceMessages(int fd, const EventHandler& onEvent)
{
    try {
        while (true) {
            quint8 type;
            readExact(fd, &type, 1);
            switch (type) {
            case 0: { // clipboard
                const quint32 length = readNumber<quint32>(fd);
                if (length >= clipboardLimit)
                    return;
                const QByteArray text = length > 0 ? readPayload(fd, length) : QByteArray();
                onEvent(Event {Event::Clipboard {QString::fromUtf8(text)}});
                break;
            }
            case 1: // clipboard acknowledgement
                readNumber<quint64>(fd);
                break;
            case 2: { // UHID output
                readNumber<quint16>(fd);
                const quint16 size = readNumber<quint16>(fd);
                if (size > 0)
                    readPayload(fd, size);
                break;
            }
            default: {
                // Unknown layout: nothing after it can be parsed, so the rest is drained.
                char scratch[4096];
                while (true) {
                    const ssize_t got = ::read(fd, scratch, sizeof scratch);
                    if (got < 0 && errno == EINTR)
                        continue;
                    if (got <= 0)
                        return;
                }
            }
            }
        }
    } catch (const std::exception&) {
    }
}
