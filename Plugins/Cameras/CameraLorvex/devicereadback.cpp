// The geometry read-back: the device's current width, height, offsets and
// mirror flags into the panel, and the frame format that follows from them.
//
// Width and height shape every frame, so they are read all or nothing: a
// refused read of either keeps the whole last format. The offsets and the
// mirror flags do not shape a frame and many devices lack one of them: each
// keeps its own last value (0 at first) when its read is refused.
#include "lorvexdevice.h"

#include <cstring>
#include <limits>

namespace {

unsigned int clampedBytes(qint64 bytes)
{
    if (bytes < 0)
        return 0;
    return bytes > std::numeric_limits<unsigned int>::max() ? std::numeric_limits<unsigned int>::max()
                                                            : static_cast<unsigned int>(bytes);
}

// One integer feature; false, with a warning that ends in `keeping`, when the
// device refuses the read.
bool readInteger(void* handle, int cameraIndex, const char* key, MVCC_INTVALUE& record, const char* keeping)
{
    std::memset(&record, 0, sizeof record);
    const int status = MV_CC_GetIntValue(handle, key, &record);
    if (status == MV_OK)
        return true;
    qWarning() << "Camera" << cameraIndex << "read of" << key << "failed:" << status << keeping;
    return false;
}

bool readCurrent(void* handle, int cameraIndex, const char* key, int& value, const char* keeping)
{
    MVCC_INTVALUE record;
    if (!readInteger(handle, cameraIndex, key, record, keeping))
        return false;
    value = static_cast<int>(record.nCurValue);
    return true;
}

bool readFlag(void* handle, int cameraIndex, const char* key, bool& value)
{
    bool flag = false;
    const int status = MV_CC_GetBoolValue(handle, key, &flag);
    if (status != MV_OK) {
        qWarning() << "Camera" << cameraIndex << "read of" << key << "failed:" << status << "keeping the last value";
        return false;
    }
    value = flag;
    return true;
}

constexpr const char* kKeepFormat = "keeping the last image format";
constexpr const char* kKeepValue = "keeping the last value";

} // namespace

void LorvexDevice::readBackGeometry()
{
    if (!isAccessAllowed(currentState))
        return;
    const int cameraIndex = settings.cameraIndex;

    // Limits that the open could not read: the width and height steps guard
    // the read-back, so a refusal at the open must not block it for ever.
    const auto steps = [this](IntParamInfo& info, const char* key) {
        {
            lorvex::RankedLocker panel(panelMutex);
            if (info.step != 0)
                return true;
        }
        MVCC_INTVALUE record;
        if (!readInteger(devHandle, settings.cameraIndex, key, record, kKeepFormat))
            return false;
        lorvex::RankedLocker panel(panelMutex);
        info.max = static_cast<int>(record.nMax);
        info.min = static_cast<int>(record.nMin);
        info.step = static_cast<int>(record.nInc);
        return info.step != 0;
    };
    if (!steps(settings.widthInfo, "Width") || !steps(settings.heightInfo, "Height"))
        return;

    int newWidth = 0;
    int newHeight = 0;
    if (!readCurrent(devHandle, cameraIndex, "Width", newWidth, kKeepFormat)
        || !readCurrent(devHandle, cameraIndex, "Height", newHeight, kKeepFormat))
        return;
    int newOffsetX = 0;
    int newOffsetY = 0;
    const bool haveOffsetX = readCurrent(devHandle, cameraIndex, "OffsetX", newOffsetX, kKeepValue);
    const bool haveOffsetY = readCurrent(devHandle, cameraIndex, "OffsetY", newOffsetY, kKeepValue);
    bool reverseX = false;
    bool reverseY = false;
    const bool haveReverseX = readFlag(devHandle, cameraIndex, "ReverseX", reverseX);
    const bool haveReverseY = readFlag(devHandle, cameraIndex, "ReverseY", reverseY);

    FrameFormat format;
    MV_CC_PIXEL_CONVERT_PARAM convertParam;
    std::memset(&convertParam, 0, sizeof convertParam);
    {
        lorvex::RankedLocker panel(panelMutex);
        settings.width = newWidth;
        settings.height = newHeight;
        if (haveOffsetX)
            settings.offsetX = newOffsetX;
        if (haveOffsetY)
            settings.offsetY = newOffsetY;
        if (haveReverseX)
            settings.mirrorX = reverseX;
        if (haveReverseY)
            settings.mirrorY = reverseY;

        const qint64 pixels = static_cast<qint64>(newWidth) * newHeight;
        convertParam.nWidth = static_cast<unsigned short>(newWidth);
        convertParam.nHeight = static_cast<unsigned short>(newHeight);
        convertParam.nSrcDataLen = clampedBytes(pixels);
        convertParam.nDstLen = clampedBytes(pixels);
        const bool colour = settings.colorImage && !bMonoSensor;
        settings.channels = colour ? 3 : 1;
        settings.matType = colour ? 16 : 0;  // CV_8UC3 : CV_8UC1
        convertParam.nDstBufferSize = clampedBytes(settings.channels * pixels);

        format.width = newWidth;
        format.height = newHeight;
        format.matType = settings.matType;
        format.channels = settings.channels;
        format.convertColour = colour;
    }
    events.formatChanged(format, convertParam);
}
