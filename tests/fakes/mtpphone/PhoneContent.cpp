#include "PhoneContent.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mtpsim {

namespace {

uint64_t mixed(uint64_t lane, uint64_t word)
{
    lane ^= word;
    lane *= 0xFF51AFD7ED558CCDull;
    return lane ^ (lane >> 29);
}

} // namespace

void Digest::block(const unsigned char* bytes)
{
    for (int i = 0; i < 4; ++i) {
        uint64_t word;
        std::memcpy(&word, bytes + 8 * i, 8);
        m_lanes[i] = mixed(m_lanes[i], word);
    }
}

void Digest::update(const char* data, size_t size)
{
    m_count += size;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (m_carried > 0) {
        const size_t n = std::min(size, sizeof m_carry - m_carried);
        std::memcpy(m_carry + m_carried, bytes, n);
        m_carried += n;
        bytes += n;
        size -= n;
        if (m_carried < sizeof m_carry)
            return;
        block(m_carry);
        m_carried = 0;
    }
    for (; size >= sizeof m_carry; bytes += sizeof m_carry, size -= sizeof m_carry)
        block(bytes);
    std::memcpy(m_carry, bytes, size);
    m_carried = size;
}

uint64_t Digest::value() const
{
    uint64_t hash = m_count;
    for (uint64_t lane : m_lanes)
        hash = mixed(hash, lane);
    for (size_t i = 0; i < m_carried; ++i)
        hash = mixed(hash, m_carry[i] + (uint64_t(i) << 8));
    return hash;
}

uint64_t Content::digest() const
{
    Digest digest;
    std::vector<char> buffer(1 << 20);
    for (uint64_t at = 0; at < size();) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size() - at));
        read(at, buffer.data(), count);
        digest.update(buffer.data(), count);
        at += count;
    }
    return digest.value();
}

QByteArray Content::bytes() const
{
    QByteArray all(static_cast<qsizetype>(size()), Qt::Uninitialized);
    read(0, all.data(), all.size());
    return all;
}

namespace {

class BytesContent : public Content {
public:
    explicit BytesContent(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    uint64_t size() const override { return static_cast<uint64_t>(m_bytes.size()); }
    void read(uint64_t offset, char* out, size_t count) const override
    {
        std::memcpy(out, m_bytes.constData() + offset, count);
    }

private:
    QByteArray m_bytes;
};

// A period that no power of two divides, so packet and transfer boundaries
// never line up with a repetition.
constexpr size_t patternPeriod = 251 * 1021;
constexpr size_t patternSpan = 2 << 20;

const std::vector<char>& patternTable()
{
    static const std::vector<char> table = [] {
        std::vector<char> t(patternPeriod + patternSpan);
        uint32_t x = 0x12345678;
        for (size_t i = 0; i < patternPeriod; ++i) {
            x = x * 1103515245u + 12345u;
            t[i] = static_cast<char>(x >> 23);
        }
        for (size_t i = patternPeriod; i < t.size(); ++i)
            t[i] = t[i - patternPeriod];
        return t;
    }();
    return table;
}

class PatternContent : public Content {
public:
    PatternContent(uint64_t size, uint32_t seed) : m_size(size), m_seed(seed) {}
    uint64_t size() const override { return m_size; }
    void read(uint64_t offset, char* out, size_t count) const override { patternBytes(m_seed, offset, out, count); }

private:
    uint64_t m_size;
    uint32_t m_seed;
};

} // namespace

std::shared_ptr<Content> bytesContent(QByteArray bytes)
{
    return std::make_shared<BytesContent>(std::move(bytes));
}

std::shared_ptr<Content> patternContent(uint64_t size, uint32_t seed)
{
    return std::make_shared<PatternContent>(size, seed);
}

void patternBytes(uint32_t seed, uint64_t offset, char* out, size_t count)
{
    const auto& table = patternTable();
    while (count > 0) {
        const size_t start = static_cast<size_t>((offset + seed * 7919ull) % patternPeriod);
        const size_t n = std::min(count, patternSpan);
        std::memcpy(out, table.data() + start, n);
        out += n;
        offset += n;
        count -= n;
    }
}

void ReceivedContent::append(const char* data, size_t size)
{
    m_digest.update(data, size);
    if (m_size < m_keepLimit) {
        const size_t keep = static_cast<size_t>(std::min<uint64_t>(size, m_keepLimit - m_size));
        m_kept.append(data, static_cast<qsizetype>(keep));
    }
    m_size += size;
}

void ReceivedContent::read(uint64_t offset, char* out, size_t count) const
{
    std::memset(out, 0, count);
    if (offset < static_cast<uint64_t>(m_kept.size())) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, m_kept.size() - offset));
        std::memcpy(out, m_kept.constData() + offset, n);
    }
}

} // namespace mtpsim
