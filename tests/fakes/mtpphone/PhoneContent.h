#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mtpsim {

// A running 64-bit digest of a byte stream; the value does not depend on how
// the stream was cut into pieces. Lets tests compare files of gigabytes
// without keeping them.
class Digest {
public:
    void update(const char* data, size_t size);
    uint64_t value() const;

private:
    // Four independent lanes over 32-byte blocks, so that the multiplications overlap.
    void block(const unsigned char* bytes);
    uint64_t m_lanes[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull, 0x27D4EB2F165667C5ull};
    uint64_t m_count = 0;
    unsigned char m_carry[32] = {};
    size_t m_carried = 0;
};

// The bytes of an object on the simulated phone.
class Content {
public:
    virtual ~Content() = default;
    virtual uint64_t size() const = 0;
    // Copies `count` bytes from `offset`; the range lies within size().
    virtual void read(uint64_t offset, char* out, size_t count) const = 0;
    // The digest of all bytes.
    virtual uint64_t digest() const;
    // All bytes (for small contents in tests).
    QByteArray bytes() const;
};

// Bytes held in memory.
std::shared_ptr<Content> bytesContent(QByteArray bytes);

// Bytes made up from their offset, so that a file of any size costs no memory.
std::shared_ptr<Content> patternContent(uint64_t size, uint32_t seed = 0);
// The pattern's bytes, for a local file or a check.
void patternBytes(uint32_t seed, uint64_t offset, char* out, size_t count);

// What the phone received with SendObject. Bytes beyond `keepLimit` are
// counted and digested but not kept (they read back as zeros).
class ReceivedContent : public Content {
public:
    explicit ReceivedContent(uint64_t keepLimit) : m_keepLimit(keepLimit) {}
    void append(const char* data, size_t size);

    uint64_t size() const override { return m_size; }
    void read(uint64_t offset, char* out, size_t count) const override;
    uint64_t digest() const override { return m_digest.value(); }

private:
    uint64_t m_keepLimit;
    uint64_t m_size = 0;
    QByteArray m_kept;
    Digest m_digest;
};

} // namespace mtpsim
