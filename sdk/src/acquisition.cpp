#include "acquisition.h"
#include "faultscript.h"

#include "call.h"
#include "lifecycle.h"
#include "pixelformat.h"

#include <chrono>
#include <cstring>

namespace vcc {

namespace {

constexpr size_t kMaxPendingTriggers = 1024; // a device ignores triggers it cannot buffer

bool onThread(const Session& s)
{
    return s.thread == std::this_thread::get_id();
}

void complete(Handle& h, Request* r, int status)
{
    if (!r)
        return;
    r->status = status;
    r->done = true;
    h.cv.notify_all();
}

// Empties the node queue, returning its buffers; callers hold h.mu.
void discardQueue(Handle& h, Session& s, int status)
{
    for (Node& n : s.queue) {
        s.freeBufs.push_back(n.buf);
        complete(h, n.req, status);
    }
    s.queue.clear();
}

int takeBuffer(Session& s, size_t len)
{
    if (!s.freeBufs.empty()) {
        int b = s.freeBufs.back();
        s.freeBufs.pop_back();
        return b;
    }
    if (s.pool.size() < s.nodeNum) {
        s.pool.emplace_back(len);
        return static_cast<int>(s.pool.size() - 1);
    }
    return -1; // every node holds a frame the application has not taken yet
}

std::shared_ptr<const Pattern> cachedPattern(Device& d, const Geometry& g)
{
    std::lock_guard<std::mutex> lk(d.patternMu);
    return d.patternCache && d.patternCache->matches(g) ? d.patternCache : nullptr;
}

// Builds outside patternMu, so a frame thread that looks at the cache meanwhile never waits.
std::shared_ptr<const Pattern> patternFor(Device& d, const Geometry& g)
{
    if (auto p = cachedPattern(d, g))
        return p;
    auto p = Pattern::build(g, d);
    std::lock_guard<std::mutex> lk(d.patternMu);
    d.patternCache = p;
    return p;
}

Clock::duration framePeriod(const Device& d)
{
    auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(d.framePeriodSeconds()));
    return period > Clock::duration::zero() ? period : Clock::duration(1);
}

// The device produces its next frame into a node buffer. Returns false when
// the frame was dropped because no node was free. Caller holds h.mu through
// lk; it is let go while the pixels are copied.
// A frame the device triggered itself (free run, or a synchronous device
// frame) takes the handle's next trigger index; a software-triggered one
// brings the index it got when the trigger arrived.
bool produce(std::unique_lock<std::mutex>& lk, Handle& h, Session& s, Clock::time_point when,
             const uint32_t* softwareTrigger, Request* req)
{
    Device& d = *h.dev;
    if (unsigned skip = d.takeGapAfter(s.frameNum)) {
        // Frames lost on the way: the device made them, the host never sees them.
        s.frameNum += skip;
        h.frameCounter += skip;
        if (!softwareTrigger)
            h.triggerIndex += skip; // and triggered them itself, so both counters agree again
    }
    const uint32_t triggerIndex = softwareTrigger ? *softwareTrigger : ++h.triggerIndex;
    const uint32_t n = ++s.frameNum;
    ++h.frameCounter;
    d.produced++;
    const unsigned lost = d.takeLostPackets(n);

    // Mirroring, exposure and gain may change while grabbing; size and format
    // may not. The writer of the feature builds the new pattern; until it is
    // there, frames keep the old one, as a camera applies a change at a frame
    // boundary.
    Geometry live = d.geometry();
    if (live.reverseX != s.geometry.reverseX || live.reverseY != s.geometry.reverseY
        || live.brightness != s.geometry.brightness) {
        Geometry next = s.geometry;
        next.reverseX = live.reverseX;
        next.reverseY = live.reverseY;
        next.brightness = live.brightness;
        if (auto p = cachedPattern(d, next)) {
            s.geometry = next;
            s.pattern = p;
        }
    }
    const size_t len = s.pattern->frameLen();
    int b = takeBuffer(s, len);
    if (b < 0) {
        d.dropped++;
        return false;
    }
    // Copied without h.mu, so that a software trigger, a clear or a stop never
    // waits for a frame's copy: a trigger's arrival time decides whether it is
    // lost. Nothing else touches a buffer taken and not yet queued, and only
    // this thread replaces s.pattern, which is immutable.
    uint8_t* pixels = s.pool[static_cast<size_t>(b)].data();
    lk.unlock();
    s.pattern->copyFrame(n, pixels);
    lk.lock();

    Node node;
    node.buf = b;
    node.req = req;
    MV_FRAME_OUT_INFO_EX& fi = node.info;
    fi.nWidth = static_cast<unsigned short>(s.geometry.width);
    fi.nHeight = static_cast<unsigned short>(s.geometry.height);
    fi.enPixelType = s.geometry.pixelFormat;
    fi.nFrameNum = n;
    const uint64_t ticks = d.ticksAt(when);
    fi.nDevTimeStampHigh = static_cast<unsigned>(ticks >> 32);
    fi.nDevTimeStampLow = static_cast<unsigned>(ticks & 0xFFFFFFFFu);
    fi.nHostTimeStamp = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    fi.nFrameLen = static_cast<unsigned>(len);
    fi.fGain = live.gain;
    fi.fExposureTime = live.exposure;
    fi.nFrameCounter = h.frameCounter;
    fi.nTriggerIndex = triggerIndex;
    fi.nOffsetX = static_cast<unsigned short>(s.geometry.offsetX);
    fi.nOffsetY = static_cast<unsigned short>(s.geometry.offsetY);
    fi.nLostPacket = lost;
    s.queue.push_back(node);
    return true;
}

// Frames that fell due in free run since the last look.
void produceDue(std::unique_lock<std::mutex>& lk, Handle& h, Session& s, Clock::time_point now)
{
    const auto period = framePeriod(*h.dev);
    if (!s.haveDue) {
        s.nextDue = now + period;
        s.haveDue = true;
        return;
    }
    for (int guard = 0; s.nextDue <= now && guard < 100000; ++guard) {
        produce(lk, h, s, s.nextDue, nullptr, nullptr); // free run: the device triggers itself
        s.nextDue += period;
    }
    if (s.nextDue <= now)
        s.nextDue = now + period; // far behind: do not try to catch up
}

void deliver(std::unique_lock<std::mutex>& lk, Handle& h, unsigned char* data, MV_FRAME_OUT_INFO_EX* info,
             bool* called)
{
    MvImageCallBackEx cb = h.imageCb;
    void* user = h.imageUser;
    *called = cb != nullptr;
    if (!cb)
        return;
    lk.unlock();
    cb(data, info, user);
    lk.lock();
}

void run(std::shared_ptr<Handle> h, std::shared_ptr<Session> s)
{
    std::unique_lock<std::mutex> lk(h->mu);
    if (s->previous) {
        // One frame at a time per handle: let the stopped session's last callback end.
        h->cv.wait(lk, [&] { return s->previous->done; });
        s->previous.reset();
    }
    while (!s->stop) {
        if (h->lost) {
            for (Request* r : s->requests)
                complete(*h, r, err(MV_E_NETER));
            s->requests.clear();
            discardQueue(*h, *s, err(MV_E_NETER));
            s->triggers.clear();
            h->cv.wait(lk);
            continue;
        }
        const auto now = Clock::now();
        const bool freeRun = !h->dev->geometry().triggerMode && !h->dev->freeRunPaused.load();
        if (freeRun)
            produceDue(lk, *h, *s, now);
        else
            s->haveDue = false;
        while (!s->triggers.empty() && s->triggers.front().readOut <= now) {
            Trigger t = s->triggers.front();
            s->triggers.pop_front();
            produce(lk, *h, *s, t.readOut, &t.index, nullptr);
        }
        if (!s->requests.empty()) {
            Request* r = s->requests.front();
            s->requests.pop_front();
            if (r->deviceFrame) {
                if (!produce(lk, *h, *s, now, nullptr, r))
                    complete(*h, r, err(MV_E_BUFOVER));
                continue; // delivered in queue order below
            }
            bool called;
            deliver(lk, *h, r->data, const_cast<MV_FRAME_OUT_INFO_EX*>(r->info), &called);
            complete(*h, r, called ? MV_OK : err(MV_E_CALLORDER));
            continue;
        }
        if (!s->queue.empty()) {
            Node node = s->queue.front();
            s->queue.pop_front();
            MV_FRAME_OUT_INFO_EX info = node.info;
            bool called;
            deliver(lk, *h, s->pool[static_cast<size_t>(node.buf)].data(), &info, &called);
            s->freeBufs.push_back(node.buf);
            if (called)
                h->dev->delivered++;
            complete(*h, node.req, called ? MV_OK : err(MV_E_CALLORDER));
            continue;
        }
        if (freeRun)
            h->cv.wait_until(lk, s->nextDue);
        else if (!s->triggers.empty())
            h->cv.wait_until(lk, s->triggers.front().readOut);
        else
            h->cv.wait_for(lk, std::chrono::milliseconds(20)); // notices a trigger-mode change
    }
    for (Request* r : s->requests)
        complete(*h, r, err(MV_E_CALLORDER));
    s->requests.clear();
    discardQueue(*h, *s, err(MV_E_CALLORDER));
    s->done = true;
    h->cv.notify_all();
}

} // namespace

int startGrabbing(const std::shared_ptr<Handle>& h)
{
    std::unique_lock<std::mutex> lk(h->mu);
    if (int rc = usable(*h))
        return rc;
    if (h->session)
        return err(MV_E_CALLORDER);
    Geometry g = h->dev->geometry();
    if (bytesPerPixel(g.pixelFormat) == 0 || g.width == 0 || g.height == 0)
        return err(MV_E_SUPPORT);
    auto s = std::make_shared<Session>();
    s->geometry = g;
    s->nodeNum = h->nodeNum;
    s->pattern = patternFor(*h->dev, g); // before the thread exists: it never builds one
    if (h->retiring && !h->retiring->done)
        s->previous = h->retiring;
    h->retiring.reset();
    h->session = s;
    h->dev->grabbing = true;
    startScriptedUnplugs(h->dev);
    std::thread t(run, h, s);
    s->thread = t.get_id(); // before the thread can run a callback: it needs h->mu first
    t.detach();
    return MV_OK;
}

int stopGrabbing(const std::shared_ptr<Handle>& h)
{
    std::unique_lock<std::mutex> lk(h->mu);
    std::shared_ptr<Session> s = h->session ? h->session : h->retiring;
    if (!s)
        return err(MV_E_CALLORDER);
    const bool wasGrabbing = h->session != nullptr;
    s->stop = true;
    h->cv.notify_all();
    if (h->session == s) {
        h->session.reset();
        h->retiring = s;
        h->dev->grabbing = false;
    }
    if (onThread(*s))
        return MV_OK; // inside our own callback: the thread ends once it returns
    h->cv.wait(lk, [&] { return s->done; });
    if (h->retiring == s)
        h->retiring.reset();
    return wasGrabbing ? MV_OK : err(MV_E_CALLORDER);
}

int clearImageBuffer(const std::shared_ptr<Handle>& h)
{
    std::lock_guard<std::mutex> lk(h->mu);
    if (!h->opened)
        return err(MV_E_CALLORDER);
    if (h->session)
        discardQueue(*h, *h->session, err(MV_E_NODATA));
    return MV_OK;
}

int softwareTrigger(const std::shared_ptr<Handle>& h)
{
    std::lock_guard<std::mutex> lk(h->mu);
    if (int rc = usable(*h))
        return rc;
    if (!h->session || !h->dev->geometry().triggerMode)
        return err(MV_E_CALLORDER);
    Session& s = *h->session;
    if (s.triggers.size() >= kMaxPendingTriggers)
        return err(MV_E_BUSY);
    // The device counts every trigger it receives; one that arrives while the
    // previous frame is still read out is lost, as on a line-scan camera. The
    // command itself went through, so the call succeeds.
    const uint32_t index = ++h->triggerIndex;
    const auto now = Clock::now();
    if (now < s.busyUntil || h->dev->takeOverrun(index)) {
        h->dev->triggerOverruns++;
        return MV_OK;
    }
    s.busyUntil = now + framePeriod(*h->dev);
    s.triggers.push_back({index, s.busyUntil});
    // A bounce arrives as the first frame's read-out ends: counted and
    // answered as a trigger of its own.
    if (h->dev->takeBounce(index) && s.triggers.size() < kMaxPendingTriggers) {
        s.busyUntil += framePeriod(*h->dev);
        s.triggers.push_back({++h->triggerIndex, s.busyUntil});
    }
    h->cv.notify_all();
    return MV_OK;
}

int deliverSync(const std::shared_ptr<Handle>& h, bool deviceFrame, const MV_FRAME_OUT_INFO_EX* info,
                unsigned char* data)
{
    std::unique_lock<std::mutex> lk(h->mu);
    if (h->lost)
        return err(MV_E_NETER);
    std::shared_ptr<Session> s = h->session;
    if (!s || s->stop || !h->imageCb)
        return err(MV_E_CALLORDER);
    if (onThread(*s)) {
        // Asked from inside the callback: waiting for the thread would wait for ourselves.
        if (deviceFrame)
            return err(MV_E_CALLORDER);
        bool called;
        deliver(lk, *h, data, const_cast<MV_FRAME_OUT_INFO_EX*>(info), &called);
        return called ? MV_OK : err(MV_E_CALLORDER);
    }
    Request r;
    r.deviceFrame = deviceFrame;
    r.info = info;
    r.data = data;
    s->requests.push_back(&r);
    h->cv.notify_all();
    h->cv.wait(lk, [&] { return r.done; });
    return r.status;
}

void preparePattern(Device& d)
{
    if (d.grabbing.load())
        patternFor(d, d.geometry());
}

int nodeBufferCount(const std::shared_ptr<Handle>& h)
{
    std::lock_guard<std::mutex> lk(h->mu);
    std::shared_ptr<Session> s = h->session ? h->session : h->retiring;
    return s ? static_cast<int>(s->pool.size()) : 0;
}

} // namespace vcc
