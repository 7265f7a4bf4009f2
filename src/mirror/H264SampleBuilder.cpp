#include "H264SampleBuilder.h"

#include <QtEndian>

#include <algorithm>

namespace {

enum NalType : int { idrSlice = 5, sequenceParameters = 7, pictureParameters = 8, delimiter = 9 };

int typeOf(const QByteArray& unit) { return unit.isEmpty() ? -1 : quint8(unit[0]) & 0x1F; }

// A parameter set preceded by its 16-bit big-endian length, as the avcC record holds it.
void appendSet(QByteArray& out, const QByteArray& set)
{
    out.append(char(set.size() >> 8)).append(char(set.size() & 0xFF)).append(set);
}

} // namespace

std::shared_ptr<const H264Format> H264Format::create(const QByteArray& sps, const QByteArray& pps)
{
    if (sps.size() < 4 || pps.isEmpty() || sps.size() > 0xFFFF || pps.size() > 0xFFFF)
        return nullptr;
    auto format = std::shared_ptr<H264Format>(new H264Format);
    format->m_sps = sps;
    format->m_pps = pps;
    QByteArray& r = format->m_avcC;
    r.reserve(11 + sps.size() + pps.size());
    r.append(char(1));   // version
    r.append(sps[1]);    // profile
    r.append(sps[2]);    // profile compatibility
    r.append(sps[3]);    // level
    r.append(char(0xFF)); // 4-byte NAL lengths
    r.append(char(0xE1)); // one SPS
    appendSet(r, sps);
    r.append(char(1)); // one PPS
    appendSet(r, pps);
    return format;
}

H264Sample::H264Sample(std::shared_ptr<const H264Format> format, std::vector<uint8_t> paddedUnits)
    : m_format(std::move(format)), m_bytes(std::move(paddedUnits))
{
}

bool H264Sample::isKeyFrame() const
{
    size_t at = 0;
    const size_t end = size();
    while (at + 4 < end) {
        const size_t length = qFromBigEndian<quint32>(m_bytes.data() + at);
        if ((m_bytes[at + 4] & 0x1F) == idrSlice)
            return true;
        at += 4 + length;
    }
    return false;
}

std::vector<QByteArray> H264SampleBuilder::nalUnits(const QByteArray& bytes)
{
    std::vector<QByteArray> units;
    const qsizetype n = bytes.size();
    if (n < 3)
        return units;
    const char* b = bytes.constData();
    qsizetype start = -1;
    qsizetype i = 0;
    while (i + 2 < n) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
            if (start >= 0) {
                // A zero just before belongs to a four-byte start code.
                const qsizetype end = (i > start && b[i - 1] == 0) ? i - 1 : i;
                if (start < end)
                    units.push_back(bytes.mid(start, end - start));
            }
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (start >= 0 && start < n)
        units.push_back(bytes.mid(start));
    return units;
}

bool H264SampleBuilder::configure(const QByteArray& packet)
{
    const auto units = nalUnits(packet);
    const QByteArray* sps = nullptr;
    const QByteArray* pps = nullptr;
    for (const QByteArray& unit : units) {
        if (!sps && typeOf(unit) == sequenceParameters)
            sps = &unit;
        if (!pps && typeOf(unit) == pictureParameters)
            pps = &unit;
    }
    if (!sps || !pps)
        return false;
    auto format = H264Format::create(*sps, *pps);
    if (!format)
        return false;
    m_format = std::move(format);
    return true;
}

std::optional<H264Sample> H264SampleBuilder::sample(const QByteArray& packet)
{
    const std::vector<QByteArray> units = nalUnits(packet);
    // Parameter sets in band, before a key frame, replace the format.
    const auto isSps = [](const QByteArray& unit) { return typeOf(unit) == sequenceParameters; };
    if (packet.size() >= 5 && std::any_of(units.begin(), units.end(), isSps))
        configure(packet);
    if (!m_format)
        return std::nullopt;

    std::vector<uint8_t> out;
    out.reserve(size_t(packet.size()) + 16 + H264Sample::padding);
    for (const QByteArray& unit : units) {
        const int type = typeOf(unit);
        if (type == sequenceParameters || type == pictureParameters || type == delimiter)
            continue;
        uint8_t length[4];
        qToBigEndian(quint32(unit.size()), length);
        out.insert(out.end(), length, length + 4);
        out.insert(out.end(), unit.constData(), unit.constData() + unit.size());
    }
    if (out.empty())
        return std::nullopt;
    out.resize(out.size() + H264Sample::padding, 0);
    return H264Sample(m_format, std::move(out));
}
