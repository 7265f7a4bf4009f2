#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

// A property value as the phone typed it: signed types are read as the
// unsigned value of the same width.
using MTPValue = std::variant<uint8_t, uint16_t, uint32_t, uint64_t, QString>;

// A cursor over one received data phase, little-endian. Every read checks
// that its whole field remains before it consumes anything and throws
// MTPError::failed("The phone sent an unexpected reply.") when it doesn't,
// leaving the position where it was. A string or array is checked whole
// against its count before any element is read, so a read never stops inside
// a field: a count that claims more than remains fails at once. Skipping is
// the exception: what is skipped is not needed, so a skip stops at the end
// and never fails.
class MTPReader {
public:
    explicit MTPReader(QByteArray bytes) : m_bytes(std::move(bytes)) {}

    // An unsigned integer of `count` bytes (1, 2, 4 or 8 in use); bytes past
    // the eighth add nothing.
    uint64_t integer(int count);
    uint8_t u8() { return static_cast<uint8_t>(integer(1)); }
    uint16_t u16() { return static_cast<uint16_t>(integer(2)); }
    uint32_t u32() { return static_cast<uint32_t>(integer(4)); }
    uint64_t u64() { return integer(8); }

    // Moves past a field without reading it, stopping at the end; never fails.
    void skip(qsizetype count);
    // An element count (u32) whose elements, each at least `elementSize`
    // bytes, fit in what remains after it.
    uint32_t count(qsizetype elementSize);

    // A count byte of UTF-16 units (the terminating NUL included), then the units.
    QString string();
    std::vector<uint16_t> u16Array();
    std::vector<uint32_t> u32Array();

    // A value of an MTP datatype code; nothing for 128-bit values and arrays,
    // which are skipped (128-bit ones stopping at the end). Throws for codes it
    // does not know, and for an array of them that isn't empty.
    std::optional<MTPValue> value(uint16_t type);

    qsizetype position() const { return m_position; }
    qsizetype remaining() const { return m_bytes.size() - m_position; }
    const QByteArray& bytes() const { return m_bytes; }

    // The failure of every read that runs out of bytes.
    [[noreturn]] static void unexpected();

private:
    template <class T>
    std::vector<T> array();

    QByteArray m_bytes;
    qsizetype m_position = 0;
};
