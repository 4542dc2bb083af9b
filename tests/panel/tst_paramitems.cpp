// The panel items on their own: what each class reports, and how its JSON
// object is written and read back, including values of the wrong JSON type.
#include "cameraparams.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

QJsonObject parse(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

} // namespace

class TestParamItems : public QObject
{
    Q_OBJECT

private slots:
    void kindsAndFlags();
    void isRunningShowKey();
    void intValues_data();
    void intValues();
    void floatIsWidenedExactly();
    void floatValues_data();
    void floatValues();
    void boolDoubleAndStringValues();
    void unknownValueTypeTouchesNothing();
    void checkBoxArrays_data();
    void checkBoxArrays();
    void checkBoxNeverWritesPastCount();
    void comboIndex_data();
    void comboIndex();
};

void TestParamItems::kindsAndFlags()
{
    bool flags[2] = {};
    int index = 0;
    int value = 0;
    std::unique_ptr<ParamWrap> items[] = {
        std::make_unique<ParamWrap>("a", "b", false, false, 1),
        std::make_unique<SeparateParam>("a", "b", false, false),
        std::make_unique<LineEditCameraParam>("a", "b", false, false, 1, &value, Int, nullptr, nullptr, nullptr),
        std::make_unique<RadioBoxParam>("a", "b", false, false, 1, flags, 2, nullptr, nullptr),
        std::make_unique<CheckBoxParam>("a", "b", false, false, 1, flags, 2, nullptr, nullptr),
        std::make_unique<ComboBoxParam>("a", "b", false, false, 1, &index, 0, nullptr, nullptr),
    };
    const char* expected[] = {nullptr, "SeparateParam", "LineEditCameraParam", "RadioBoxParam",
                              "CheckBoxParam", "ComboBoxParam"};
    QVERIFY(items[0]->typeName().isNull());
    for (int i = 1; i < 6; ++i)
        QCOMPARE(items[i]->typeName(), QString::fromLatin1(expected[i]));
    for (auto& item : items) {
        QVERIFY(!item->queryFlag());
        QVERIFY(!item->itemFlag2);
    }
}

void TestParamItems::isRunningShowKey()
{
    SeparateParam item("h", "", false, false);
    QJsonObject on = parse(R"({"isRunningShow": true})");
    item.readJson(on);
    QVERIFY(item.isRunningShow);

    QJsonObject none;
    item.readJson(none);
    QVERIFY2(item.isRunningShow, "an absent key keeps the flag");

    // Only a JSON bool counts: 1 and "true" are not true.
    for (const char* text : {R"({"isRunningShow": 1})", R"({"isRunningShow": "true"})"}) {
        item.isRunningShow = true;
        QJsonObject json = parse(text);
        item.readJson(json);
        QVERIFY2(!item.isRunningShow, text);
    }
}

void TestParamItems::intValues_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");
    QTest::newRow("integer") << QByteArray(R"({"values": 42})") << 42;
    QTest::newRow("negative") << QByteArray(R"({"values": -7})") << -7;
    QTest::newRow("integral double") << QByteArray(R"({"values": 12.0})") << 12;
    QTest::newRow("fraction") << QByteArray(R"({"values": 12.5})") << 0;
    QTest::newRow("numeric string") << QByteArray(R"({"values": "12"})") << 0;
    QTest::newRow("beyond int") << QByteArray(R"({"values": 3000000000})") << 0;
    QTest::newRow("huge") << QByteArray(R"({"values": 1e300})") << 0;
    QTest::newRow("bool") << QByteArray(R"({"values": true})") << 0;
    QTest::newRow("array") << QByteArray(R"({"values": [5]})") << 0;
    QTest::newRow("null") << QByteArray(R"({"values": null})") << 0;
    QTest::newRow("absent key") << QByteArray(R"({"value": 5})") << 99;
}

void TestParamItems::intValues()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    int value = 99;
    LineEditCameraParam item("n", "", false, false, 1, &value, Int, nullptr, nullptr, nullptr);
    QJsonObject object = QJsonDocument::fromJson(json).object();
    item.readJson(object);
    QCOMPARE(value, expected);
}

void TestParamItems::floatIsWidenedExactly()
{
    float value = 0.1f;
    LineEditCameraParam item("n", "", false, false, 1, &value, Float, nullptr, nullptr, nullptr);
    QJsonObject json;
    item.writeJson(json);
    const double written = json.value("values").toDouble();
    QCOMPARE(written, double(0.1f));
    QVERIFY(written != 0.1);
    QVERIFY(QJsonDocument(json).toJson(QJsonDocument::Compact).contains("0.10000000149011612"));

    // Through text and back: the very same float.
    value = 0.0f;
    QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(json).toJson()).object();
    item.readJson(reread);
    QCOMPARE(value, 0.1f);
}

void TestParamItems::floatValues_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<float>("expected");
    QTest::newRow("number") << QByteArray(R"({"values": 12.5})") << 12.5f;
    QTest::newRow("integer") << QByteArray(R"({"values": 3})") << 3.0f;
    QTest::newRow("string") << QByteArray(R"({"values": "1.5"})") << 0.0f;
    QTest::newRow("bool") << QByteArray(R"({"values": true})") << 0.0f;
    QTest::newRow("beyond float") << QByteArray(R"({"values": 1e300})") << 0.0f;
    QTest::newRow("absent key") << QByteArray(R"({})") << 7.0f;
}

void TestParamItems::floatValues()
{
    QFETCH(QByteArray, json);
    QFETCH(float, expected);
    float value = 7.0f;
    LineEditCameraParam item("n", "", false, false, 1, &value, Float, nullptr, nullptr, nullptr);
    QJsonObject object = QJsonDocument::fromJson(json).object();
    item.readJson(object);
    QCOMPARE(value, expected);
}

void TestParamItems::boolDoubleAndStringValues()
{
    bool flag = false;
    double number = 0.0;
    QString text;
    LineEditCameraParam b("b", "", false, false, 1, &flag, Bool, nullptr, nullptr, nullptr);
    LineEditCameraParam d("d", "", false, false, 1, &number, Double, nullptr, nullptr, nullptr);
    LineEditCameraParam s("s", "", false, false, 1, &text, String, nullptr, nullptr, nullptr);

    QJsonObject good = parse(R"({"values": true})");
    b.readJson(good);
    QVERIFY(flag);
    good = parse(R"({"values": 0.1})");
    d.readJson(good);
    QCOMPARE(number, 0.1);
    good = parse(R"({"values": "Zeile"})");
    s.readJson(good);
    QCOMPARE(text, QString("Zeile"));

    QJsonObject written;
    d.writeJson(written);
    QCOMPARE(written.value("values").toDouble(), 0.1);
    written = {};
    s.writeJson(written);
    QCOMPARE(written.value("values").toString(), QString("Zeile"));
    written = {};
    b.writeJson(written);
    QCOMPARE(written.value("values"), QJsonValue(true));

    // Wrong JSON types give each type's default.
    QJsonObject wrong = parse(R"({"values": 1})");
    b.readJson(wrong);
    QVERIFY(!flag);
    wrong = parse(R"({"values": "0.5"})");
    d.readJson(wrong);
    QCOMPARE(number, 0.0);
    wrong = parse(R"({"values": 5})");
    s.readJson(wrong);
    QVERIFY(text.isEmpty());
}

void TestParamItems::unknownValueTypeTouchesNothing()
{
    unsigned char memory[16];
    std::memset(memory, 0xA5, sizeof memory);
    LineEditCameraParam item("n", "", false, false, 1, memory, 5, nullptr, nullptr, nullptr);
    QJsonObject json = parse(R"({"values": 1, "isRunningShow": true})");
    item.readJson(json);
    for (unsigned char byte : memory)
        QCOMPARE(int(byte), 0xA5);
    QVERIFY(item.isRunningShow);

    QJsonObject written;
    item.writeJson(written);
    QCOMPARE(written.keys(), QStringList{"isRunningShow"});
}

void TestParamItems::checkBoxArrays_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("first");
    QTest::addColumn<bool>("second");
    // Both flags start true.
    QTest::newRow("shorter") << QByteArray(R"({"values": [true]})") << true << false;
    QTest::newRow("exact") << QByteArray(R"({"values": [false, true]})") << false << true;
    QTest::newRow("longer") << QByteArray(R"({"values": [false, true, false, false]})") << false << true;
    QTest::newRow("empty object leaves flags") << QByteArray(R"({})") << true << true;
    QTest::newRow("non-array") << QByteArray(R"({"values": true})") << false << false;
    QTest::newRow("object for array") << QByteArray(R"({"values": {"0": true}})") << false << false;
    QTest::newRow("non-bool elements") << QByteArray(R"({"values": [1, "true"]})") << false << false;
}

void TestParamItems::checkBoxArrays()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, first);
    QFETCH(bool, second);
    bool flags[2] = {true, true};
    CheckBoxParam item("", "", false, false, 1, flags, 2, nullptr, nullptr);
    QJsonObject object = QJsonDocument::fromJson(json).object();
    item.readJson(object);
    QCOMPARE(flags[0], first);
    QCOMPARE(flags[1], second);
}

void TestParamItems::checkBoxNeverWritesPastCount()
{
    // Flags bound to the middle of a larger buffer: the bytes around stay.
    unsigned char memory[6];
    std::memset(memory, 0xA5, sizeof memory);
    CheckBoxParam item("", "", false, false, 1, reinterpret_cast<bool*>(memory + 1), 4, nullptr, nullptr);
    QJsonObject json = parse(R"({"values": [true, true, true, true, true, true, true]})");
    item.readJson(json);
    QCOMPARE(int(memory[0]), 0xA5);
    QCOMPARE(int(memory[5]), 0xA5);
    for (int i = 1; i < 5; ++i)
        QCOMPARE(int(memory[i]), 1);
}

void TestParamItems::comboIndex_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");
    QTest::newRow("in range") << QByteArray(R"({"selectedIndex": 2})") << 2;
    QTest::newRow("beyond count, unchecked") << QByteArray(R"({"selectedIndex": 9})") << 9;
    QTest::newRow("negative, unchecked") << QByteArray(R"({"selectedIndex": -1})") << -1;
    QTest::newRow("fraction") << QByteArray(R"({"selectedIndex": 1.5})") << 0;
    QTest::newRow("string") << QByteArray(R"({"selectedIndex": "2"})") << 0;
    QTest::newRow("absent key") << QByteArray(R"({"values": 2})") << 1;
}

void TestParamItems::comboIndex()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    int index = 1;
    QString names[3];
    ComboBoxParam item("", "", false, false, 1, &index, 3, names, names);
    QJsonObject object = QJsonDocument::fromJson(json).object();
    item.readJson(object);
    QCOMPARE(index, expected);

    QJsonObject written;
    item.writeJson(written);
    QCOMPARE(written.value("selectedIndex"), QJsonValue(expected));
}

QTEST_GUILESS_MAIN(TestParamItems)
#include "tst_paramitems.moc"
