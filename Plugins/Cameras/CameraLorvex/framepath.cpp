// The frame path: one SDK image callback becomes one numbered image, handed to
// the host through captureCompleted. Runs on the SDK's image thread with
// cameraMutex held for the whole frame.
#include "framepath.h"
#include "clockreads.h"
#include "platform/memoryguard.h"

#include <QLoggingCategory>
#include <QMutexLocker>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

namespace {

// qDebug() formats its whole record before the logging rules drop it; with
// debug records disabled, as in production, that formatting was half of
// the cost of a small frame. The same records, built only when they are kept.
bool debugEnabled()
{
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

// How long a frame waits for a busy cameraMutex between two looks at the
// pending stops.
constexpr std::chrono::milliseconds kFrameLockStep(2);
// How often a frame that finds no format asks the device for it again.
constexpr qint64 kFormatRequestSpacingMs = 500;

} // namespace

FramePath::FramePath(FrameHost host) : host(std::move(host))
{
    std::memset(&convertParam, 0, sizeof convertParam);
}

void FramePath::setFormat(const FrameFormat& newFormat, const MV_CC_PIXEL_CONVERT_PARAM& convert)
{
    lorvex::RankedLocker locker(formatMutex);
    shape = newFormat;
    convertParam = convert;
}

FrameFormat FramePath::format() const
{
    lorvex::RankedLocker locker(formatMutex);
    return shape;
}

bool FramePath::lockForFrame()
{
    QMutex& cameraMutex = host.hostMutex;
    bool held = cameraMutex.try_lock();
    while (!held && stopsPending.load() == 0)
        held = cameraMutex.try_lock_for(kFrameLockStep);
    if (held)
        lorvex::lockcheck::acquired(&cameraMutex, lorvex::LockRank::HostLock, lorvex::HostLocker::kName);
    return held;
}

void FramePath::unlockFrame()
{
    lorvex::lockcheck::released(&host.hostMutex);
    host.hostMutex.unlock();
}

FrameFormat FramePath::shapeForFrame(MV_CC_PIXEL_CONVERT_PARAM& convert)
{
    FrameFormat frameShape;
    {
        lorvex::RankedLocker locker(formatMutex);
        frameShape = shape;
        convert = convertParam;
    }
    if (frameShape.known() || !host.formatWanted)
        return frameShape;
    // The device's first read-back was refused: ask again, but not for every
    // frame of a device that keeps refusing.
    if (lastFormatRequest.isValid() && !lastFormatRequest.hasExpired(kFormatRequestSpacingMs))
        return frameShape;
    lastFormatRequest.start();
    host.formatWanted();
    lorvex::RankedLocker locker(formatMutex);
    convert = convertParam;
    return shape;
}

void FramePath::deliver(unsigned char* data, MV_FRAME_OUT_INFO_EX* info)
{
    CameraInterface* const camera = &host.numbering;
    const int cameraIndex = host.cameraIndex;
    // The stop that is pending waits for this callback; the host that holds
    // the lock may be waiting for that stop.
    if (!lockForFrame()) {
        ++framesDroppedForStop;
        qWarning() << "Camera" << cameraIndex << "frame dropped: the camera is stopping while its lock is held";
        return;
    }
    struct FrameLock {
        FramePath& path;
        ~FrameLock() { path.unlockFrame(); }
    } frame{*this};

    if (!info || !data || !lorvex::platform::isReadable(data)) {
        qWarning() << "Camera" << cameraIndex << "SDK callback invalid params.";
        return;
    }

    int productId = 0;
    int cycleCapture = 1;
    int cycleProduct = 1;
    camera->getProductID(cameraIndex, host.trigParams, productId, cycleCapture, cycleProduct);

    const unsigned int expectedFrameNum = lastFrameNum + 1;
    if (info->nFrameNum != expectedFrameNum || info->nLostPacket != 0) {
        qWarning() << "Camera" << cameraIndex << "SDK with product" << productId << "cycle" << cycleCapture
                   << "last frame" << expectedFrameNum << "current frame" << info->nFrameNum
                   << "width" << info->nWidth << "height" << info->nHeight << "lost packets" << info->nLostPacket;
    }
    lastFrameNum = info->nFrameNum;

    if (info->nFrameCounter != info->nTriggerIndex) {
        qWarning() << "Camera" << cameraIndex << "SDK with FrameCounter" << info->nFrameCounter << "TriggerIndex"
                   << info->nTriggerIndex;
    }

    // QTime::currentTime()'s value, without asking the C library about the
    // time zone on every frame.
    const QTime now = lorvex::timeOfDay();
    if (!camera->isRunning && std::abs(camera->lastFrameTime.msecsTo(now)) < 50) {
        if (debugEnabled())
            qDebug() << "Camera" << cameraIndex << "skip preview frame.";
        return;
    }
    camera->lastFrameTime = now;

    // The format and conversion record as the last geometry read-back left
    // them; a read-back runs without cameraMutex, so they are copied under
    // their own lock.
    MV_CC_PIXEL_CONVERT_PARAM convert;
    const FrameFormat shape = shapeForFrame(convert);
    cv::Mat image;
    try {
        image = pool.acquire(shape.height, shape.width, shape.matType);
    } catch (const std::exception& error) {
        // A geometry the device reports but memory cannot hold: drop the
        // frame, never let an exception unwind into the SDK's thread.
        qWarning() << "Camera" << cameraIndex << "SDK captured image for product" << productId << "cycle"
                   << cycleCapture << "no image buffer:" << error.what();
        return;
    }

    const size_t imageBytes = static_cast<size_t>(image.rows) * image.step[0];
    if (imageBytes < info->nFrameLen) {
        qWarning() << "Camera" << cameraIndex << "SDK captured image for product" << productId << "cycle"
                   << cycleCapture << "unexpected size" << static_cast<quint64>(info->nFrameLen);
        return;
    }

    if (shape.convertColour && info->enPixelType != PixelType_Gvsp_RGB8_Packed) {
        convert.enSrcPixelType = info->enPixelType;
        convert.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
        convert.pSrcData = data;
        convert.pDstBuffer = image.data;
        // The frame's own length: a packed colour frame holds three bytes a
        // pixel, a mosaic one; the SDK reads no more than the frame holds.
        convert.nSrcDataLen = info->nFrameLen;
        convert.nDstBufferSize = static_cast<unsigned int>(imageBytes);
        const int status = MV_CC_ConvertPixelType(conversionHandle.load(), &convert);
        if (status != MV_OK) {
            // The buffer is recycled: what it holds is an earlier product's.
            qWarning() << "Camera" << cameraIndex << "SDK captured image for product" << productId << "cycle"
                       << cycleCapture << "conversion failed:" << status << "delivered blank";
            std::memset(image.data, 0, imageBytes);
        }
    } else if (!lorvex::platform::guardedCopy(image.data, data, info->nFrameLen)) {
        qWarning() << "memcpy image data failed!";
        return;
    } else if (info->nFrameLen < imageBytes) {
        // A short frame: the rest of a recycled buffer is an earlier product's.
        std::memset(image.data + info->nFrameLen, 0, imageBytes - info->nFrameLen);
    }

    const quint64 ticks = (static_cast<quint64>(info->nDevTimeStampHigh) << 32) | info->nDevTimeStampLow;
    const qint64 deviceStamp = static_cast<qint64>(static_cast<double>(ticks) / 100000.0);
    if (debugEnabled())
        qDebug() << "Camera" << cameraIndex << "SDK captured image for product" << productId << "cycle capture"
                 << cycleCapture << "cycle product" << cycleProduct << "device stamp" << deviceStamp;

    ImageProcessData record;
    // Local time, as hosts format it into file names and rows; this costs a
    // time-zone lookup per frame (see the README's performance notes).
    record.captureTime = QDateTime::fromMSecsSinceEpoch(deviceStamp);
    record.cameraIndex = cameraIndex;
    record.productId = productId;
    record.cycleCapture = cycleCapture;
    record.cycleProduct = cycleProduct;
    record.image = image;
    record.receiveTime = QDateTime::currentMSecsSinceEpoch();

    // Host code runs from here on; an exception from it must not unwind into
    // the SDK's C thread, which would end the process.
    try {
        if (camera->triggerCallback)
            camera->triggerCallback();
        emit camera->captureCompleted(record);
    } catch (const std::exception& error) {
        qWarning() << "Camera" << cameraIndex << "frame receiver failed:" << error.what();
    } catch (...) {
        qWarning() << "Camera" << cameraIndex << "frame receiver failed";
    }
}
