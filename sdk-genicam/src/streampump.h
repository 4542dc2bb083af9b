// One acquisition session of a handle: an Aravis stream, its buffers, and a
// thread of this SDK that takes each finished buffer, fills the frame record
// and calls the image callback, one frame at a time.
//
// The frame record means what it means from the virtual SDK: nFrameNum counts
// from 1 after each start and keeps gaps (the stream's block ids, unwrapped);
// time stamps are 100 MHz ticks; nLostPacket is the packets the buffer
// misses (marks written into each buffer before it is queued tell them:
// lostPackets()); nFrameCounter and nTriggerIndex come from the handle's Counters.
//
// The pump holds its own references on the device and the stream, so a close
// from inside the image callback leaves the session to end on its thread.
#pragma once

#include "handles.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace gcc {

class StreamPump : public std::enable_shared_from_this<StreamPump> {
public:
    // Environment variable: "0" turns packet resend requests off, so that
    // lost packets reach the frame record instead of being asked for again.
    static constexpr const char* kResendEnv = "LORVEX_PACKET_RESEND";

    // Creates the stream, queues `nodes` buffers, starts acquisition and the
    // thread. Null with *status set when the device refuses.
    static std::shared_ptr<StreamPump> start(ArvDevice* device, unsigned nodes, std::shared_ptr<Counters> counters,
                                             ImageCallback cb, void* user, int* status);

    // Ends the session: returns once no callback runs, or at once when called
    // from inside the callback (the session then ends after it).
    void stop();
    // Discards the frames waiting for the callback.
    void clear();

private:
    void run();
    void deliver(ArvBuffer* buffer);
    // Marks a buffer as holding nothing received yet, and queues it.
    void requeue(ArvBuffer* buffer);
    unsigned lostPackets(ArvBuffer* buffer);
    unsigned char* markedArea(ArvBuffer* buffer) const;
    // The image bytes one stream packet carries (0 when not GigE Vision).
    static size_t packetDataBytes(ArvDevice* device);
    void finish();

    ArvDevice* device_ = nullptr;
    ArvStream* stream_ = nullptr;
    std::shared_ptr<Counters> counters_;
    ImageCallback cb_ = nullptr;
    void* user_ = nullptr;

    // The session's geometry, read at the start: a buffer that misses its
    // leader carries none of its own.
    unsigned width_ = 0, height_ = 0, pixelFormat_ = 0;
    size_t payload_ = 0;
    // Set at the start: the image bytes per stream packet (0: no marks), and
    // this session's mark, random so that no image is likely to hold it.
    size_t packetData_ = 0;
    uint64_t mark_ = 0;

    // Pump thread only.
    bool started_ = false;
    uint64_t lastBlockId_ = 0;
    uint64_t frameNum_ = 0;

    std::mutex mu_;
    std::condition_variable done_;
    bool stopping_ = false;
    bool finished_ = false;
    std::thread::id thread_;
};

} // namespace gcc
