// Enumeration: the default device set, the records, device files and attach state.
#include "sdktestutil.h"

#include <QTemporaryDir>

#include <string>

using namespace sdktest;

class TestSdkEnumeration : public QObject {
    Q_OBJECT

private slots:
    // Runs before init(): nothing has steered the SDK yet.
    void initTestCase()
    {
        MV_CC_DEVICE_INFO_LIST list;
        std::memset(&list, 0, sizeof list);
        QCOMPARE(sizeof list, size_t(2056));
        QCOMPARE_STATUS(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 3u);
        // Copied: opening enumerates again, which ends the records' validity.
        std::vector<MV_CC_DEVICE_INFO> records;
        for (unsigned i = 0; i < list.nDeviceNum; ++i)
            records.push_back(*list.pDeviceInfo[i]);
        int mono = -1, colour = -1, rejected = -1;
        for (unsigned i = 0; i < records.size(); ++i) {
            const MV_GIGE_DEVICE_INFO& g = records[i].SpecialInfo.stGigEInfo;
            std::string serial(reinterpret_cast<const char*>(g.chSerialNumber));
            std::string maker(reinterpret_cast<const char*>(g.chManufacturerName));
            QCOMPARE(records[i].nTLayerType, MV_GIGE_DEVICE);
            if (serial.find("Vir") != std::string::npos) {
                rejected = int(i);
                continue;
            }
            QVERIFY(serial.size() > 8);
            QVERIFY(maker.find("GEV") != std::string::npos || maker.find("ZEQ") != std::string::npos);
            void* h = openDevice(serial.c_str());
            QVERIFY(h);
            MVCC_INTVALUE w{};
            MVCC_ENUMVALUE pf{};
            MVCC_STRINGVALUE name{};
            QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &w), MV_OK);
            QCOMPARE_STATUS(MV_CC_GetPixelFormat(h, &pf), MV_OK);
            QCOMPARE_STATUS(MV_CC_GetStringValue(h, "DeviceModelName", &name), MV_OK);
            if (w.nCurValue == 4096 && name.chCurValue[std::strlen(name.chCurValue) - 1] == 'M') {
                mono = int(i);
                QCOMPARE(pf.nCurValue, unsigned(PixelType_Gvsp_Mono8));
            } else if (w.nCurValue == 2048) {
                colour = int(i);
                QCOMPARE(pf.nCurValue, unsigned(PixelType_Gvsp_BayerRG8));
            }
            closeDevice(h);
        }
        QVERIFY(mono >= 0);
        QVERIFY(colour >= 0);
        QVERIFY(rejected >= 0);
    }

    void init() { VCC_Reset(); }

    void resetLeavesNoDevices()
    {
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 0u);
        QCOMPARE(VCC_DeviceCount(), 0);
        QCOMPARE_STATUS(VCC_UseDefaultDevices(), MV_OK);
        QCOMPARE(VCC_DeviceCount(), 3);
    }

    void recordsStayValidUntilNextEnumeration()
    {
        QCOMPARE_STATUS(addDevice("SER-AAAA-0001"), MV_OK);
        QCOMPARE_STATUS(addDevice("SER-BBBB-0002"), MV_OK);
        MV_CC_DEVICE_INFO_LIST first{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &first), MV_OK);
        QCOMPARE(first.nDeviceNum, 2u);
        QCOMPARE(std::string(serialOf(first.pDeviceInfo[0])), std::string("SER-AAAA-0001"));
        // Removing a device changes what the next enumeration says, not the records already handed out.
        QCOMPARE_STATUS(VCC_RemoveDevice("SER-AAAA-0001"), MV_OK);
        QCOMPARE(std::string(serialOf(first.pDeviceInfo[0])), std::string("SER-AAAA-0001"));
        QCOMPARE(std::string(serialOf(first.pDeviceInfo[1])), std::string("SER-BBBB-0002"));
        MV_CC_DEVICE_INFO_LIST second{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &second), MV_OK);
        QCOMPARE(second.nDeviceNum, 1u);
        QCOMPARE(std::string(serialOf(second.pDeviceInfo[0])), std::string("SER-BBBB-0002"));
        QVERIFY(second.pDeviceInfo[1] == nullptr);
    }

    void transportMaskAndUsbRecords()
    {
        QCOMPARE_STATUS(addDevice("GIGE-000001"), MV_OK);
        QCOMPARE_STATUS(addDevice("USB3-000002", 64, 16, PixelType_Gvsp_Mono8, "TS-U-M", MV_USB_DEVICE), MV_OK);
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(MV_USB_DEVICE, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 1u);
        QCOMPARE(list.pDeviceInfo[0]->nTLayerType, MV_USB_DEVICE);
        QCOMPARE(std::string(reinterpret_cast<const char*>(list.pDeviceInfo[0]->SpecialInfo.stUsb3VInfo.chModelName)),
                 std::string("TS-U-M"));
        QCOMPARE_STATUS(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 2u);
        void* h = openDevice("USB3-000002");
        QVERIFY(h);
        closeDevice(h);
    }

    void badDescriptionsAreRefused()
    {
        QCOMPARE_STATUS(addDevice("DUP-0000001"), MV_OK);
        QCOMPARE_STATUS(addDevice("DUP-0000001"), MV_E_PARAMETER);
        VCC_DEVICE_DESC d{};
        QCOMPARE_STATUS(VCC_AddDevice(&d), MV_E_PARAMETER);
        QCOMPARE_STATUS(VCC_AddDevice(nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(addDevice("TOO-WIDE-0001", 0), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, nullptr), MV_E_PARAMETER);
    }

    void detachHidesAndAttachRestores()
    {
        QCOMPARE_STATUS(addDevice("PLUG-0000001"), MV_OK);
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(VCC_DetachDevice("PLUG-0000001"), MV_OK);
        QCOMPARE_STATUS(VCC_DetachDevice("PLUG-0000001"), MV_E_CALLORDER);
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 0u);
        QCOMPARE_STATUS(VCC_AttachDevice("PLUG-0000001"), MV_OK);
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 1u);
        QCOMPARE_STATUS(VCC_DetachDevice("NO-SUCH-DEVICE"), MV_E_PARAMETER);
    }

    void failedEnumerationStillFillsTheList()
    {
        QCOMPARE_STATUS(addDevice("ENUM-0000001"), MV_OK);
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_EnumDevices", 1, int(MV_E_NETER)), MV_OK);
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_E_NETER);
        QCOMPARE(list.nDeviceNum, 1u);
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
    }

    void deviceFileReplacesTheSet()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("devices.json");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"devices": [
            {"manufacturer": "GEV Works", "model": "JS-1-M", "serial": "JSON-000001", "transport": "usb3",
             "widthMax": 512, "heightMax": 2000, "width": 256, "height": 100,
             "pixelFormats": ["Mono8", "BayerGB8"], "pixelFormat": "BayerGB8", "lineRate": 5000,
             "features": {"ExposureTime": 55.5, "ReverseX": true, "DeviceModelName": "JS-1-C"}},
            {"manufacturer": "GEV Works", "model": "JS-2-M", "serial": "JSON-000002", "widthMax": 128,
             "heightMax": 64, "attached": false}
        ]})");
        f.close();
        QCOMPARE_STATUS(VCC_LoadDeviceFile(path.toLocal8Bit().constData()), MV_OK);
        QCOMPARE(VCC_DeviceCount(), 2);
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 1u); // the second is unplugged
        void* h = openDevice("JSON-000001");
        QVERIFY(h);
        MVCC_ENUMVALUE pf{};
        QCOMPARE_STATUS(MV_CC_GetPixelFormat(h, &pf), MV_OK);
        QCOMPARE(pf.nCurValue, unsigned(PixelType_Gvsp_BayerGB8));
        QCOMPARE(pf.nSupportedNum, 2u);
        QCOMPARE(pf.nSupportValue[0], unsigned(PixelType_Gvsp_Mono8));
        MVCC_FLOATVALUE e{};
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "ExposureTime", &e), MV_OK);
        QCOMPARE(e.fCurValue, 55.5f);
        MVCC_STRINGVALUE s{};
        QCOMPARE_STATUS(MV_CC_GetStringValue(h, "DeviceModelName", &s), MV_OK);
        QCOMPARE(QString(s.chCurValue), QString("JS-1-C"));
        closeDevice(h);
    }

    void brokenDeviceFileKeepsTheSet_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("syntax") << QByteArray(R"({"devices": [ {"serial": )");
        QTest::newRow("no list") << QByteArray(R"({"cameras": []})");
        QTest::newRow("no sizes") << QByteArray(R"({"devices": [{"manufacturer": "a", "model": "b", "serial": "c"}]})");
        QTest::newRow("bad format") << QByteArray(
            R"({"devices": [{"manufacturer": "a", "model": "b", "serial": "c", "widthMax": 8, "heightMax": 8, "pixelFormats": ["Mono12"]}]})");
        QTest::newRow("size beyond unsigned") << QByteArray(
            R"({"devices": [{"manufacturer": "a", "model": "b", "serial": "c", "widthMax": 1e20, "heightMax": -8}]})");
        QTest::newRow("bad feature") << QByteArray(
            R"({"devices": [{"manufacturer": "a", "model": "b", "serial": "c", "widthMax": 8, "heightMax": 8, "features": {"Gain": "loud"}}]})");
        // Values the documentation gives no meaning, and keys it does not know.
        const QByteArray device = R"({"manufacturer": "a", "model": "b", "serial": "c", "widthMax": 8, "heightMax": 8, )";
        QTest::newRow("line rate 0") << QByteArray("{\"devices\": [" + device + R"("lineRate": 0}]})");
        QTest::newRow("negative line rate") << QByteArray("{\"devices\": [" + device + R"("lineRate": -100}]})");
        QTest::newRow("line rate a word") << QByteArray("{\"devices\": [" + device + R"("lineRate": "fast"}]})");
        QTest::newRow("open delay a word") << QByteArray("{\"devices\": [" + device + R"("openDelayMs": "soon"}]})");
        QTest::newRow("attached a word") << QByteArray("{\"devices\": [" + device + R"("attached": "yes"}]})");
        QTest::newRow("unknown key") << QByteArray("{\"devices\": [" + device + R"("linerate": 5000}]})");
        QTest::newRow("unknown fault") << QByteArray("{\"devices\": [" + device + R"("faults": ["explode:1"]}]})");
        QTest::newRow("fault without numbers") << QByteArray("{\"devices\": [" + device + R"("faults": ["gap:1"]}]})");
    }

    void brokenDeviceFileKeepsTheSet()
    {
        QFETCH(QByteArray, json);
        QCOMPARE_STATUS(addDevice("KEEP-000001"), MV_OK);
        QTemporaryDir dir;
        QFile f(dir.filePath("bad.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
        f.close();
        QVERIFY(VCC_LoadDeviceFile(f.fileName().toLocal8Bit().constData()) != MV_OK);
        QCOMPARE(VCC_DeviceCount(), 1);
        QVERIFY(VCC_LoadDeviceFile("/nonexistent/devices.json") != MV_OK);
    }
};

QTEST_GUILESS_MAIN(TestSdkEnumeration)
#include "tst_sdk_enumeration.moc"
