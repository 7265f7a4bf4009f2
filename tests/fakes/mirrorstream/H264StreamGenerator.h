#pragma once

#include <QByteArray>

#include <memory>

// Real H.264 made with libx264 (through libavcodec) in the test process, laid
// out as the mirroring server sends it: the parameter sets once as the
// configuration, then one packet per picture.
class H264StreamGenerator {
public:
    struct Options {
        int width = 320;
        int height = 640;
        int keyFrameInterval = 10;
        int bitRate = 0;                  // bits per second; 0 leaves the quality to the encoder
        bool delimiters = false;          // an access unit delimiter opens each picture
        bool inBandParameterSets = false; // SPS and PPS repeated before each key frame
        // A picture for people rather than tests: colour bars, a moving square,
        // the picture's number and a 2-pixel white border.
        bool testCard = false;
    };

    explicit H264StreamGenerator(const Options& options);
    ~H264StreamGenerator();
    H264StreamGenerator(const H264StreamGenerator&) = delete;
    H264StreamGenerator& operator=(const H264StreamGenerator&) = delete;

    // SPS and PPS in Annex B form: the configuration packet's payload.
    QByteArray configuration() const;

    // Encodes the next picture, flat grey with luma `lumaFor(index)`, or with
    // moving detail when `textured` (a busier picture, as a real screen is),
    // or the test card when the options ask for it. Returns its Annex B packet.
    QByteArray picture(int index, bool textured = false);

    // The luma of picture `index`: far enough from its neighbours to tell
    // them apart after decoding.
    static int lumaFor(int index);

    const Options& options() const { return m_options; }

private:
    struct Encoder;
    Options m_options;
    std::unique_ptr<Encoder> m_encoder;
};
