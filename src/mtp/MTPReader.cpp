#include "MTPReader.h"

#include "MTPCodes.h"
#include "MTPError.h"

#include <algorithm>

namespace {

// The bytes of one value of a fixed-size datatype; 0 for strings, arrays and unknown codes.
qsizetype fixedSize(uint16_t type)
{
    using namespace mtp::DataType;
    switch (type) {
    case int8:
    case uint8:
        return 1;
    case int16:
    case uint16:
        return 2;
    case int32:
    case uint32:
        return 4;
    case int64:
    case uint64:
        return 8;
    case int128:
    case uint128:
        return 16;
    default:
        return 0;
    }
}

} // namespace

void MTPReader::unexpected()
{
    throw MTPError::failed(QStringLiteral("The phone sent an unexpected reply."));
}

uint64_t MTPReader::integer(int count)
{
    if (count < 0 || remaining() < count)
        unexpected();
    uint64_t value = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_bytes.constData()) + m_position;
    for (int i = 0; i < count && i < 8; ++i)
        value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    m_position += count;
    return value;
}

void MTPReader::skip(qsizetype count)
{
    // A short dataset fails at its next real read, never here.
    if (count > 0)
        m_position += std::min(count, remaining());
}

uint32_t MTPReader::count(qsizetype elementSize)
{
    const qsizetype start = m_position;
    const uint32_t n = u32();
    if (elementSize > 0 && n > remaining() / elementSize) {
        m_position = start;
        unexpected();
    }
    return n;
}

QString MTPReader::string()
{
    if (remaining() < 1 || remaining() - 1 < 2 * qsizetype(static_cast<uint8_t>(m_bytes.at(m_position))))
        unexpected();
    const int count = u8();
    std::vector<char16_t> units;
    units.reserve(count);
    for (int i = 0; i < count; ++i)
        units.push_back(static_cast<char16_t>(u16()));
    if (!units.empty() && units.back() == 0)
        units.pop_back();
    // Decode strictly: an unpaired surrogate becomes U+FFFD.
    QString text;
    text.reserve(static_cast<qsizetype>(units.size()));
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit) && i + 1 < units.size() && QChar::isLowSurrogate(units[i + 1])) {
            text.append(QChar(unit));
            text.append(QChar(units[++i]));
        } else if (QChar::isSurrogate(unit)) {
            text.append(QChar(QChar::ReplacementCharacter));
        } else {
            text.append(QChar(unit));
        }
    }
    return text;
}

template <class T>
std::vector<T> MTPReader::array()
{
    const uint32_t n = count(sizeof(T));
    std::vector<T> values;
    values.reserve(n);
    for (uint32_t i = 0; i < n; ++i)
        values.push_back(static_cast<T>(integer(sizeof(T))));
    return values;
}

std::vector<uint16_t> MTPReader::u16Array()
{
    return array<uint16_t>();
}

std::vector<uint32_t> MTPReader::u32Array()
{
    return array<uint32_t>();
}

std::optional<MTPValue> MTPReader::value(uint16_t type)
{
    using namespace mtp::DataType;
    switch (type) {
    case int8:
    case uint8:
        return MTPValue(u8());
    case int16:
    case uint16:
        return MTPValue(u16());
    case int32:
    case uint32:
        return MTPValue(u32());
    case int64:
    case uint64:
        return MTPValue(u64());
    case int128:
    case uint128:
        skip(16); // values nobody uses: what is there of them is passed over
        return std::nullopt;
    case mtp::DataType::string:
        return MTPValue(this->string());
    default:
        break;
    }
    if (!(type & arrayFlag))
        unexpected();
    // Arrays are skipped in one step, however large the count. Their 128-bit
    // elements are skipped as single ones are, stopping at the end.
    const uint16_t elementType = static_cast<uint16_t>(type & ~arrayFlag);
    const qsizetype element = fixedSize(elementType);
    if (elementType == int128 || elementType == uint128) {
        skip(qsizetype(u32()) * element);
        return std::nullopt;
    }
    const qsizetype start = m_position;
    const uint32_t n = count(element);
    if (element == 0 && n > 0) {
        // Elements of a type this reader doesn't know can't be passed over; none is nothing to pass.
        m_position = start;
        unexpected();
    }
    skip(qsizetype(n) * element);
    return std::nullopt;
}
