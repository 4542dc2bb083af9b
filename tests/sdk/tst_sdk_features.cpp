// Features: limits, increments, writability, unknown names and feature files.
#include "sdktestutil.h"

#include <QTemporaryDir>

using namespace sdktest;

class TestSdkFeatures : public QObject {
    Q_OBJECT

    void* h = nullptr;

private slots:
    void init()
    {
        VCC_Reset();
        QCOMPARE_STATUS(addDevice("FEAT-0000001", 64, 16, PixelType_Gvsp_Mono8, "TS-64-M"), MV_OK);
        h = openDevice("FEAT-0000001");
        QVERIFY(h);
    }

    void cleanup() { closeDevice(h); }

    void everyFeatureThePluginReads()
    {
        MVCC_INTVALUE iv{};
        for (const char* n : {"WidthMax", "HeightMax", "Width", "Height", "OffsetX", "OffsetY", "Sharpness",
                              "LineDebouncerTime", "GevSCPD"})
            QVERIFY2(MV_CC_GetIntValue(h, n, &iv) == MV_OK, n);
        MVCC_FLOATVALUE fv{};
        for (const char* n : {"ExposureTime", "Gain", "Gamma"})
            QVERIFY2(MV_CC_GetFloatValue(h, n, &fv) == MV_OK, n);
        bool b = true;
        for (const char* n : {"ReverseX", "ReverseY"})
            QVERIFY2(MV_CC_GetBoolValue(h, n, &b) == MV_OK && !b, n);
        MVCC_ENUMVALUE ev{};
        for (const char* n : {"TriggerMode", "ExposureAuto", "PixelFormat"})
            QVERIFY2(MV_CC_GetEnumValue(h, n, &ev) == MV_OK, n);
        MVCC_STRINGVALUE sv{};
        QCOMPARE_STATUS(MV_CC_GetStringValue(h, "DeviceModelName", &sv), MV_OK);
        QCOMPARE(QString(sv.chCurValue), QString("TS-64-M"));
    }

    void floatLimitsAreChecked()
    {
        MVCC_FLOATVALUE e{};
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "ExposureTime", &e), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "ExposureTime", e.fMax), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "ExposureTime", e.fMax * 2), MV_E_GC_RANGE);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "ExposureTime", e.fMin / 2), MV_E_GC_RANGE);
        MVCC_FLOATVALUE after{};
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "ExposureTime", &after), MV_OK);
        QCOMPARE(after.fCurValue, e.fMax); // a refused write changes nothing
        QCOMPARE_STATUS(VCC_SetFloatFeature("FEAT-0000001", "Gain", 1.0, 0.0, 2.0), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "Gain", 2.5f), MV_E_GC_RANGE);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "Gain", 1.5f), MV_OK);
    }

    void enumValuesMustBeSupported()
    {
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "ExposureAuto", 0), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "TriggerMode", 7), MV_E_GC_RANGE);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "PixelFormat", PixelType_Gvsp_BayerGR8), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "PixelFormat", 0x01100003), MV_E_GC_RANGE);
        MVCC_ENUMVALUE pf{};
        QCOMPARE_STATUS(MV_CC_GetPixelFormat(h, &pf), MV_OK);
        QCOMPARE(pf.nCurValue, unsigned(PixelType_Gvsp_BayerGR8));
        QCOMPARE(pf.nSupportedNum, 7u);
        QCOMPARE(pf.nSupportValue[1], unsigned(PixelType_Gvsp_BayerRG8)); // the device's own order
    }

    void writabilityAndTypes()
    {
        QCOMPARE_STATUS(VCC_SetFeatureWritable("FEAT-0000001", "Gamma", 0), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "Gamma", 1.0f), MV_E_GC_ACCESS);
        QCOMPARE_STATUS(VCC_SetFeatureWritable("FEAT-0000001", "Gamma", 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "Gamma", 1.0f), MV_OK);
        // Wrong type and unknown names are errors, not crashes or silent successes.
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Gamma", &iv), MV_E_GC_GENERIC);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "TriggerMode", 1.0f), MV_E_GC_GENERIC);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "NoSuchFeature", &iv), MV_E_GC_GENERIC);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "NoSuchFeature", 0), MV_E_GC_GENERIC);
    }

    void removedFeatureFailsAndTestSettersWork()
    {
        QCOMPARE_STATUS(VCC_RemoveFeature("FEAT-0000001", "Sharpness"), MV_OK);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Sharpness", &iv), MV_E_GC_GENERIC);
        QCOMPARE_STATUS(VCC_SetIntFeature("FEAT-0000001", "Sharpness", 30, 10, 90, 5), MV_OK);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Sharpness", &iv), MV_OK);
        QCOMPARE(iv.nCurValue, 30u);
        QCOMPARE(iv.nMin, 10u);
        QCOMPARE(iv.nMax, 90u);
        QCOMPARE(iv.nInc, 5u);
        QCOMPARE_STATUS(VCC_SetIntFeature("FEAT-0000001", "Sharpness", 0, 10, 5, 1), MV_E_PARAMETER);
        QCOMPARE_STATUS(VCC_SetBoolFeature("FEAT-0000001", "ReverseY", 1), MV_OK);
        bool b = false;
        QCOMPARE_STATUS(MV_CC_GetBoolValue(h, "ReverseY", &b), MV_OK);
        QVERIFY(b);
        QCOMPARE_STATUS(VCC_SetStringFeature("FEAT-0000001", "DeviceModelName", "TS-64-C"), MV_OK);
        MVCC_STRINGVALUE sv{};
        QCOMPARE_STATUS(MV_CC_GetStringValue(h, "DeviceModelName", &sv), MV_OK);
        QCOMPARE(QString(sv.chCurValue), QString("TS-64-C"));
        const unsigned modes[] = {0, 1, 2};
        QCOMPARE_STATUS(VCC_SetEnumFeature("FEAT-0000001", "TriggerMode", 2, modes, 3), MV_OK);
        MVCC_ENUMVALUE ev{};
        QCOMPARE_STATUS(MV_CC_GetEnumValue(h, "TriggerMode", &ev), MV_OK);
        QCOMPARE(ev.nCurValue, 2u);
        QCOMPARE(ev.nSupportedNum, 3u);
    }

    void nullArgumentsAreErrors()
    {
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, nullptr, &iv), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "Gain", nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetBoolValue(h, "ReverseX", nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetStringValue(h, "DeviceModelName", nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetEnumValue(h, "TriggerMode", nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetPixelFormat(h, nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, nullptr, 0), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, nullptr, 0), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetDeviceInfo(h, nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_GetIntValue(nullptr, "Width", &iv), MV_E_HANDLE);
    }

    void featureFileAppliesAndReportsLines()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("cam.mfs"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# comment line\n"
                "TriggerMode = On   # trailing comment\n"
                "ExposureTime = 123.5\n"
                "ReverseX = true\n"
                "Height = 8\n"
                "PixelFormat = BayerBG8\n"
                "Bogus = 1\n"          // line 7: unknown
                "Gain = very\n"        // line 8: bad value
                "Sharpness = 1000\n"   // line 9: out of range
                "[OTHER-MODEL]\n"
                "Gamma = 3\n"          // not for this model
                "[TS-64-M]\n"
                "Sharpness = 7\n");
        f.close();
        const QByteArray path = f.fileName().toLocal8Bit();
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, path.constData()), MV_E_GC_GENERIC); // the first error
        MVCC_ENUMVALUE ev{};
        QCOMPARE_STATUS(MV_CC_GetEnumValue(h, "TriggerMode", &ev), MV_OK);
        QCOMPARE(ev.nCurValue, 1u);
        MVCC_FLOATVALUE fv{};
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "ExposureTime", &fv), MV_OK);
        QCOMPARE(fv.fCurValue, 123.5f);
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "Gamma", &fv), MV_OK);
        QCOMPARE(fv.fCurValue, 1.0f);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Height", &iv), MV_OK);
        QCOMPARE(iv.nCurValue, 8u);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Sharpness", &iv), MV_OK);
        QCOMPARE(iv.nCurValue, 7u);
        QCOMPARE_STATUS(MV_CC_GetPixelFormat(h, &ev), MV_OK);
        QCOMPARE(ev.nCurValue, unsigned(PixelType_Gvsp_BayerBG8));
    }

    void featureFileLookup()
    {
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, "does-not-exist.mfs"), MV_E_PARAMETER);
        QTemporaryDir dir;
        QFile f(dir.filePath("lookup.mfs"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Gain = 3\n");
        f.close();
        qputenv("VCC_FEATURE_DIR", dir.path().toLocal8Bit());
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, "lookup.mfs"), MV_OK);
        MVCC_FLOATVALUE fv{};
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "Gain", &fv), MV_OK);
        QCOMPARE(fv.fCurValue, 3.0f);
        // The working directory wins over the directory of the environment variable.
        QTemporaryDir cwd;
        QFile local(cwd.filePath("lookup.mfs"));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("Gain = 4\n");
        local.close();
        const QString old = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, "lookup.mfs"), MV_OK);
        QDir::setCurrent(old);
        QCOMPARE_STATUS(MV_CC_GetFloatValue(h, "Gain", &fv), MV_OK);
        QCOMPARE(fv.fCurValue, 4.0f);
        qunsetenv("VCC_FEATURE_DIR");
    }

    void shippedFeatureFileFitsTheDefaultDevices()
    {
        VCC_UseDefaultDevices();
        qputenv("VCC_FEATURE_DIR", LORVEX_SDK_SHARE_DIR);
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        std::vector<std::string> serials; // the records last only until the next enumeration
        for (unsigned i = 0; i < list.nDeviceNum; ++i)
            serials.emplace_back(serialOf(list.pDeviceInfo[i]));
        for (const std::string& serial : serials) {
            if (serial.find("Vir") != std::string::npos)
                continue;
            void* d = openDevice(serial.c_str());
            QVERIFY(d);
            QCOMPARE_STATUS(MV_CC_FeatureLoad(d, "Lorvex.mfs"), MV_OK);
            MVCC_ENUMVALUE tm{};
            QCOMPARE_STATUS(MV_CC_GetEnumValue(d, "TriggerMode", &tm), MV_OK);
            QCOMPARE(tm.nCurValue, 0u);
            closeDevice(d);
        }
        qunsetenv("VCC_FEATURE_DIR");
        h = openDevice("ZQ4096M0001"); // for cleanup()
    }

    void geometryRules()
    {
        MVCC_INTVALUE w{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "OffsetX", &w), MV_OK);
        QCOMPARE(w.nMax, 0u); // full width leaves no room to shift
        QCOMPARE_STATUS(VCC_SetIntFeature("FEAT-0000001", "GevSCPD", 0, 0, 800, 8), MV_OK);
        QTemporaryDir dir;
        QFile f(dir.filePath("geo.mfs"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Width = 32\nOffsetX = 16\nOffsetX = 40\nGevSCPD = 12\n");
        f.close();
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, f.fileName().toLocal8Bit().constData()), MV_E_GC_RANGE);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "OffsetX", &w), MV_OK);
        QCOMPARE(w.nCurValue, 16u);
        QCOMPARE(w.nMax, 32u);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &w), MV_OK);
        QCOMPARE(w.nMax, 48u);
        // Size and format are fixed while grabbing, as on a device.
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "PixelFormat", PixelType_Gvsp_BayerRG8), MV_E_GC_ACCESS);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "ExposureTime", 30.f), MV_OK);
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "PixelFormat", PixelType_Gvsp_BayerRG8), MV_OK);
    }
};

QTEST_GUILESS_MAIN(TestSdkFeatures)
#include "tst_sdk_features.moc"
