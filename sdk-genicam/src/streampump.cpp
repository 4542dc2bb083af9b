#include "streampump.h"

#include "entry.h"
#include "features.h"
#include "pixelformat.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

namespace gcc {

namespace {

constexpr guint64 kPopTimeoutUs = 50000;  // how soon the thread notices a stop
constexpr uint64_t kBlockIdWrap = 65535;  // 16-bit block ids run 1..65535; 0 is never used
constexpr uint64_t kNsPerTick = 10;       // device ticks are 100 MHz
// What a stream packet carries besides image data: IPv4, UDP and GVSP headers
// (the extended-id header is 8 bytes longer).
constexpr size_t kPacketOverhead = 20 + 8 + 8;
constexpr size_t kExtendedIdExtra = 8;
constexpr size_t kMarkBytes = sizeof(uint64_t);

bool resendWanted()
{
    const char* v = std::getenv(StreamPump::kResendEnv);
    return !(v && std::strcmp(v, "0") == 0);
}

} // namespace

std::shared_ptr<StreamPump> StreamPump::start(ArvDevice* device, unsigned nodes, std::shared_ptr<Counters> counters,
                                              ImageCallback cb, void* user, int* status)
{
    GError* error = nullptr;
    auto pump = std::make_shared<StreamPump>();
    pump->counters_ = std::move(counters);
    pump->cb_ = cb;
    pump->user_ = user;
    const gint64 payload = arv_device_get_integer_feature_value(device, "PayloadSize", &error);
    if (error || payload <= 0) {
        g_clear_error(&error);
        *status = err(MV_E_GC_GENERIC);
        return nullptr;
    }
    MVCC_INTVALUE width{}, height{};
    MVCC_ENUMVALUE format{};
    getInt(device, "Width", width);
    getInt(device, "Height", height);
    getEnum(device, "PixelFormat", format);
    pump->width_ = width.nCurValue;
    pump->height_ = height.nCurValue;
    pump->pixelFormat_ = format.nCurValue;
    pump->payload_ = size_t(payload);
    pump->stream_ = arv_device_create_stream(device, nullptr, nullptr, &error);
    if (!pump->stream_) {
        g_clear_error(&error);
        *status = err(MV_E_RESOURCE);
        return nullptr;
    }
    if (ARV_IS_GV_STREAM(pump->stream_) && !resendWanted())
        g_object_set(pump->stream_, "packet-resend", ARV_GV_STREAM_PACKET_RESEND_NEVER, nullptr);
    if (ARV_IS_GV_DEVICE(device))
        pump->packetData_ = packetDataBytes(device);
    pump->mark_ = std::random_device{}() | uint64_t(std::random_device{}()) << 32;
    for (unsigned i = 0; i < nodes; ++i)
        pump->requeue(arv_buffer_new(size_t(payload), nullptr));
    pump->device_ = ARV_DEVICE(g_object_ref(device));
    arv_device_set_string_feature_value(device, "AcquisitionMode", "Continuous", &error);
    g_clear_error(&error); // a camera without the feature acquires continuously
    arv_device_execute_command(device, "AcquisitionStart", &error);
    if (error) {
        g_clear_error(&error);
        pump->finish();
        *status = err(MV_E_CALLORDER);
        return nullptr;
    }
    std::thread([pump] { pump->run(); }).detach();
    *status = MV_OK;
    return pump;
}

void StreamPump::stop()
{
    std::unique_lock<std::mutex> lk(mu_);
    stopping_ = true;
    if (thread_ == std::this_thread::get_id())
        return;
    done_.wait(lk, [this] { return finished_; });
}

void StreamPump::clear()
{
    // Aravis's queues take pops and pushes from any thread; the lock keeps
    // the stream from ending meanwhile.
    std::lock_guard<std::mutex> lk(mu_);
    if (!stream_)
        return;
    while (ArvBuffer* b = arv_stream_try_pop_buffer(stream_))
        requeue(b);
}

void StreamPump::run()
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        thread_ = std::this_thread::get_id();
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (stopping_)
                break;
        }
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, kPopTimeoutUs);
        if (!buffer)
            continue;
        deliver(buffer);
        requeue(buffer);
    }
    finish();
}

void StreamPump::deliver(ArvBuffer* buffer)
{
    const ArvBufferStatus status = arv_buffer_get_status(buffer);
    // A frame that arrived, whole or with packets missing, is delivered; one
    // that never filled leaves a gap in the numbers.
    if (status != ARV_BUFFER_STATUS_SUCCESS && status != ARV_BUFFER_STATUS_MISSING_PACKETS
        && status != ARV_BUFFER_STATUS_TIMEOUT)
        return;
    // A block id of 0 is never sent: the leader of this buffer never came (it
    // sets the id), so the frame is taken as the one after the last.
    uint64_t blockId = arv_buffer_get_frame_id(buffer);
    if (blockId == 0 && started_)
        blockId = lastBlockId_ % kBlockIdWrap + 1;
    uint64_t made = 1;
    if (started_) {
        if (blockId > lastBlockId_)
            made = blockId - lastBlockId_;
        else if (lastBlockId_ - blockId > kBlockIdWrap / 2)
            made = blockId + kBlockIdWrap - lastBlockId_; // wrapped past 65535 to 1
        else
            return; // an old block arriving late: already counted as lost
    }
    started_ = started_ || blockId != 0;
    lastBlockId_ = blockId;
    // A camera triggered from software that sends a frame before any trigger
    // of this open answers one that an earlier, lost session sent (the camera
    // kept it while it was cut off): not this open's frame, neither counted
    // nor delivered, so that the counters agree from the first frame on.
    if (counters_->softwareTrigger && counters_->triggers == 0)
        return;
    frameNum_ += made;
    counters_->framesMade += made;
    if (counters_->freeRun)
        counters_->triggers += made; // in free run the device triggers itself

    MV_FRAME_OUT_INFO_EX info;
    std::memset(&info, 0, sizeof info);
    size_t size = 0;
    const void* data = nullptr;
    // Only a whole buffer may be asked for its image parts (Aravis refuses,
    // loudly, for any other); a broken one carries the session's geometry over
    // the whole buffer, since its leader may be missing or belong to the
    // buffer's earlier use.
    if (status == ARV_BUFFER_STATUS_SUCCESS) {
        if (arv_buffer_get_n_parts(buffer) >= 1
            && arv_buffer_get_part_data_type(buffer, 0) == ARV_BUFFER_PART_DATA_TYPE_2D_IMAGE) {
            info.nWidth = static_cast<unsigned short>(arv_buffer_get_image_width(buffer));
            info.nHeight = static_cast<unsigned short>(arv_buffer_get_image_height(buffer));
            info.enPixelType = arv_buffer_get_image_pixel_format(buffer);
            data = arv_buffer_get_image_data(buffer, &size);
        }
        if (info.nWidth == 0 || info.nHeight == 0)
            return;
    } else {
        const size_t frameLen = size_t(width_) * height_ * vcc::bytesPerPixel(pixelFormat_);
        if (frameLen == 0 || frameLen > payload_)
            return;
        info.nWidth = static_cast<unsigned short>(width_);
        info.nHeight = static_cast<unsigned short>(height_);
        info.enPixelType = pixelFormat_;
        data = arv_buffer_get_data(buffer, &size);
        size = frameLen;
    }
    info.nFrameNum = static_cast<unsigned>(frameNum_);
    const uint64_t ticks = arv_buffer_get_timestamp(buffer) / kNsPerTick;
    info.nDevTimeStampHigh = static_cast<unsigned>(ticks >> 32);
    info.nDevTimeStampLow = static_cast<unsigned>(ticks);
    info.nHostTimeStamp = static_cast<int64_t>(arv_buffer_get_system_timestamp(buffer) / 1000000);
    info.nFrameLen = static_cast<unsigned>(size);
    info.nFrameCounter = static_cast<unsigned>(counters_->framesMade.load());
    info.nTriggerIndex = static_cast<unsigned>(counters_->triggers.load());
    info.nLostPacket = status == ARV_BUFFER_STATUS_SUCCESS ? 0 : lostPackets(buffer);
    if (!data || !cb_)
        return;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (stopping_)
            return;
    }
    cb_(static_cast<unsigned char*>(const_cast<void*>(data)), &info, user_);
}

size_t StreamPump::packetDataBytes(ArvDevice* device)
{
    GError* error = nullptr;
    const guint packet = arv_gv_device_get_packet_size(ARV_GV_DEVICE(device), &error);
    if (error) {
        g_clear_error(&error);
        return 0;
    }
    size_t overhead = kPacketOverhead;
    MVCC_ENUMVALUE extended{};
    if (getEnum(device, "GevGVSPExtendedIDMode", extended) == MV_OK && extended.nCurValue != 0)
        overhead += kExtendedIdExtra;
    return packet > overhead ? packet - overhead : 0;
}

void StreamPump::requeue(ArvBuffer* buffer)
{
    arv_buffer_set_frame_id(buffer, 0);
    if (unsigned char* data = markedArea(buffer))
        for (size_t at = 0; at < payload_; at += packetData_)
            std::memcpy(data + at, &mark_, std::min(kMarkBytes, payload_ - at));
    arv_stream_push_buffer(stream_, buffer);
}

// Aravis keeps no count of a buffer's missing packets (its stream statistic
// counts from the first gap to the end of each broken frame), so the buffer
// tells: a leader that never came leaves the block id at 0, and a data packet
// that never came leaves the mark at the start of its place. The trailer
// leaves no trace: it is the missing packet when nothing else is, and goes
// uncounted when others of the same frame are lost too.
unsigned StreamPump::lostPackets(ArvBuffer* buffer)
{
    unsigned lost = arv_buffer_get_frame_id(buffer) == 0 ? 1 : 0;
    if (const unsigned char* data = markedArea(buffer))
        for (size_t at = 0; at < payload_; at += packetData_)
            lost += std::memcmp(data + at, &mark_, std::min(kMarkBytes, payload_ - at)) == 0;
    return std::max(1u, lost);
}

// Every buffer of this pump is made with payload_ bytes (start()), and that
// bounds the marks. Aravis's own size of a buffer is what it received last,
// 0 for a buffer that never filled whole, so it cannot say where marks go:
// bounded by it, the first buffers went unmarked and their losses uncounted.
unsigned char* StreamPump::markedArea(ArvBuffer* buffer) const
{
    if (packetData_ == 0)
        return nullptr;
    size_t received = 0;
    return static_cast<unsigned char*>(const_cast<void*>(arv_buffer_get_data(buffer, &received)));
}

void StreamPump::finish()
{
    if (device_ && !counters_->lost) {
        GError* error = nullptr;
        arv_device_execute_command(device_, "AcquisitionStop", &error);
        g_clear_error(&error);
    }
    ArvStream* stream = nullptr;
    {
        std::lock_guard<std::mutex> lk(mu_);
        std::swap(stream, stream_);
    }
    if (counters_->lost) {
        unrefAside(std::exchange(stream, nullptr));
        unrefAside(std::exchange(device_, nullptr));
    }
    g_clear_object(&stream);
    g_clear_object(&device_);
    std::lock_guard<std::mutex> lk(mu_);
    finished_ = true;
    done_.notify_all();
}

} // namespace gcc
