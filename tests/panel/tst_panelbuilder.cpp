// The panel that CameraBase builds: item order, texts, levels, bindings,
// the stored form of a fresh panel, and rebuilds with other counts.
#include "testpanel.h"

#include <QtTest>

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

// The stored form of a fresh panel with one exposure configuration, written
// out by hand from the panel's documented layout.
const char* const kGoldenDefault = R"([
  {"isRunningShow": false},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false},
  {"isRunningShow": false, "values": [false, false]},
  {"isRunningShow": false, "values": [false]},
  {"isRunningShow": false, "selectedIndex": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "selectedIndex": 1},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 0},
  {"isRunningShow": false, "values": 50},
  {"isRunningShow": false, "values": 400},
  {"isRunningShow": false, "values": [false]},
  {"isRunningShow": false, "values": [false]}
])";

struct Row
{
    const char* type;
    const char* name;
    const char* tip;
    int level;
};

// Panel with one configuration, in display order.
const Row kRows[] = {
    {"SeparateParam", "图像尺寸", "", 0},
    {"LineEditCameraParam", "X坐标", "裁切的起始位置X坐标", 3},
    {"LineEditCameraParam", "Y坐标", "裁切的起始位置Y坐标", 3},
    {"LineEditCameraParam", "图像的宽度", "图像的宽度", 3},
    {"LineEditCameraParam", "图像的高度", "图像的高度", 3},
    {"LineEditCameraParam", "x方向像素距离", "x方向像素距离，单位um", 3},
    {"LineEditCameraParam", "y方向像素距离", "y方向像素距离，单位um", 3},
    {"LineEditCameraParam", "z方向单位距离", "x方向单位距离，单位um", 3},
    {"SeparateParam", "其它设置", "", 0},
    {"CheckBoxParam", "", "", 1},
    {"CheckBoxParam", "", "", 1},
    {"ComboBoxParam", "当前曝光配置", "选择当前曝光配置项", 1},
    {"LineEditCameraParam", "曝光时间1", "设置曝光时间,单位0.1ms", 1},
    {"ComboBoxParam", "图像帧率", "相机输出图像的帧率索引号", 1},
    {"LineEditCameraParam", "模拟增益", "设置相机的图像模拟增益值", 1},
    {"LineEditCameraParam", "Gamma值", "设定LUT动态生成模式下的Gamma值", 1},
    {"LineEditCameraParam", "锐化", "设置图像的处理的锐化参数", 1},
    {"LineEditCameraParam", "对比度", "设定LUT动态生成模式下的对比度值", 1},
    {"LineEditCameraParam", "去抖时长", "设定去抖时长", 1},
    {"LineEditCameraParam", "发包间隔", "相机发数据包的间隔时间", 1},
    {"CheckBoxParam", "", "", 1},
    {"CheckBoxParam", "", "", 1},
};

template <typename T>
T* as(ParamWrap* item)
{
    T* typed = dynamic_cast<T*>(item);
    if (!typed)
        qFatal("item of an unexpected class");
    return typed;
}

void verifyEdit(ParamWrap* item, void* value, int type, void* min, void* max, void* step)
{
    auto* edit = as<LineEditCameraParam>(item);
    QCOMPARE(edit->value, value);
    QCOMPARE(edit->valueType, type);
    QCOMPARE(edit->minimum, min);
    QCOMPARE(edit->maximum, max);
    QCOMPARE(edit->step, step);
}

} // namespace

class TestPanelBuilder : public QObject
{
    Q_OBJECT

private slots:
    void constructorDefaults();
    void freshPanelStoresTheGoldenArray();
    void itemsInOrderWithTextsAndLevels();
    void optionTexts();
    void itemsBindTheirFields();
    void noConfigurations();
    void negativeCountMeansNone();
    void rebuildKeepsExistingTimes();
    void rebuildWithFewerDropsSurplus();
    void itemsOfAPreviousPanelStayValid();
};

void TestPanelBuilder::constructorDefaults()
{
    TestPanel panel(1, TestPanel::Unbuilt);
    QVERIFY(panel.paramItems.isEmpty());
    QVERIFY(panel.exposureNames != nullptr);
    QVERIFY(panel.exposureNames[0].isEmpty());
    QCOMPARE(panel.frameRateMode, 1);
    QCOMPARE(panel.debounceTime, 50);
    QCOMPARE(panel.packetInterval, 400);
    QCOMPARE(panel.channels, 1);
    QCOMPARE(panel.matType, 0);
    // Limits the device has not yet given are 0, never indeterminate.
    QCOMPARE(panel.widthInfo.min, 0);
    QCOMPARE(panel.widthInfo.max, 0);
    QCOMPARE(panel.heightInfo.max, 0);
    QCOMPARE(panel.widthInfo.step, 1);
    QCOMPARE(panel.exposureMin, 0.0f);
    QCOMPARE(panel.exposureMax, 0.0f);
    QCOMPARE(panel.gainLimits.max, 0);
    QCOMPARE(panel.packetIntervalLimits.min, 0);
    QCOMPARE(panel.distanceMax, 1000.0f);
    QCOMPARE(panel.distanceStep, 0.1f);
    QCOMPARE(panel.sensorWidthMax, 64);
    QCOMPARE(panel.frameRateModeCount, 3);
    QCOMPARE(panel.intStep, 1);
    QCOMPARE(panel.exposureStep, 0.1f);
}

void TestPanelBuilder::freshPanelStoresTheGoldenArray()
{
    TestPanel panel;
    const QJsonArray golden = parseArray(kGoldenDefault);
    QCOMPARE(golden.size(), 22);
    const QJsonArray stored = panel.stored();
    QCOMPARE(stored.size(), golden.size());
    for (int i = 0; i < golden.size(); ++i) {
        const QJsonObject want = golden.at(i).toObject();
        const QJsonObject got = stored.at(i).toObject();
        QVERIFY2(stored.at(i).isObject(), qPrintable(QString("index %1").arg(i)));
        QCOMPARE(got.keys(), want.keys());
        for (const QString& key : want.keys())
            QVERIFY2(got.value(key) == want.value(key), qPrintable(QString("index %1 key %2: %3")
                                                                       .arg(i).arg(key)
                                                                       .arg(compact(stored))));
    }

    // Other keys of the camera's object are left alone.
    QJsonObject json{{"other", 5}};
    panel.writeParamsWrap(json);
    QCOMPARE(json.value("other"), QJsonValue(5));
    QCOMPARE(json.size(), 2);
}

void TestPanelBuilder::itemsInOrderWithTextsAndLevels()
{
    TestPanel panel;
    QCOMPARE(panel.paramItems.size(), 22);
    for (int i = 0; i < 22; ++i) {
        ParamWrap* item = panel.paramItems.at(i);
        const QString where = QString("item %1").arg(i);
        QVERIFY2(item, qPrintable(where));
        QCOMPARE(item->typeName(), QString::fromLatin1(kRows[i].type));
        QCOMPARE(item->name, u(kRows[i].name));
        QCOMPARE(item->toolTip, u(kRows[i].tip));
        QCOMPARE(item->level, kRows[i].level);
        QCOMPARE(item->itemFlag, i == 3 || i == 4);  // width and height only
        QVERIFY2(!item->isRunningShow, qPrintable(where));
        QVERIFY2(!item->itemFlag2, qPrintable(where));
    }
}

void TestPanelBuilder::optionTexts()
{
    TestPanel panel;
    auto* mirror = as<CheckBoxParam>(panel.paramItems[9]);
    QCOMPARE(mirror->count, 2);
    QCOMPARE(mirror->names[0], u("水平镜像"));
    QCOMPARE(mirror->names[1], u("垂直镜像"));
    QCOMPARE(mirror->toolTips[0], u("水平镜像"));
    QCOMPARE(mirror->toolTips[1], u("垂直镜像"));

    auto* transpose = as<CheckBoxParam>(panel.paramItems[10]);
    QCOMPARE(transpose->count, 1);
    QCOMPARE(transpose->names[0], u("图像转置"));
    QCOMPARE(transpose->toolTips[0], u("图像转置，即转置后，图像的行列坐标与原图像互换"));

    auto* configs = as<ComboBoxParam>(panel.paramItems[11]);
    QCOMPARE(configs->count, 1);
    QCOMPARE(configs->names, panel.exposureNames);
    QCOMPARE(configs->toolTips, panel.exposureNames);
    QCOMPARE(configs->names[0], u("曝光时间1"));
    QCOMPARE(panel.exposureName, u("曝光时间"));
    QCOMPARE(panel.exposureTip, u("设置曝光时间,单位0.1ms"));

    auto* rate = as<ComboBoxParam>(panel.paramItems[13]);
    QCOMPARE(rate->count, 3);  // the fourth mode is named but not offered
    QCOMPARE(rate->names, panel.frameRateModeNames);
    QCOMPARE(rate->toolTips, panel.frameRateModeNames);
    const char* modes[] = {"低速模式", "普通模式", "高速模式", "超高速模式"};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(panel.frameRateModeNames[i], u(modes[i]));

    auto* colour = as<CheckBoxParam>(panel.paramItems[20]);
    QCOMPARE(colour->names[0], u("彩色图像"));
    QCOMPARE(colour->toolTips[0], u("可设置相机输出的是彩色图像还是黑白图像，重启才生效"));
    auto* balance = as<CheckBoxParam>(panel.paramItems[21]);
    QCOMPARE(balance->names[0], u("白平衡"));
    QCOMPARE(balance->toolTips[0], u("白平衡,彩色相机有效"));
}

void TestPanelBuilder::itemsBindTheirFields()
{
    TestPanel p;
    auto& items = p.paramItems;
    verifyEdit(items[1], &p.offsetX, Int, &p.offsetXInfo.min, &p.offsetXInfo.max, &p.offsetXInfo.step);
    verifyEdit(items[2], &p.offsetY, Int, &p.offsetYInfo.min, &p.offsetYInfo.max, &p.offsetYInfo.step);
    verifyEdit(items[3], &p.width, Int, &p.widthInfo.min, &p.widthInfo.max, &p.widthInfo.step);
    verifyEdit(items[4], &p.height, Int, &p.heightInfo.min, &p.heightInfo.max, &p.heightInfo.step);
    verifyEdit(items[5], &p.pixelDistanceX, Float, &p.distanceMin, &p.distanceMax, &p.distanceStep);
    verifyEdit(items[6], &p.pixelDistanceY, Float, &p.distanceMin, &p.distanceMax, &p.distanceStep);
    verifyEdit(items[7], &p.unitDistanceZ, Float, &p.distanceMin, &p.distanceMax, &p.distanceStep);
    QCOMPARE(as<CheckBoxParam>(items[9])->values, &p.mirrorX);
    QCOMPARE(&p.mirrorX + 1, &p.mirrorY);
    QCOMPARE(as<CheckBoxParam>(items[10])->values, &p.transpose);
    QCOMPARE(as<ComboBoxParam>(items[11])->selectedIndex, &p.exposureIndex);
    verifyEdit(items[12], &p.exposureTimes[0], Float, &p.exposureMin, &p.exposureMax, &p.exposureStep);
    QCOMPARE(as<ComboBoxParam>(items[13])->selectedIndex, &p.frameRateMode);
    verifyEdit(items[14], &p.gain, Int, &p.gainLimits.min, &p.gainLimits.max, &p.intStep);
    verifyEdit(items[15], &p.gamma, Int, &p.gammaLimits.min, &p.gammaLimits.max, &p.intStep);
    verifyEdit(items[16], &p.sharpness, Int, &p.sharpnessLimits.min, &p.sharpnessLimits.max, &p.intStep);
    verifyEdit(items[17], &p.contrast, Int, &p.contrastLimits.min, &p.contrastLimits.max, &p.intStep);
    verifyEdit(items[18], &p.debounceTime, Int, &p.debounceTimeLimits.min, &p.debounceTimeLimits.max,
               &p.intStep);
    verifyEdit(items[19], &p.packetInterval, Int, &p.packetIntervalLimits.min,
               &p.packetIntervalLimits.max, &p.intStep);
    QCOMPARE(as<CheckBoxParam>(items[20])->values, &p.colorImage);
    QCOMPARE(as<CheckBoxParam>(items[21])->values, &p.whiteBalance);

    // The record carries the texts the items were made from.
    QCOMPARE(p.widthInfo.name, u("图像的宽度"));
    QCOMPARE(p.gammaLimits.toolTip, u("设定LUT动态生成模式下的Gamma值"));
    QCOMPARE(p.exposureIndexName, u("当前曝光配置"));
    QCOMPARE(p.frameRateName, u("图像帧率"));
}

void TestPanelBuilder::noConfigurations()
{
    TestPanel panel(0);
    QCOMPARE(panel.paramItems.size(), 21);
    QVERIFY(panel.exposureTimes.isEmpty());
    QCOMPARE(as<ComboBoxParam>(panel.paramItems[11])->count, 0);
    QCOMPARE(panel.paramItems[12]->name, u("图像帧率"));
    QCOMPARE(panel.stored().size(), 21);
}

void TestPanelBuilder::negativeCountMeansNone()
{
    TestPanel panel(-5);
    QCOMPARE(panel.exposureCount, 0);
    QCOMPARE(panel.paramItems.size(), 21);
    QVERIFY(panel.exposureTimes.isEmpty());
    QCOMPARE(as<ComboBoxParam>(panel.paramItems[11])->count, 0);

    panel.rebuild(-1);
    QCOMPARE(panel.exposureCount, 0);
    QCOMPARE(panel.paramItems.size(), 21);
}

void TestPanelBuilder::rebuildKeepsExistingTimes()
{
    TestPanel panel;
    panel.exposureTimes[0] = 12.5f;
    panel.exposureIndex = 0;
    panel.rebuild(3);

    QCOMPARE(panel.paramItems.size(), 24);
    QCOMPARE(panel.exposureTimes, (QVector<float>{12.5f, 0.0f, 0.0f}));
    QCOMPARE(panel.exposureIndex, 0);
    auto* configs = as<ComboBoxParam>(panel.paramItems[11]);
    QCOMPARE(configs->count, 3);
    QCOMPARE(configs->names, panel.exposureNames);
    for (int i = 0; i < 3; ++i) {
        const QString name = u("曝光时间%1").arg(i + 1);
        QCOMPARE(panel.exposureNames[i], name);
        auto* time = as<LineEditCameraParam>(panel.paramItems[12 + i]);
        QCOMPARE(time->name, name);
        QCOMPARE(time->value, static_cast<void*>(&panel.exposureTimes[i]));
    }
    QCOMPARE(panel.paramItems[15]->name, u("图像帧率"));
    QCOMPARE(panel.stored().at(12).toObject().value("values").toDouble(), 12.5);
}

void TestPanelBuilder::rebuildWithFewerDropsSurplus()
{
    TestPanel panel(3);
    panel.exposureTimes = {1.0f, 2.0f, 3.0f};
    panel.rebuild(3);  // bind to the assigned storage
    panel.rebuild(2);
    QCOMPARE(panel.exposureTimes, (QVector<float>{1.0f, 2.0f}));
    QCOMPARE(panel.paramItems.size(), 23);
    panel.rebuild(4);
    QCOMPARE(panel.exposureTimes, (QVector<float>{1.0f, 2.0f, 0.0f, 0.0f}));
    QCOMPARE(panel.exposureNames[3], u("曝光时间4"));
}

void TestPanelBuilder::itemsOfAPreviousPanelStayValid()
{
    // A host may still hold the items of the panel before a rebuild. What they
    // point at must stay valid memory (the sanitizer build checks this).
    TestPanel panel(2);
    panel.exposureTimes[1] = 4.0f;
    auto* oldConfigs = as<ComboBoxParam>(panel.paramItems[11]);
    auto* oldTime = as<LineEditCameraParam>(panel.paramItems[13]);
    for (int count : {6, 1, 1, 0, 3}) {
        panel.rebuild(count);
        QCOMPARE(oldConfigs->names[1], u("曝光时间2"));
        QCOMPARE(oldConfigs->toolTips[0], u("曝光时间1"));
        QJsonObject json{{"values", 8.5}};
        oldTime->readJson(json);
        QCOMPARE(*static_cast<float*>(oldTime->value), 8.5f);
        oldTime->writeJson(json);
    }
    QCOMPARE(panel.paramItems.size(), 24);
    QCOMPARE(panel.exposureNames[2], u("曝光时间3"));
}

QTEST_GUILESS_MAIN(TestPanelBuilder)
#include "tst_panelbuilder.moc"
