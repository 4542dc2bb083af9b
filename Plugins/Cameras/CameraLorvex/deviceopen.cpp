// The open: selection by serial number, handle, feature file, callbacks,
// the device's model, limits and colour format.
#include "lorvexdevice.h"
#include "devicetable.h"
#include "serialrule.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

// MV_CC_OpenDevice's access mode for exclusive control of the device.
constexpr unsigned int kExclusiveAccess = 1;
// Frame buffers the SDK keeps for the device.
constexpr unsigned int kImageNodes = 30;
// What selectAndOpen's table search answers besides a position.
constexpr int kNotFound = -1;
constexpr int kHandleRefused = -2;

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

} // namespace

bool LorvexDevice::openDevice()
{
    qDebug().noquote() << "Opening camera" << settings.cameraIndex << "with SN" << settings.serialNumber;
    if (settings.serialNumber.size() <= lorvex::kLongestRefusedSerial) {
        qWarning().noquote() << "Camera" << settings.cameraIndex << "invalid config SN" << settings.serialNumber;
        return false;
    }
    lorvex::RankedLocker handle(handleMutex);
    if (!transition(DeviceState::Opening))
        return false;
    int position = 0;
    if (!selectAndOpen(position))
        return false;
    {
        lorvex::RankedLocker panel(panelMutex);
        settings.deviceIndex = position;
    }
    readLimits();
    choosePixelFormat();

    MV_CC_DEVICE_INFO scratch;
    std::memset(&scratch, 0, sizeof scratch);
    MV_CC_GetDeviceInfo(devHandle, &scratch);

    frames.useHandle(devHandle);
    transition(DeviceState::Open);
    qInfo() << "Open Camera" << settings.cameraIndex << "success.";
    return true;
}

bool LorvexDevice::selectAndOpen(int& position)
{
    const int cameraIndex = settings.cameraIndex;
    int status = MV_OK;
    position = createHandleForSerial(status);
    if (position == kNotFound) {
        qWarning().noquote() << "Can not found camera" << cameraIndex << "with SN" << settings.serialNumber;
        transition(DeviceState::Lost);
        return false;
    }
    if (position == kHandleRefused) {
        qWarning().noquote() << "Camera" << cameraIndex << "create handle failed:" << QString::number(status, 16);
        transition(DeviceState::Lost);
        return false;
    }

    status = MV_CC_OpenDevice(devHandle, kExclusiveAccess, 0);
    if (status != MV_OK) {
        qWarning().noquote() << "Open camera" << cameraIndex << "failed:" << QString::number(status, 16);
        MV_CC_DestroyHandle(devHandle);
        devHandle = nullptr;
        transition(DeviceState::Lost);
        return false;
    }

    status = MV_CC_FeatureLoad(devHandle, "Lorvex.mfs");
    if (status != MV_OK)
        qCritical() << "Load configuration file(Lorvex.mfs) failed:" << status;

    // Counted before the exception callback is registered: a notice that
    // comes during the rest of the open is about this handle.
    ++generation;

    // A device without its callbacks would never deliver a frame nor report
    // its loss: a refused registration is a failed open.
    status = MV_CC_RegisterImageCallBackEx(devHandle, callbacks.image, callbacks.user);
    if (status == MV_OK)
        status = MV_CC_RegisterExceptionCallBack(devHandle, callbacks.exception, callbacks.user);
    if (status != MV_OK) {
        qWarning().noquote() << "Camera" << cameraIndex << "callback registration failed:"
                             << QString::number(status, 16);
        {
            FramePath::StopAnnouncement stopping(frames);
            MV_CC_CloseDevice(devHandle);
            MV_CC_DestroyHandle(devHandle);
        }
        devHandle = nullptr;
        transition(DeviceState::Lost);
        return false;
    }
    MV_CC_SetImageNodeNum(devHandle, kImageNodes);
    return true;
}

int LorvexDevice::createHandleForSerial(int& status)
{
    using namespace lorvex;
    status = MV_OK;
    RankedLocker table(deviceTableMutex());
    const MV_CC_DEVICE_INFO_LIST& devices = acceptedDevices();
    const int searchable = qMin(listedDeviceCount(), static_cast<int>(devices.nDeviceNum));
    for (int i = 0; i < searchable; ++i) {
        if (QString("%1").arg(deviceStrings(*devices.pDeviceInfo[i]).serial) != settings.serialNumber)
            continue;
        // Created while the table is locked: the record belongs to the SDK's
        // current enumeration, which another thread's enumeration would replace.
        status = MV_CC_CreateHandle(&devHandle, devices.pDeviceInfo[i]);
        if (status != MV_OK) {
            devHandle = nullptr;
            return kHandleRefused;
        }
        return i;
    }
    return kNotFound;
}

void LorvexDevice::readLimits()
{
    const int cameraIndex = settings.cameraIndex;
    // Every read into a record of its own: a refused read keeps the field's
    // last good value (with a warning), never a neighbour's.
    const auto refused = [cameraIndex](const char* key, int status) {
        if (status == MV_OK)
            return false;
        qWarning() << "Camera" << cameraIndex << "read of" << key << "failed:" << status << "keeping the last value";
        return true;
    };
    const auto readInt = [&](const char* key, MVCC_INTVALUE& record) {
        std::memset(&record, 0, sizeof record);
        return !refused(key, MV_CC_GetIntValue(devHandle, key, &record));
    };
    const auto readFloat = [&](const char* key, MVCC_FLOATVALUE& record) {
        std::memset(&record, 0, sizeof record);
        return !refused(key, MV_CC_GetFloatValue(devHandle, key, &record));
    };

    // The limits are panel fields that the host reads on its thread while
    // a reconnect may open the device on a pool thread.
    lorvex::RankedLocker panel(panelMutex);
    MVCC_STRINGVALUE model;
    std::memset(&model, 0, sizeof model);
    if (!refused("DeviceModelName", MV_CC_GetStringValue(devHandle, "DeviceModelName", &model))) {
        const size_t modelLength = strnlen(model.chCurValue, sizeof model.chCurValue);
        bMonoSensor = (modelLength > 0 && model.chCurValue[modelLength - 1] == 'M') ? 1 : 0;
    }
    qInfo() << "bMonoSensor:" << bMonoSensor;

    MV_CC_SetEnumValue(devHandle, "ExposureAuto", 0);

    MVCC_INTVALUE intValue;
    MVCC_FLOATVALUE floatValue;
    if (readInt("WidthMax", intValue))
        settings.sensorWidthMax = static_cast<int>(intValue.nCurValue);
    if (readInt("HeightMax", intValue))
        settings.sensorHeightMax = static_cast<int>(intValue.nCurValue);

    const auto readInfo = [&](const char* key, IntParamInfo& info) {
        if (!readInt(key, intValue))
            return;
        info.max = static_cast<int>(intValue.nMax);
        info.min = static_cast<int>(intValue.nMin);
        info.step = static_cast<int>(intValue.nInc);
    };
    readInfo("Width", settings.widthInfo);
    readInfo("Height", settings.heightInfo);
    readInfo("OffsetX", settings.offsetXInfo);
    readInfo("OffsetY", settings.offsetYInfo);

    if (readFloat("ExposureTime", floatValue)) {
        settings.exposureMax = floatValue.fMax / 1000;
        settings.exposureMin = floatValue.fMin / 1000;
    }
    const auto readTenths = [&](const char* key, IntParamLimits& limits) {
        if (!readFloat(key, floatValue))
            return;
        limits.max = truncatedTenths(floatValue.fMax);
        limits.min = truncatedTenths(floatValue.fMin);
    };
    readTenths("Gain", settings.gainLimits);
    readTenths("Gamma", settings.gammaLimits);

    const auto readIntLimits = [&](const char* key, IntParamLimits& limits) {
        if (!readInt(key, intValue))
            return;
        limits.max = static_cast<int>(intValue.nMax);
        limits.min = static_cast<int>(intValue.nMin);
    };
    readIntLimits("Sharpness", settings.sharpnessLimits);
    settings.contrastLimits.min = 0;
    settings.contrastLimits.max = 0;
    readIntLimits("LineDebouncerTime", settings.debounceTimeLimits);
    readIntLimits("GevSCPD", settings.packetIntervalLimits);
}

void LorvexDevice::choosePixelFormat()
{
    MVCC_ENUMVALUE formats;
    std::memset(&formats, 0, sizeof formats);
    MV_CC_GetPixelFormat(devHandle, &formats);
    int chosen = -1;
    const unsigned int offered = qMin<unsigned int>(formats.nSupportedNum, std::size(formats.nSupportValue));
    for (unsigned int i = 0; i < offered; ++i) {
        if (isColourFormat(formats.nSupportValue[i])) {
            chosen = static_cast<int>(formats.nSupportValue[i]);
            break;
        }
    }
    {
        lorvex::RankedLocker panel(panelMutex);
        pixelType = chosen;
    }
    qInfo() << "pixelType:" << chosen;
}
