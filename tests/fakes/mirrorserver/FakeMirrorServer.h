#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The phone's side of mirroring: serves the video, audio and control streams
// over byte streams that are already connected (sockets, or a bridge inside
// the fake phone). Each stream is written on its own thread.
class FakeMirrorServer {
public:
    struct Scenario {
        int framesPerSecond = 30;
        int width = 320;
        int height = 640;
        QByteArray codec = "h264";
        bool silent = false;          // accept the video stream and never write to it
        bool hugeLength = false;      // after the header, a packet of length 2^25
        bool endMidway = false;       // after a few pictures, half a packet and the end
        bool corruptPicture = false;  // one damaged picture after a few; a new key frame on resetVideo
        bool deaf = false;            // the control stream is not read until listen()
        bool testCard = false;        // pictures for people to look at (see H264StreamGenerator)
    };

    // `record` receives every byte read from the control stream, as read.
    FakeMirrorServer(Scenario scenario, std::function<void(const QByteArray&)> record);
    ~FakeMirrorServer(); // stop()s and joins

    // The streams, in the order they are connected. Each takes the descriptor
    // and closes it when it ends.
    void serveVideo(int fd, bool dummyByte);
    void serveAudio(int fd);
    void serveControl(int fd);

    // A device message (see mirrorstream) written on the control stream.
    void sendDeviceMessage(const QByteArray& message);

    // A deaf server starts reading its control stream.
    void listen();
    // Drops the control stream with a reset, as a phone whose server breaks
    // it; the picture goes on.
    void resetControl();

    // Ends every stream; the descriptors are shut down.
    void stop();
    // Blocks until the video stream has ended (its peer closed or stop()).
    void waitForVideoEnd();
    bool videoEnded();
    int picturesSent();

private:
    void videoLoop(int fd, bool dummyByte);
    void audioLoop(int fd);
    void controlLoop(int fd);
    void takeControl(const QByteArray& bytes);

    const Scenario m_scenario;
    const std::function<void(const QByteArray&)> m_record;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_fds;
    int m_controlFd = -1;
    bool m_stopped = false;
    bool m_videoEnded = false;
    bool m_listening = false;
    bool m_resetControl = false;
    int m_picturesSent = 0;
    int m_restarts = 0; // rotations and key-frame requests, each answered with a new encoder
    bool m_rotated = false;
    QByteArray m_pending; // control bytes not yet making a whole message
    std::vector<std::thread> m_threads;
};
