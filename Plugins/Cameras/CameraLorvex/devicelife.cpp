// Device life: open, geometry read-back, start, stop, close, restart.
//
// The steps below expect deviceMutex held by their caller; closeCamera and
// restartCamera take it. None of them takes cameraMutex: a host may hold it
// around any call that changes the camera. What they share with the frame
// path is under geometryMutex or atomic.
#include "cameralorvex.h"
#include "devicetable.h"

#include <QEventLoop>
#include <QMutexLocker>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

// The pauses of stop and close, in which the device settles.
constexpr int kStopPauseMs = 10;
constexpr int kClosePauseMs = 200;
// Serial numbers this short name no device: configuration left blank or cut.
constexpr int kMinSerialLength = 8;
// MV_CC_OpenDevice's access mode for exclusive control of the device.
constexpr unsigned int kExclusiveAccess = 1;
// Frame buffers the SDK keeps for the device.
constexpr unsigned int kImageNodes = 30;

bool isColourFormat(unsigned int format)
{
    switch (format) {
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerRG8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8:
    case PixelType_Gvsp_RGB8_Packed:
    case PixelType_Gvsp_BGR8_Packed:
        return true;
    default:
        return false;
    }
}

// Truncation toward zero of a device float limit; a value outside int (or
// not a number) must not become undefined behaviour.
int truncatedTenths(float value)
{
    const double tenths = static_cast<double>(value) * 10.0;
    if (std::isnan(tenths))
        return 0;
    if (tenths >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (tenths <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(tenths);
}

unsigned int clampedBytes(qint64 bytes)
{
    if (bytes < 0)
        return 0;
    return bytes > std::numeric_limits<unsigned int>::max() ? std::numeric_limits<unsigned int>::max()
                                                            : static_cast<unsigned int>(bytes);
}

// One integer feature's current value; false, with a warning, when the device
// refuses the read.
bool readCurrent(void* handle, int cameraIndex, const char* key, int& value)
{
    MVCC_INTVALUE record;
    std::memset(&record, 0, sizeof record);
    const int status = MV_CC_GetIntValue(handle, key, &record);
    if (status != MV_OK) {
        qWarning() << "Camera" << cameraIndex << "read of" << key << "failed:" << status
                   << "keeping the last image format";
        return false;
    }
    value = static_cast<int>(record.nCurValue);
    return true;
}

bool readFlag(void* handle, int cameraIndex, const char* key, bool& value)
{
    bool flag = false;
    const int status = MV_CC_GetBoolValue(handle, key, &flag);
    if (status != MV_OK) {
        qWarning() << "Camera" << cameraIndex << "read of" << key << "failed:" << status
                   << "keeping the last value";
        return false;
    }
    value = flag;
    return true;
}

} // namespace

void CameraLorvex::pauseWithEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void CameraLorvex::markLost()
{
    emit CameraLoss();
    cameraDevice.lost();
}

void CameraLorvex::CameraOpen()
{
    qDebug().noquote() << "Opening camera" << cameraIndex << "with SN" << serialNumber;
    cameraDevice.opening();
    if (!selectAndOpen())
        return;
    readLimits();
    choosePixelFormat();

    MV_CC_DEVICE_INFO scratch;
    std::memset(&scratch, 0, sizeof scratch);
    MV_CC_GetDeviceInfo(cameraDevice.handle(), &scratch);

    cameraDevice.opened();
    qInfo() << "Open Camera" << cameraIndex << "success.";
}

bool CameraLorvex::selectAndOpen()
{
    if (serialNumber.size() <= kMinSerialLength) {
        qWarning().noquote() << "Camera" << cameraIndex << "invalid config SN" << serialNumber;
        return false;
    }

    int status = MV_OK;
    const int position = createHandleForSerial(status);
    if (position == -1) {
        qWarning().noquote() << "Can not found camera" << cameraIndex << "with SN" << serialNumber;
        markLost();
        return false;
    }
    if (position < 0) {
        qWarning().noquote() << "Camera" << cameraIndex << "create handle failed:" << QString::number(status, 16);
        markLost();
        return false;
    }

    status = MV_CC_OpenDevice(cameraDevice.handle(), kExclusiveAccess, 0);
    if (status != MV_OK) {
        qWarning().noquote() << "Open camera" << cameraIndex << "failed:" << QString::number(status, 16);
        cameraDevice.destroyHandle();
        markLost();
        return false;
    }

    status = MV_CC_FeatureLoad(cameraDevice.handle(), "Lorvex.mfs");
    if (status != MV_OK)
        qCritical() << "Load configuration file(Lorvex.mfs) failed:" << status;

    deviceIndex = position;
    // Counted before the exception callback is registered: a notice that
    // comes during the rest of the open is about this handle, and the
    // operation that settles it must know so.
    cameraDevice.countHandle();

    // A device without its callbacks would never deliver a frame nor report
    // its loss: a refused registration is a failed open.
    status = MV_CC_RegisterImageCallBackEx(cameraDevice.handle(), ImageCallBack, this);
    if (status == MV_OK)
        status = MV_CC_RegisterExceptionCallBack(cameraDevice.handle(), ExceptionImageCallBack, this);
    if (status != MV_OK) {
        qWarning().noquote() << "Camera" << cameraIndex << "callback registration failed:"
                             << QString::number(status, 16);
        {
            FramePath::StopAnnouncement stopping(framePath);
            cameraDevice.closeHandle();
        }
        markLost();
        return false;
    }
    MV_CC_SetImageNodeNum(cameraDevice.handle(), kImageNodes);
    return true;
}

void CameraLorvex::readLimits()
{
    // Every read into a record of its own: a refused read keeps the field's
    // last good value (with a warning), never a neighbour's.
    const auto refused = [this](const char* key, int status) {
        if (status == MV_OK)
            return false;
        qWarning() << "Camera" << cameraIndex << "read of" << key << "failed:" << status << "keeping the last value";
        return true;
    };
    const auto readInt = [&](const char* key, MVCC_INTVALUE& record) {
        std::memset(&record, 0, sizeof record);
        return !refused(key, MV_CC_GetIntValue(cameraDevice.handle(), key, &record));
    };
    const auto readFloat = [&](const char* key, MVCC_FLOATVALUE& record) {
        std::memset(&record, 0, sizeof record);
        return !refused(key, MV_CC_GetFloatValue(cameraDevice.handle(), key, &record));
    };

    MVCC_STRINGVALUE model;
    std::memset(&model, 0, sizeof model);
    if (!refused("DeviceModelName", MV_CC_GetStringValue(cameraDevice.handle(), "DeviceModelName", &model))) {
        const size_t modelLength = strnlen(model.chCurValue, sizeof model.chCurValue);
        bMonoSensor = (modelLength > 0 && model.chCurValue[modelLength - 1] == 'M') ? 1 : 0;
    }
    qInfo() << "bMonoSensor:" << bMonoSensor;

    MV_CC_SetEnumValue(cameraDevice.handle(), "ExposureAuto", 0);

    // The limits are panel fields that the host reads on its thread while
    // a reconnect may open the device on a pool thread.
    QMutexLocker geometry(&geometryMutex);

    MVCC_INTVALUE intValue;
    MVCC_FLOATVALUE floatValue;
    if (readInt("WidthMax", intValue))
        sensorWidthMax = static_cast<int>(intValue.nCurValue);
    if (readInt("HeightMax", intValue))
        sensorHeightMax = static_cast<int>(intValue.nCurValue);

    const auto readInfo = [&](const char* key, IntParamInfo& info) {
        if (!readInt(key, intValue))
            return;
        info.max = static_cast<int>(intValue.nMax);
        info.min = static_cast<int>(intValue.nMin);
        info.step = static_cast<int>(intValue.nInc);
    };
    readInfo("Width", widthInfo);
    readInfo("Height", heightInfo);
    readInfo("OffsetX", offsetXInfo);
    readInfo("OffsetY", offsetYInfo);

    if (readFloat("ExposureTime", floatValue)) {
        exposureMax = floatValue.fMax / 1000;
        exposureMin = floatValue.fMin / 1000;
    }
    const auto readTenths = [&](const char* key, IntParamLimits& limits) {
        if (!readFloat(key, floatValue))
            return;
        limits.max = truncatedTenths(floatValue.fMax);
        limits.min = truncatedTenths(floatValue.fMin);
    };
    readTenths("Gain", gainLimits);
    readTenths("Gamma", gammaLimits);

    const auto readIntLimits = [&](const char* key, IntParamLimits& limits) {
        if (!readInt(key, intValue))
            return;
        limits.max = static_cast<int>(intValue.nMax);
        limits.min = static_cast<int>(intValue.nMin);
    };
    readIntLimits("Sharpness", sharpnessLimits);
    contrastLimits.min = 0;
    contrastLimits.max = 0;
    readIntLimits("LineDebouncerTime", debounceTimeLimits);
    readIntLimits("GevSCPD", packetIntervalLimits);
}

void CameraLorvex::choosePixelFormat()
{
    MVCC_ENUMVALUE formats;
    std::memset(&formats, 0, sizeof formats);
    MV_CC_GetPixelFormat(cameraDevice.handle(), &formats);
    pixelType = -1;
    const unsigned int offered = qMin<unsigned int>(formats.nSupportedNum, std::size(formats.nSupportValue));
    for (unsigned int i = 0; i < offered; ++i) {
        if (isColourFormat(formats.nSupportValue[i])) {
            pixelType = static_cast<int>(formats.nSupportValue[i]);
            break;
        }
    }
    qInfo() << "pixelType:" << pixelType;
}

void CameraLorvex::readBackGeometry()
{
    if (!cameraDevice.isOpen())
        return;
    if (widthInfo.step == 0 || heightInfo.step == 0 || offsetXInfo.step == 0 || offsetYInfo.step == 0)
        return;

    // All or nothing: a device busy for one read leaves the whole geometry as
    // the last complete read-back left it, so that frames keep flowing.
    int newWidth = 0;
    int newHeight = 0;
    int newOffsetX = 0;
    int newOffsetY = 0;
    if (!readCurrent(cameraDevice.handle(), cameraIndex, "Width", newWidth)
        || !readCurrent(cameraDevice.handle(), cameraIndex, "Height", newHeight)
        || !readCurrent(cameraDevice.handle(), cameraIndex, "OffsetX", newOffsetX)
        || !readCurrent(cameraDevice.handle(), cameraIndex, "OffsetY", newOffsetY))
        return;
    // The mirror flags do not shape a frame, and many cameras have neither:
    // each keeps its own last value when its read is refused.
    bool reverseX = false;
    bool reverseY = false;
    const bool haveReverseX = readFlag(cameraDevice.handle(), cameraIndex, "ReverseX", reverseX);
    const bool haveReverseY = readFlag(cameraDevice.handle(), cameraIndex, "ReverseY", reverseY);

    FrameFormat format;
    MV_CC_PIXEL_CONVERT_PARAM convertParam;
    std::memset(&convertParam, 0, sizeof convertParam);
    QMutexLocker geometry(&geometryMutex);
    width = newWidth;
    height = newHeight;
    offsetX = newOffsetX;
    offsetY = newOffsetY;
    if (haveReverseX)
        mirrorX = reverseX;
    if (haveReverseY)
        mirrorY = reverseY;

    const qint64 pixels = static_cast<qint64>(width) * height;
    convertParam.nWidth = static_cast<unsigned short>(width);
    convertParam.nHeight = static_cast<unsigned short>(height);
    convertParam.nSrcDataLen = clampedBytes(pixels);
    convertParam.nDstLen = clampedBytes(pixels);
    const bool colour = colorImage && !bMonoSensor;
    if (colour) {
        channels = 3;
        matType = 16;  // CV_8UC3
        convertParam.nDstBufferSize = clampedBytes(3 * pixels);
    } else {
        channels = 1;
        matType = 0;   // CV_8UC1
        convertParam.nDstBufferSize = clampedBytes(pixels);
    }

    format.width = width;
    format.height = height;
    format.matType = matType;
    format.channels = channels;
    format.convertColour = colour;
    framePath.setFormat(format, convertParam);
}

bool CameraLorvex::CameraStart()
{
    if (!cameraDevice.isOpen())
        return false;
    qInfo() << "CameraLorvex CameraStart";
    // Before the start: its first frame may arrive before the call returns.
    framePath.resetNumbering();
    const int status = cameraDevice.startGrabbing();
    if (status == MV_OK)
        qInfo() << "CameraLorvex MV_CC_StartGrabbing: " << 0;
    else
        qWarning() << "CameraLorvex MV_CC_StartGrabbing: " << status;
    return status == MV_OK;
}

void CameraLorvex::CameraStop()
{
    if (!cameraDevice.isOpen())
        return;
    qInfo() << "CameraLorvex CameraStop";
    int status = MV_OK;
    {
        FramePath::StopAnnouncement stopping(framePath);
        status = cameraDevice.stopGrabbing();
    }
    if (status == MV_OK)
        qInfo() << "CameraLorvex MV_CC_StopGrabbing: " << 0;
    else
        qWarning() << "CameraLorvex MV_CC_StopGrabbing: " << status;
    MV_CC_ClearImageBuffer(cameraDevice.handle());
    framePath.releaseIdleBuffers();
    pauseWithEvents(kStopPauseMs);
}

void CameraLorvex::CameraClose()
{
    if (!cameraDevice.isOpen())
        return;
    // The open count, not the handle's value: an SDK may give a new handle
    // the address of one it destroyed.
    const unsigned int generation = cameraDevice.generation();
    pauseWithEvents(kClosePauseMs);
    // A host slot run by the pause's event loop may have closed or reopened
    // the camera itself; never close a handle this call did not start with.
    if (!cameraDevice.isOpen() || cameraDevice.generation() != generation)
        return;
    FramePath::StopAnnouncement stopping(framePath);
    cameraDevice.closeHandle();
}

void CameraLorvex::stopAndClose()
{
    CameraStop();
    CameraClose();
}

bool CameraLorvex::bringUpDevice(OpenFirst open)
{
    if (open == OpenFirst::Yes)
        CameraOpen();
    readBackGeometry();
    return CameraStart();
}

void CameraLorvex::loseRefusedStart()
{
    qWarning() << "Camera" << cameraIndex << "refused to start grabbing; closed, retried later";
    stopAndClose();
    markLost();
}

void CameraLorvex::bringUpOrLose(OpenFirst open)
{
    if (!bringUpDevice(open) && cameraDevice.isOpen())
        loseRefusedStart();
}

void CameraLorvex::closeCamera()
{
    DeviceOperation operation(*this, DeviceOperation::Ends::Closed);
    stopAndClose();
    // A close is final: a lost camera closed by its host is not reopened.
    cameraDevice.closedForGood();
}

void CameraLorvex::restartCamera()
{
    DeviceOperation operation(*this);
    stopAndClose();
    bringUpOrLose(OpenFirst::Yes);
}
