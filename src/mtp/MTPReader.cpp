#include "MTPReader.h"

#include "MTPCodes.h"
#include "MTPError.h"

#include <algorithm>

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
    m_position += std::clamp<qsizetype>(count, 0, remaining());
}

QString MTPReader::string()
{
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

std::vector<uint16_t> MTPReader::u16Array()
{
    const uint32_t count = u32();
    std::vector<uint16_t> values;
    values.reserve(std::min<qsizetype>(count, remaining() / 2));
    for (uint32_t i = 0; i < count; ++i)
        values.push_back(u16());
    return values;
}

std::vector<uint32_t> MTPReader::u32Array()
{
    const uint32_t count = u32();
    std::vector<uint32_t> values;
    values.reserve(std::min<qsizetype>(count, remaining() / 4));
    for (uint32_t i = 0; i < count; ++i)
        values.push_back(u32());
    return values;
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
        skip(16);
        return std::nullopt;
    case mtp::DataType::string:
        return MTPValue(this->string());
    default:
        break;
    }
    if (type & arrayFlag) {
        const uint32_t count = u32();
        const auto element = static_cast<uint16_t>(type & ~arrayFlag);
        for (uint32_t i = 0; i < count; ++i)
            value(element);
        return std::nullopt;
    }
    unexpected();
}
