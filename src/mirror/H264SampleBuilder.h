#pragma once

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The parameter sets of one H.264 stream and the avcC record (4-byte NAL
// lengths) that a decoder is opened with.
class H264Format {
public:
    // None for an SPS shorter than 4 bytes, an empty PPS, or sets too long
    // for the record's 16-bit lengths.
    static std::shared_ptr<const H264Format> create(const QByteArray& sps, const QByteArray& pps);

    const QByteArray& sps() const { return m_sps; }
    const QByteArray& pps() const { return m_pps; }
    const QByteArray& avcC() const { return m_avcC; }

private:
    H264Format() = default;
    QByteArray m_sps;
    QByteArray m_pps;
    QByteArray m_avcC;
};

// One access unit ready for decoding: its format and its NAL units, each
// prefixed with a 4-byte big-endian length. The bytes are followed by
// `padding` zero bytes, as libavcodec's bitstream readers require.
class H264Sample {
public:
    static constexpr size_t padding = 64; // AV_INPUT_BUFFER_PADDING_SIZE

    H264Sample(std::shared_ptr<const H264Format> format, std::vector<uint8_t> paddedUnits);

    const std::shared_ptr<const H264Format>& format() const { return m_format; }
    const uint8_t* data() const { return m_bytes.data(); }
    size_t size() const { return m_bytes.size() - padding; }
    // Whether the unit holds a slice of an IDR picture, from which decoding can start over.
    bool isKeyFrame() const;

private:
    std::shared_ptr<const H264Format> m_format;
    std::vector<uint8_t> m_bytes;
};

// Turns the server's Annex B packets into length-prefixed samples. Confined
// to the video reader's thread.
class H264SampleBuilder {
public:
    // The NAL units of an Annex B byte stream, start codes removed.
    static std::vector<QByteArray> nalUnits(const QByteArray& bytes);

    // Makes and stores a new format from the packet's first SPS and first
    // PPS; false (the old format stays) when either is missing or unusable.
    bool configure(const QByteArray& packet);

    // The packet's picture units as one sample; none before the first
    // configuration or when nothing but parameter sets and delimiters came.
    std::optional<H264Sample> sample(const QByteArray& packet);

    const std::shared_ptr<const H264Format>& format() const { return m_format; }

private:
    std::shared_ptr<const H264Format> m_format;
};
