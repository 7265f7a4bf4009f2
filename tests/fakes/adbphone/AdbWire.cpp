#include "AdbWire.h"

namespace adbwire {

void putLe32(QByteArray& out, uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
                           static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
    out.append(bytes, 4);
}

uint32_t le32(const char* bytes)
{
    const auto* b = reinterpret_cast<const uint8_t*>(bytes);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

QByteArray encode(uint32_t command, uint32_t arg0, uint32_t arg1, const QByteArray& data)
{
    uint32_t sum = 0;
    for (char c : data)
        sum += static_cast<uint8_t>(c);
    QByteArray out;
    out.reserve(kHeaderSize + data.size());
    putLe32(out, command);
    putLe32(out, arg0);
    putLe32(out, arg1);
    putLe32(out, static_cast<uint32_t>(data.size()));
    putLe32(out, sum);
    putLe32(out, command ^ 0xffffffffU);
    out.append(data);
    return out;
}

Parse takeMessage(QByteArray& buffer, Message& message)
{
    if (buffer.size() < kHeaderSize)
        return Parse::Incomplete;
    const char* h = buffer.constData();
    const uint32_t command = le32(h);
    const uint32_t length = le32(h + 12);
    if (le32(h + 20) != (command ^ 0xffffffffU) || length > kLargestAccepted)
        return Parse::Invalid;
    switch (command) {
    case kSync: case kCnxn: case kAuth: case kOpen: case kOkay: case kClse: case kWrte:
        break;
    default:
        return Parse::Invalid;
    }
    if (buffer.size() < kHeaderSize + static_cast<qsizetype>(length))
        return Parse::Incomplete;
    message.command = command;
    message.arg0 = le32(h + 4);
    message.arg1 = le32(h + 8);
    message.data = buffer.mid(kHeaderSize, length);
    // The host skips checksums at our protocol version, so they are not checked.
    buffer.remove(0, kHeaderSize + length);
    return Parse::Complete;
}

} // namespace adbwire
