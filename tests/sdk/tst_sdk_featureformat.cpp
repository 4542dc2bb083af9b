// The feature-file format as both camera SDKs read it: which lines reach a
// device, in which order, with which line numbers, and how values read.
#include "featureformat.h"

#include <QtTest>

using vcc::FeatureEntry;
using vcc::FeatureValue;

class TestSdkFeatureFormat : public QObject {
    Q_OBJECT

private slots:
    void linesForTheModelInOrder()
    {
        const std::string text = "# comment\n"
                                 "\n"
                                 "  Width = 64   # trailing comment\n" // 3
                                 "no equals sign\n"                    // 4
                                 "= 5\n"                               // 5
                                 "[OTHER]\n"
                                 "Gamma = 3\n"
                                 "bad line, not for this model\n"
                                 "[ TS-64-M ]\n"
                                 "DeviceUserID = a = b\n"              // 10: value keeps its '='
                                 "[broken\n"                           // 11
                                 "Gain = 1\n"                          // skipped with its section
                                 "[*]\r\n"
                                 "Gain = \r\n";                        // 14: empty value, CR trimmed
        const std::vector<FeatureEntry> e = vcc::parseFeatureText(text, "TS-64-M");
        QCOMPARE(e.size(), size_t(6));
        const int lines[] = {3, 4, 5, 10, 11, 14};
        const char* names[] = {"Width", "", "", "DeviceUserID", "", "Gain"};
        const char* values[] = {"64", "", "", "a = b", "", ""};
        const char* errors[] = {"", "expected 'Feature = value'", "missing feature name", "",
                                "expected '[DeviceModelName]'", ""};
        for (size_t i = 0; i < e.size(); ++i) {
            QCOMPARE(e[i].line, lines[i]);
            QCOMPARE(e[i].name, std::string(names[i]));
            QCOMPARE(e[i].value.text, std::string(values[i]));
            QCOMPARE(e[i].error, std::string(errors[i]));
        }
    }

    void valuesReadOnlyWhole()
    {
        int64_t i = 0;
        QVERIFY(FeatureValue{"0x10"}.asInt(i) && i == 16);
        QVERIFY(FeatureValue{"-7"}.asInt(i) && i == -7);
        for (const char* bad : {"", "12abc", "1.5", "99999999999999999999"})
            QVERIFY2(!FeatureValue{bad}.asInt(i), bad);
        double d = 0;
        QVERIFY(FeatureValue{"123.5"}.asFloat(d) && d == 123.5);
        for (const char* bad : {"", "inf", "nan", "1e999", "2 x"})
            QVERIFY2(!FeatureValue{bad}.asFloat(d), bad);
        bool b = false;
        QVERIFY(FeatureValue{"True"}.asBool(b) && b);
        QVERIFY(FeatureValue{"0"}.asBool(b) && !b);
        QVERIFY(!FeatureValue{"yes"}.asBool(b));
    }
};

QTEST_GUILESS_MAIN(TestSdkFeatureFormat)
#include "tst_sdk_featureformat.moc"
