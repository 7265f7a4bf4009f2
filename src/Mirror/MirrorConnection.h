#pragma once

#include "H264SampleBuilder.h"

#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <variant>

class MirrorAudio;

// One running mirroring server on a phone with its sockets.
class MirrorConnection {
public:
    // What the connection reports to its owner, on the thread that read it.
    struct Event {
        // The video stream announced a new frame size (phone pixels).
        struct Size {
            double width = 0;
            double height = 0;
        };
        // One sample ready for display.
        struct Frame {
            H264Sample sample;
        };
        // The phone's clipboard changed.
        struct Clipboard {
            QString text;
        };
        // Mirroring ended by itself; no error means the server process exited.
        struct Ended {
            std::exception_ptr error;
        };

        std::variant<Size, Frame, Clipboard, Ended> value;
    };
    using EventHandler = std::function<void(const Event&)>;

    // What a reader loop needs of its connection; every call takes the
    // connection's lock for itself alone.
    class ReaderLink {
    public:
        virtual ~ReaderLink() = default;
        virtual bool stopped() = 0;
        virtual void stop() = 0;
        // Stores the player where stop() will find it; false, storing
        // nothing, when the connection is already stopped.
        virtual bool keepAudio(std::shared_ptr<MirrorAudio> player) = 0;
    };
    using AudioFactory = std::function<std::shared_ptr<MirrorAudio>()>;

    // The reader loops, each on a thread of its own. They return when their
    // stream ends and never close their descriptors.
    //
    // Video: delivers size and frame; on a broken stream stops the connection
    // and then delivers ended, unless the connection was already stopped.
    static void readVideo(int fd, ReaderLink& link, const EventHandler& onEvent);
    // Audio: plays the sound through a player from `makePlayer`; ends
    // silently whatever goes wrong, without an event.
    static void readAudio(int fd, ReaderLink& link, const AudioFactory& makePlayer);
    // Device messages: delivers clipboard; ends silently.
    static void readDeviceMessages(int fd, const EventHandler& onEvent);

    // Reads exactly `size` bytes, repeating reads interrupted by a signal.
    // Throws SystemError ECONNRESET at the end of the stream or on any error.
    static void readExact(int fd, void* buffer, size_t size);
};
