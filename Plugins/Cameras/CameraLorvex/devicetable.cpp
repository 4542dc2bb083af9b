// The accepted-device table, enumeration with its filter, the host's device
// list, the factory, and the selection by serial number.
#include "cameralorvex.h"
#include "devicetable.h"


#include <cstring>

namespace lorvex {
namespace {

MV_CC_DEVICE_INFO_LIST gAcceptedDevices;  // zero at load
int gListedDeviceCount = 0;

template <size_t N>
QString fixedString(const unsigned char (&chars)[N])
{
    // NUL-terminated by the SDK; bounded anyway, so a record without a NUL
    // cannot make the read run into the next field.
    const char* begin = reinterpret_cast<const char*>(chars);
    return QString::fromLatin1(begin, static_cast<int>(strnlen(begin, N)));
}

} // namespace

RankedMutex& deviceTableMutex()
{
    static RankedMutex mutex(LockRank::DeviceTable, "deviceTableMutex");
    return mutex;
}

MV_CC_DEVICE_INFO_LIST& acceptedDevices()
{
    return gAcceptedDevices;
}

int& listedDeviceCount()
{
    return gListedDeviceCount;
}

DeviceStrings deviceStrings(const MV_CC_DEVICE_INFO& info)
{
    if (info.nTLayerType == MV_USB_DEVICE) {
        const MV_USB3_DEVICE_INFO& usb = info.SpecialInfo.stUsb3VInfo;
        return {fixedString(usb.chManufacturerName), fixedString(usb.chModelName), fixedString(usb.chSerialNumber)};
    }
    const MV_GIGE_DEVICE_INFO& gige = info.SpecialInfo.stGigEInfo;
    return {fixedString(gige.chManufacturerName), fixedString(gige.chModelName), fixedString(gige.chSerialNumber)};
}

bool isAcceptedDevice(const DeviceStrings& device)
{
    if (device.serial.contains(QLatin1String("Vir")))
        return false;
    if (device.model.contains(QLatin1String("MV-DL")) || device.model.contains(QLatin1String("MV-IDC")))
        return false;
    return device.manufacturer.contains(QLatin1String("Lvx"))
        || device.manufacturer.contains(QLatin1String("GEV"))
        || device.manufacturer.contains(QLatin1String("ZEQ"));
}

int enumAcceptedDevicesLocked()
{
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    std::memset(&gAcceptedDevices, 0, sizeof gAcceptedDevices);

    const int status = MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list);
    const unsigned int found = list.nDeviceNum < MV_MAX_DEVICE_NUM ? list.nDeviceNum : MV_MAX_DEVICE_NUM;
    for (unsigned int i = 0; i < found; ++i) {
        const MV_CC_DEVICE_INFO* info = list.pDeviceInfo[i];
        if (!info || !isAcceptedDevice(deviceStrings(*info)))
            continue;
        gAcceptedDevices.pDeviceInfo[gAcceptedDevices.nDeviceNum++] = const_cast<MV_CC_DEVICE_INFO*>(info);
    }
    return status;
}

} // namespace lorvex

using namespace lorvex;

int CameraLorvex::EnumAcceptedDevices()
{
    RankedLocker table(deviceTableMutex());
    return enumAcceptedDevicesLocked();
}

QVector<QString> CameraLorvex::getCameraList(int& count)
{
    QVector<QString> serials;
    RankedLocker table(deviceTableMutex());
    const int status = enumAcceptedDevicesLocked();
    count = static_cast<int>(acceptedDevices().nDeviceNum);
    listedDeviceCount() = count;
    if (status != MV_OK || count < 1)
        return serials;
    for (int i = 0; i < count; ++i)
        serials.append(QString("%1").arg(deviceStrings(*acceptedDevices().pDeviceInfo[i]).serial));
    return serials;
}

CameraInterface* CameraLorvex::createCamera(int cameraIndex, QString serialNumber, int deviceIndex)
{
    CameraLorvex* camera = new CameraLorvex;
    camera->cameraIndex = cameraIndex;
    camera->deviceIndex = deviceIndex;
    camera->serialNumber = serialNumber;
    camera->cameraDevice.open();
    camera->buildParamsWrap();
    return camera;
}
