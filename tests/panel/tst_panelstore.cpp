// Storing and restoring the panel: {"paramsWrap": [...]} matched to the
// items by position, with stored forms of other shapes and lengths.
#include "testpanel.h"

#include <QtTest>

namespace {

// Every panel value set away from its default.
void setDistinctValues(CameraBase& p)
{
    p.offsetX = 16;
    p.offsetY = 2;
    p.width = 4096;
    p.height = 1024;
    p.pixelDistanceX = 0.1f;
    p.pixelDistanceY = 3.7f;
    p.unitDistanceZ = 12.25f;
    p.mirrorX = false;
    p.mirrorY = true;
    p.transpose = true;
    p.exposureIndex = 1;
    for (int i = 0; i < p.exposureTimes.size(); ++i)
        p.exposureTimes[i] = 0.3f * float(i + 1);
    p.frameRateMode = 2;
    p.gain = 15;
    p.gamma = 8;
    p.sharpness = 3;
    p.contrast = -4;
    p.debounceTime = 70;
    p.packetInterval = 1200;
    p.colorImage = true;
    p.whiteBalance = false;
}

} // namespace

class TestPanelStore : public QObject
{
    Q_OBJECT

private slots:
    void roundTripThroughAFreshPanel();
    void restoresEveryKindOfItem();
    void storedWithFewerConfigurationsMatchesByPosition();
    void unusableStoredForms_data();
    void unusableStoredForms();
    void shorterArrayRestoresLeadingItems();
    void longerArrayIgnoresSurplus();
    void objectsOfTheWrongShapeFallBackToDefaults();
};

void TestPanelStore::roundTripThroughAFreshPanel()
{
    TestPanel source(3);
    setDistinctValues(source);
    source.paramItems[0]->isRunningShow = true;
    QJsonObject first;
    source.writeParamsWrap(first);

    // Through text, as a host keeps it.
    QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(first).toJson()).object();
    TestPanel target(3);
    target.readParamsWrap(reread);
    QJsonObject second;
    target.writeParamsWrap(second);

    QCOMPARE(second, first);
    QCOMPARE(target.pixelDistanceX, 0.1f);
    QCOMPARE(target.exposureTimes, source.exposureTimes);
    QCOMPARE(target.contrast, -4);
    QVERIFY(target.mirrorY && !target.mirrorX);
    QVERIFY(target.paramItems[0]->isRunningShow);
}

void TestPanelStore::restoresEveryKindOfItem()
{
    TestPanel panel;
    QJsonArray stored = panel.stored();
    auto set = [&stored](int i, const char* key, const QJsonValue& v) {
        QJsonObject o = stored.at(i).toObject();
        o.insert(key, v);
        stored.replace(i, o);
    };
    set(1, "values", 8);
    set(5, "values", 2.5);
    set(9, "values", QJsonArray{true, false});
    set(11, "selectedIndex", 0);
    set(12, "values", 7.5);
    set(13, "selectedIndex", 3);  // named but not offered: still accepted
    set(19, "values", 900);
    set(21, "values", QJsonArray{true});
    panel.restore(stored);

    QCOMPARE(panel.offsetX, 8);
    QCOMPARE(panel.pixelDistanceX, 2.5f);
    QVERIFY(panel.mirrorX);
    QVERIFY(!panel.mirrorY);
    QCOMPARE(panel.exposureTimes[0], 7.5f);
    QCOMPARE(panel.frameRateMode, 3);
    QCOMPARE(panel.packetInterval, 900);
    QVERIFY(panel.whiteBalance);
    QVERIFY(!panel.colorImage);
}

void TestPanelStore::storedWithFewerConfigurationsMatchesByPosition()
{
    TestPanel old(2);
    old.exposureTimes = {1.5f, 2.5f};
    old.rebuild(2);
    old.frameRateMode = 2;
    old.gain = 11;
    old.gamma = 22;
    old.sharpness = 33;
    old.contrast = 44;
    old.debounceTime = 55;
    old.packetInterval = 66;
    old.colorImage = false;
    old.whiteBalance = true;
    QJsonObject json;
    old.writeParamsWrap(json);
    QCOMPARE(json.value("paramsWrap").toArray().size(), 23);

    TestPanel panel(3);
    panel.exposureTimes[2] = 9.0f;
    panel.frameRateMode = 0;
    panel.colorImage = false;
    panel.whiteBalance = true;
    panel.readParamsWrap(json);

    QCOMPARE(panel.exposureTimes[0], 1.5f);
    QCOMPARE(panel.exposureTimes[1], 2.5f);
    QCOMPARE(panel.exposureTimes[2], 9.0f);  // met the frame-rate object: no "values"
    QCOMPARE(panel.frameRateMode, 0);        // met the gain object: no "selectedIndex"
    QCOMPARE(panel.gain, 22);                // each integer takes its successor's value
    QCOMPARE(panel.gamma, 33);
    QCOMPARE(panel.sharpness, 44);
    QCOMPARE(panel.contrast, 55);
    QCOMPARE(panel.debounceTime, 66);
    QCOMPARE(panel.packetInterval, 0);       // met the colour object's array
    QVERIFY(panel.colorImage);               // took the white-balance flag
    QVERIFY(panel.whiteBalance);             // no object left: kept
}

void TestPanelStore::unusableStoredForms_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("empty object") << QByteArray("{}");
    QTest::newRow("other keys only") << QByteArray(R"({"values": [1, 2], "paramswrap": []})");
    QTest::newRow("number") << QByteArray(R"({"paramsWrap": 5})");
    QTest::newRow("string") << QByteArray(R"({"paramsWrap": "[]"})");
    QTest::newRow("null") << QByteArray(R"({"paramsWrap": null})");
    QTest::newRow("object") << QByteArray(R"({"paramsWrap": {"0": {"values": 9}}})");
    QTest::newRow("empty array") << QByteArray(R"({"paramsWrap": []})");
    QTest::newRow("non-object elements")
        << QByteArray(R"({"paramsWrap": [1, "x", null, true, [1], [[{"values": 3}]], 2.5]})");
}

void TestPanelStore::unusableStoredForms()
{
    QFETCH(QByteArray, json);
    TestPanel panel(2);
    setDistinctValues(panel);
    const QJsonArray before = panel.stored();
    QJsonObject object = QJsonDocument::fromJson(json).object();
    panel.readParamsWrap(object);
    QCOMPARE(compact(panel.stored()), compact(before));
}

void TestPanelStore::shorterArrayRestoresLeadingItems()
{
    TestPanel panel;
    setDistinctValues(panel);
    panel.restore(parseArray(R"([{}, {"values": 1}, {"values": 2}])"));
    QCOMPARE(panel.offsetX, 1);
    QCOMPARE(panel.offsetY, 2);
    QCOMPARE(panel.width, 4096);
    QCOMPARE(panel.packetInterval, 1200);
}

void TestPanelStore::longerArrayIgnoresSurplus()
{
    TestPanel panel;
    QJsonArray stored = panel.stored();
    QJsonObject gain = stored.at(14).toObject();
    gain.insert("values", 5);
    stored.replace(14, gain);
    for (int i = 0; i < 40; ++i)
        stored.append(QJsonObject{{"values", 77}, {"selectedIndex", 77}});
    panel.restore(stored);
    QCOMPARE(panel.gain, 5);
    QCOMPARE(panel.stored().size(), 22);
    QCOMPARE(panel.debounceTime, 50);
}

void TestPanelStore::objectsOfTheWrongShapeFallBackToDefaults()
{
    TestPanel panel;
    setDistinctValues(panel);
    // Every object carries the key its item reads, with a value of the wrong type.
    QJsonArray stored;
    for (int i = 0; i < 22; ++i)
        stored.append(QJsonObject{{"isRunningShow", "yes"}, {"values", "1"}, {"selectedIndex", "1"}});
    panel.restore(stored);
    QCOMPARE(panel.offsetX, 0);
    QCOMPARE(panel.pixelDistanceX, 0.0f);
    QVERIFY(!panel.mirrorY);
    QVERIFY(!panel.transpose);
    QCOMPARE(panel.exposureIndex, 0);
    QCOMPARE(panel.exposureTimes[0], 0.0f);
    QCOMPARE(panel.frameRateMode, 0);
    QCOMPARE(panel.packetInterval, 0);
    QVERIFY(!panel.colorImage);
    for (ParamWrap* item : panel.paramItems)
        QVERIFY(!item->isRunningShow);
}

QTEST_GUILESS_MAIN(TestPanelStore)
#include "tst_panelstore.moc"
