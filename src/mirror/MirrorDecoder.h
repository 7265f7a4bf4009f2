#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// The boundary between the application and its decoding module. H.264
// decoding and the conversion of pictures for display (FFmpeg, with its many
// codec libraries) live in a library of their own that is loaded when
// mirroring first starts, so that a start without mirroring never loads them.

// A decoded picture; valid only during the call that hands it over.
class MirrorPicture {
public:
    virtual QSize size() const = 0;
    // Scales it into `target`, an RGB32 image of the size it is to be shown
    // at; false when it could not.
    virtual bool convert(QImage& target) const = 0;
    // The same picture, valid after the call too (sharing its pixels), so
    // that a still screen can be converted again when the view grows;
    // none when it could not be kept. Its convert() may be called from any
    // one thread at a time.
    virtual std::shared_ptr<const MirrorPicture> keep() const = 0;

protected:
    ~MirrorPicture() = default;
};

// An H.264 decoder. Confined to one thread at a time (the video thread).
class MirrorDecoder {
public:
    virtual ~MirrorDecoder() = default;

    // Opens for a stream with this avcC record; false when it cannot.
    virtual bool open(const QByteArray& avcC) = 0;
    // Drops the pictures in flight, so that decoding starts over.
    virtual void flush() = 0;
    // Decodes one length-prefixed sample, followed by H264Sample::padding
    // zero bytes. `show` gets each picture that came out undamaged. False when
    // the decoder failed or reported damage (a key frame is then needed).
    virtual bool decode(const uint8_t* data, size_t size, const std::function<void(const MirrorPicture&)>& show) = 0;

    // Raised whenever this interface changes, so that a module of another
    // build is refused instead of called wrongly.
    static constexpr int interfaceVersion = 2;
};

// The module's entry points (C linkage, so that they are found by name).
#define MIRROR_DECODER_INTERFACE_SYMBOL "vantelorquist_decoder_interface"
#define MIRROR_DECODER_MAKE_SYMBOL "vantelorquist_make_decoder"

namespace MirrorDecoderModule {

// The module's file name.
QString fileName();
// Where it is looked for, in this order: the install's library folder
// (relative to the executable), next to the executable, the build tree.
QStringList defaultCandidates();
// For tests: look only here instead (none: the default candidates again).
void setCandidates(QStringList candidates);

// Loads the module once; later calls return at once. Any thread. Throws
// SystemError with the sentence to show when it is missing or unusable;
// a failed load is tried again on the next call.
void load();
// A new decoder; loads the module first, throwing like load().
std::unique_ptr<MirrorDecoder> makeDecoder();

} // namespace MirrorDecoderModule
