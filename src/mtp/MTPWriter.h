#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Builds one outgoing dataset, little-endian. Writing never fails.
class MTPWriter {
public:
    void u8(uint8_t value) { data.append(static_cast<char>(value)); }
    void u16(uint16_t value);
    void u32(uint32_t value);
    void u64(uint64_t value);
    // A count byte and at most 254 UTF-16 units plus the NUL; the empty text is one 0 byte.
    void string(const QString& text);

    QByteArray data;
};
