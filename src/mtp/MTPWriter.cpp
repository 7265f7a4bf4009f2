#include "MTPWriter.h"

#include <algorithm>

void MTPWriter::u16(uint16_t value)
{
    u8(static_cast<uint8_t>(value));
    u8(static_cast<uint8_t>(value >> 8));
}

void MTPWriter::u32(uint32_t value)
{
    u16(static_cast<uint16_t>(value));
    u16(static_cast<uint16_t>(value >> 16));
}

void MTPWriter::u64(uint64_t value)
{
    u32(static_cast<uint32_t>(value));
    u32(static_cast<uint32_t>(value >> 32));
}

void MTPWriter::string(const QString& text)
{
    if (text.isEmpty()) {
        u8(0);
        return;
    }
    // Longer texts are cut, even inside a surrogate pair: the count is one byte.
    const qsizetype units = std::min<qsizetype>(text.size(), 254);
    u8(static_cast<uint8_t>(units + 1));
    for (qsizetype i = 0; i < units; ++i)
        u16(text.at(i).unicode());
    u16(0);
}
