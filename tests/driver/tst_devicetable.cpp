// The accepted-device table: enumeration with the acceptance filter, the
// host's device list, the factory and the selection by serial number.
#include "devicetable.h"
#include "virtualdevices.h"

using namespace drvtest;

namespace {

QString serialAt(int position)
{
    lorvex::RankedLocker table(lorvex::deviceTableMutex());
    const MV_CC_DEVICE_INFO* info = lorvex::acceptedDevices().pDeviceInfo[position];
    return info ? lorvex::deviceStrings(*info).serial : QStringLiteral("<null>");
}

unsigned acceptedCount()
{
    lorvex::RankedLocker table(lorvex::deviceTableMutex());
    return lorvex::acceptedDevices().nDeviceNum;
}

int listedCount()
{
    lorvex::RankedLocker table(lorvex::deviceTableMutex());
    return lorvex::listedDeviceCount();
}

QVector<QString> listDevices(int& count)
{
    CameraLorvex root;
    return root.getCameraList(count);
}

std::unique_ptr<CameraLorvex> create(int cameraIndex, const QString& serial, int deviceIndex = 0)
{
    CameraLorvex root;
    return std::unique_ptr<CameraLorvex>(
        static_cast<CameraLorvex*>(root.createCamera(cameraIndex, serial, deviceIndex)));
}

} // namespace

class TestDeviceTable : public QObject
{
    Q_OBJECT

    FeatureFolder features;

private slots:
    // Runs first: the table of a freshly loaded plug-in has never been listed.
    void createBeforeAnyListingFindsNothing()
    {
        resetSdk();
        QCOMPARE(addDevice(monoDevice("ZEQ000001")), 0);
        QCOMPARE(listedCount(), 0);
        LogCapture log;
        auto camera = create(1, QStringLiteral("ZEQ000001"));
        QVERIFY(camera);
        QVERIFY(!probe(camera).opened());
        QVERIFY(probe(camera).lost());
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("Can not found camera 1 with SN ZEQ000001")) >= 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 0);
    }

    void init() { resetSdk(); }

    void filter_data()
    {
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<unsigned>("transport");
        QTest::addColumn<bool>("accepted");

        const unsigned gige = MV_GIGE_DEVICE;
        const unsigned usb = MV_USB_DEVICE;
        QTest::newRow("Lvx") << "Lvx Optics" << "LX-2048" << "SN0000001" << gige << true;
        QTest::newRow("Lvx in the middle") << "The Lvx Co" << "LX-2048" << "SN0000001" << gige << true;
        QTest::newRow("GEV anywhere") << "acmeGEVx" << "LX-2048" << "SN0000001" << gige << true;
        QTest::newRow("ZEQ anywhere") << "made by ZEQ" << "LX-2048" << "SN0000001" << gige << true;
        QTest::newRow("lvx lower case") << "lvx optics" << "LX-2048" << "SN0000001" << gige << false;
        QTest::newRow("LVX upper case") << "LVX OPTICS" << "LX-2048" << "SN0000001" << gige << false;
        QTest::newRow("none of the three") << "Acme" << "LX-2048" << "SN0000001" << gige << false;
        QTest::newRow("Vir serial") << "Lvx Optics" << "LX-2048" << "Vir000001" << gige << false;
        QTest::newRow("Vir inside serial") << "ZEQ" << "LX-2048" << "SN0Vir001" << gige << false;
        QTest::newRow("vir lower case serial") << "ZEQ" << "LX-2048" << "vir000001" << gige << true;
        QTest::newRow("MV-DL model") << "Lvx Optics" << "MV-DL2040" << "SN0000001" << gige << false;
        QTest::newRow("MV-IDC model") << "ZEQ" << "MV-IDC004" << "SN0000001" << gige << false;
        QTest::newRow("MV-DL inside model") << "GEV" << "X-MV-DLx" << "SN0000001" << gige << false;
        QTest::newRow("mv-dl lower case model") << "ZEQ" << "mv-dl2040" << "SN0000001" << gige << true;
        // The strings of a USB3 device live in their own union member.
        QTest::newRow("USB3 accepted") << "ZEQ" << "LX-U3" << "SNU000001" << usb << true;
        QTest::newRow("USB3 Vir serial") << "ZEQ" << "LX-U3" << "Vir000001" << usb << false;
        QTest::newRow("USB3 MV-IDC model") << "ZEQ" << "MV-IDC004" << "SNU000001" << usb << false;
        QTest::newRow("USB3 lvx lower case") << "lvx" << "LX-U3" << "SNU000001" << usb << false;
    }

    void filter()
    {
        QFETCH(QString, manufacturer);
        QFETCH(QString, model);
        QFETCH(QString, serial);
        QFETCH(unsigned, transport);
        QFETCH(bool, accepted);

        DeviceSpec spec = monoDevice(serial.toStdString(), 64, 16);
        spec.manufacturer = manufacturer.toStdString();
        spec.model = model.toStdString();
        spec.transport = transport;
        QCOMPARE(addDevice(spec), 0);

        int count = -1;
        const QVector<QString> list = listDevices(count);
        QCOMPARE(count, accepted ? 1 : 0);
        QCOMPARE(list, accepted ? QVector<QString>{serial} : QVector<QString>{});
        QCOMPARE(listedCount(), count);
        QCOMPARE(acceptedCount(), unsigned(count));
    }

    void rejectedDeviceInTheMiddleKeepsOrder()
    {
        QCOMPARE(addDevice(monoDevice("ZEQ000001", 64, 16)), 0);
        DeviceSpec rejected = monoDevice("ZEQ000002", 64, 16);
        rejected.model = "MV-DL2040";
        QCOMPARE(addDevice(rejected), 0);
        QCOMPARE(addDevice(monoDevice("ZEQ000003", 64, 16)), 0);

        int count = -1;
        QCOMPARE(listDevices(count), (QVector<QString>{"ZEQ000001", "ZEQ000003"}));
        QCOMPARE(count, 2);
        QCOMPARE(listedCount(), 2);
        QCOMPARE(acceptedCount(), 2u);
        QCOMPARE(serialAt(0), QStringLiteral("ZEQ000001"));
        QCOMPARE(serialAt(1), QStringLiteral("ZEQ000003"));
        QCOMPARE(serialAt(2), QStringLiteral("<null>"));

        // The selection finds the third device at its table position, not at
        // the position the host guessed.
        auto camera = create(7, QStringLiteral("ZEQ000003"), 5);
        QVERIFY(probe(camera).opened());
        QCOMPARE(camera->deviceIndex, 1);
    }

    void noDevicesGivesAnEmptyList()
    {
        int count = 7;
        QVERIFY(listDevices(count).isEmpty());
        QCOMPARE(count, 0);
        QCOMPARE(listedCount(), 0);
        QCOMPARE(acceptedCount(), 0u);
    }

    void enumerationErrorStillSetsTheCount()
    {
        QCOMPARE(addDevice(monoDevice("ZEQ000001", 64, 16)), 0);
        QCOMPARE(addDevice(monoDevice("ZEQ000002", 64, 16)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_EnumDevices", 1, int(MV_E_UNKNOW)), 0);
        int count = -1;
        QVERIFY(listDevices(count).isEmpty());
        QCOMPARE(count, 2);
        QCOMPARE(listedCount(), 2);
    }

    // A replaced table (a second listing) is searched as it stands now.
    void listingAgainReplacesTheTable()
    {
        QCOMPARE(addDevice(monoDevice("ZEQ000001", 64, 16)), 0);
        QCOMPARE(addDevice(monoDevice("ZEQ000002", 64, 16)), 0);
        int count = 0;
        listDevices(count);
        QCOMPARE(count, 2);
        QCOMPARE(VCC_DetachDevice("ZEQ000001"), 0);
        QCOMPARE(listDevices(count), QVector<QString>{"ZEQ000002"});
        QCOMPARE(serialAt(1), QStringLiteral("<null>"));
        auto camera = create(1, QStringLiteral("ZEQ000001"));
        QVERIFY(probe(camera).lost());
    }

    void usb3DeviceIsListedAndOpened()
    {
        DeviceSpec usb = monoDevice("ZEQU00001", 64, 16);
        usb.transport = MV_USB_DEVICE;
        QCOMPARE(addDevice(monoDevice("ZEQG00001", 64, 16)), 0);
        QCOMPARE(addDevice(usb), 0);
        int count = 0;
        QCOMPARE(listDevices(count), (QVector<QString>{"ZEQG00001", "ZEQU00001"}));
        auto camera = create(2, QStringLiteral("ZEQU00001"));
        QVERIFY(probe(camera).opened());
        QCOMPARE(camera->deviceIndex, 1);
    }

    void createFoundOpensWithRecordsInOrder()
    {
        QCOMPARE(addDevice(monoDevice("ZEQ000009", 64, 16)), 0);
        QCOMPARE(addDevice(monoDevice("ZEQ123456", 64, 16)), 0);
        int count = 0;
        listDevices(count);
        LogCapture log;
        auto camera = create(3, QStringLiteral("ZEQ123456"));
        QVERIFY(camera);
        QVERIFY(probe(camera).opened());
        QVERIFY(!probe(camera).lost());
        QCOMPARE(camera->cameraIndex, 3);
        QCOMPARE(camera->serialNumber, QStringLiteral("ZEQ123456"));
        QCOMPARE(camera->deviceIndex, 1);

        const int opening = log.indexOf(QtDebugMsg, QStringLiteral("Opening camera 3 with SN ZEQ123456"));
        const int mono = log.indexOf(QtInfoMsg, QStringLiteral("bMonoSensor: 1"), opening);
        const int format = log.indexOf(QtInfoMsg, QStringLiteral("pixelType: -1"), mono);
        const int success = log.indexOf(QtInfoMsg, QStringLiteral("Open Camera 3 success."), format);
        QVERIFY2(opening >= 0 && mono > opening && format > mono && success > format, qPrintable(log.dump()));
        for (const LogRecord& r : log.records()) {
            QVERIFY2(!r.file.isEmpty() && r.line > 0 && !r.function.isEmpty(), qPrintable(r.text));
            QVERIFY2(r.type != QtWarningMsg && r.type != QtCriticalMsg, qPrintable(r.text));
        }

        // Opened, not grabbing.
        VCC_DEVICE_COUNTERS counters{};
        QCOMPARE(VCC_GetDeviceCounters("ZEQ123456", &counters), 0);
        QCOMPARE(counters.opened, 1);
        QCOMPARE(counters.grabbing, 0);
    }

    void createNotFoundIsLost()
    {
        QCOMPARE(addDevice(monoDevice("ZEQ000001", 64, 16)), 0);
        int count = 0;
        listDevices(count);
        LogCapture log;
        CameraLorvex root;
        std::unique_ptr<CameraInterface> created(root.createCamera(4, QStringLiteral("ZEQ999999"), 0));
        QVERIFY(created);
        auto* camera = static_cast<CameraLorvex*>(created.get());
        QVERIFY(!probe(camera).opened());
        QVERIFY(probe(camera).lost());
        const int opening = log.indexOf(QtDebugMsg, QStringLiteral("Opening camera 4 with SN ZEQ999999"));
        const int missing = log.indexOf(QtWarningMsg, QStringLiteral("Can not found camera 4 with SN ZEQ999999"));
        QVERIFY2(opening >= 0 && missing > opening, qPrintable(log.dump()));
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 0);
        // The root object served the listing and the factory and stays closed.
        QVERIFY(!probe(root).opened());
        QVERIFY(!probe(root).lost());
    }

    void serialLength_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<bool>("searched");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("8 characters") << "ZEQ12345" << false;
        QTest::newRow("9 characters") << "ZEQ123456" << true;
    }

    void serialLength()
    {
        QFETCH(QString, serial);
        QFETCH(bool, searched);
        if (!serial.isEmpty())
            QCOMPARE(addDevice(monoDevice(serial.toStdString(), 64, 16)), 0);
        int count = 0;
        listDevices(count);
        VCC_CallLogClear();
        LogCapture log;
        auto camera = create(2, serial);
        const int refused = log.indexOf(QtWarningMsg, QStringLiteral("Camera 2 invalid config SN ") + serial);
        if (searched) {
            QCOMPARE(refused, -1);
            QVERIFY(probe(camera).opened());
        } else {
            QVERIFY2(refused >= 0, qPrintable(log.dump()));
            QVERIFY(!probe(camera).opened());
            QVERIFY(!probe(camera).lost());
            QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 0);
            QCOMPARE(log.count(QStringLiteral("Can not found")), 0);
        }
    }

    void serialsCompareExactly_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::newRow("letter case") << "zeqABC1234";
        QTest::newRow("trailing space") << "ZEQabc1234 ";
        QTest::newRow("prefix only") << "ZEQabc123";
        QTest::newRow("longer") << "ZEQabc12345";
        QTest::newRow("non-Latin") << QString::fromUtf8("ZEQabc123\xc3\xbc");
        QTest::newRow("very long") << QString(300, QLatin1Char('Z'));
    }

    void serialsCompareExactly()
    {
        QFETCH(QString, configured);
        QCOMPARE(addDevice(monoDevice("ZEQabc1234", 64, 16)), 0);
        int count = 0;
        listDevices(count);
        auto camera = create(5, configured);
        QVERIFY(!probe(camera).opened());
        QVERIFY(probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    void allDevicesOfAFullList()
    {
        for (int i = 0; i < MV_MAX_DEVICE_NUM; ++i)
            QCOMPARE(addDevice(monoDevice(QString::asprintf("ZEQ%06d", i).toStdString(), 64, 16)), 0);
        int count = 0;
        const QVector<QString> list = listDevices(count);
        QCOMPARE(count, MV_MAX_DEVICE_NUM);
        QCOMPARE(list.size(), MV_MAX_DEVICE_NUM);
        for (int i = 0; i < MV_MAX_DEVICE_NUM; ++i)
            QCOMPARE(list[i], QString::asprintf("ZEQ%06d", i));
        auto camera = create(1, QStringLiteral("ZEQ000255"));
        QVERIFY(probe(camera).opened());
        QCOMPARE(camera->deviceIndex, MV_MAX_DEVICE_NUM - 1);
    }

    // Two records with one serial number: the first listed is selected.
    void duplicateSerialFirstListedWins()
    {
        QCOMPARE(addDevice(monoDevice("ZEQ000001", 64, 16)), 0);
        QCOMPARE(addDevice(monoDevice("ZEQ000002", 64, 16)), 0);
        int count = 0;
        listDevices(count);
        static MV_CC_DEVICE_INFO records[3];
        {
            lorvex::RankedLocker table(lorvex::deviceTableMutex());
            MV_CC_DEVICE_INFO_LIST& devices = lorvex::acceptedDevices();
            records[0] = *devices.pDeviceInfo[1];  // ZEQ000002
            records[1] = *devices.pDeviceInfo[0];  // ZEQ000001
            records[2] = *devices.pDeviceInfo[0];  // ZEQ000001 again
            std::memset(&devices, 0, sizeof devices);
            for (int i = 0; i < 3; ++i)
                devices.pDeviceInfo[i] = &records[i];
            devices.nDeviceNum = 3;
            lorvex::listedDeviceCount() = 3;
        }
        auto camera = create(1, QStringLiteral("ZEQ000001"));
        QVERIFY(probe(camera).opened());
        QCOMPARE(camera->deviceIndex, 1);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 1);
        camera.reset();
        int again = 0;
        listDevices(again);  // no table entry left pointing at the records above
    }
};

QTEST_GUILESS_MAIN(TestDeviceTable)
#include "tst_devicetable.moc"
