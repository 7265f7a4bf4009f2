#pragma once

// adb's transport messages: a 24-byte header of six little-endian words
// (command, arg0, arg1, data length, data checksum, command ^ 0xffffffff)
// followed by the data.

#include <QByteArray>

#include <cstdint>

namespace adbwire {

constexpr uint32_t tag(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

constexpr uint32_t kSync = tag("SYNC");
constexpr uint32_t kCnxn = tag("CNXN");
constexpr uint32_t kAuth = tag("AUTH");
constexpr uint32_t kOpen = tag("OPEN");
constexpr uint32_t kOkay = tag("OKAY");
constexpr uint32_t kClse = tag("CLSE");
constexpr uint32_t kWrte = tag("WRTE");

constexpr uint32_t kVersion = 0x01000001;      // checksums optional from this version on
constexpr uint32_t kMaxPayload = 256 * 1024;   // what the phone offers
constexpr uint32_t kLargestAccepted = 1 << 20; // anything longer is garbage
constexpr int kHeaderSize = 24;

constexpr uint32_t kAuthToken = 1;
constexpr uint32_t kAuthSignature = 2;
constexpr uint32_t kAuthPublicKey = 3;

struct Message {
    uint32_t command = 0;
    uint32_t arg0 = 0;
    uint32_t arg1 = 0;
    QByteArray data;
};

void putLe32(QByteArray& out, uint32_t value);
uint32_t le32(const char* bytes);

QByteArray encode(uint32_t command, uint32_t arg0, uint32_t arg1, const QByteArray& data = {});

enum class Parse { Incomplete, Complete, Invalid };

// Takes one message off the front of `buffer` when it is complete. Invalid:
// a wrong magic, an unknown command or an oversized length; the connection
// cannot be trusted after that.
Parse takeMessage(QByteArray& buffer, Message& message);

} // namespace adbwire
