// The camera's settings record: the panel builder and the panel's JSON form.
//
// The panel items point into this record; the record owns every value, limit
// and option text. The stored form is {"paramsWrap": [one object per item]},
// matched to the items by position only.
#include "cameraparams.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonValue>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace {

constexpr QLatin1String kParamsWrap("paramsWrap");

QString utf8(const char* text) { return QString::fromUtf8(text); }

// Storage that superseded panel items still point at. A rebuild replaces the
// names array and the exposure-time storage, while the camera keeps the old
// items alive for a host that may still hold them; so that such an item never
// reads or writes freed memory, the old storage is parked here until the
// record is destroyed. The record's layout is shared with the host, hence the
// side table rather than a member.
struct ParkedStorage
{
    QVector<QString*> names;
    QVector<QVector<float>> times;  // shallow copies: each keeps its old block
};

struct ParkedTable
{
    QMutex lock;
    QHash<const CameraBase*, ParkedStorage> records;
};

// Never destroyed: a camera may be destroyed during the process's own
// teardown, after function-local statics are gone.
ParkedTable& parked()
{
    static ParkedTable* table = new ParkedTable;
    return *table;
}

} // namespace

// The field defaults live in the class; the panel stays empty until the first
// build, which the camera runs after its first open.
CameraBase::CameraBase() : exposureNames(new QString[1]) {}

// The items are the camera object's: it deletes them before this runs.
CameraBase::~CameraBase()
{
    delete[] exposureNames;
    ParkedStorage old;
    {
        ParkedTable& table = parked();
        QMutexLocker lock(&table.lock);
        old = table.records.take(this);
    }
    for (QString* names : qAsConst(old.names))
        delete[] names;
}

void CameraBase::buildParamsWrap()
{
    // A negative count would reach the allocation below; it means no
    // configurations, and the count says so from now on.
    if (exposureCount < 0)
        exposureCount = 0;
    const int n = exposureCount;

    // The names array is remade. Before the first build no item points at
    // the old one, so it is freed; after that, items of the previous panel
    // may, and the old array and time storage are parked instead. The shallow
    // copy of the times makes the resize below move this record's times to
    // storage of their own.
    QString* names = new QString[n];
    {
        ParkedTable& table = parked();
        QMutexLocker lock(&table.lock);
        auto entry = table.records.find(this);
        if (entry == table.records.end()) {
            table.records.insert(this, ParkedStorage());
            delete[] exposureNames;
        } else {
            entry->names.append(exposureNames);
            entry->times.append(exposureTimes);
        }
    }
    exposureNames = names;

    auto add = [this](ParamWrap* item) { paramItems.append(item); };

    // Image geometry and distances.
    add(new SeparateParam(utf8("图像尺寸"), QString(), false, false));

    offsetXInfo.name = utf8("X坐标");
    offsetXInfo.toolTip = utf8("裁切的起始位置X坐标");
    add(new LineEditCameraParam(offsetXInfo.name, offsetXInfo.toolTip, false, false, 3, &offsetX, Int,
                                &offsetXInfo.min, &offsetXInfo.max, &offsetXInfo.step));
    offsetYInfo.name = utf8("Y坐标");
    offsetYInfo.toolTip = utf8("裁切的起始位置Y坐标");
    add(new LineEditCameraParam(offsetYInfo.name, offsetYInfo.toolTip, false, false, 3, &offsetY, Int,
                                &offsetYInfo.min, &offsetYInfo.max, &offsetYInfo.step));
    widthInfo.name = utf8("图像的宽度");
    widthInfo.toolTip = utf8("图像的宽度");
    add(new LineEditCameraParam(widthInfo.name, widthInfo.toolTip, true, false, 3, &width, Int,
                                &widthInfo.min, &widthInfo.max, &widthInfo.step));
    heightInfo.name = utf8("图像的高度");
    heightInfo.toolTip = utf8("图像的高度");
    add(new LineEditCameraParam(heightInfo.name, heightInfo.toolTip, true, false, 3, &height, Int,
                                &heightInfo.min, &heightInfo.max, &heightInfo.step));

    add(new LineEditCameraParam(utf8("x方向像素距离"), utf8("x方向像素距离，单位um"), false, false, 3,
                                &pixelDistanceX, Float, &distanceMin, &distanceMax, &distanceStep));
    add(new LineEditCameraParam(utf8("y方向像素距离"), utf8("y方向像素距离，单位um"), false, false, 3,
                                &pixelDistanceY, Float, &distanceMin, &distanceMax, &distanceStep));
    // The z item's tool tip reads "x方向…" on purpose: hosts show it verbatim.
    add(new LineEditCameraParam(utf8("z方向单位距离"), utf8("x方向单位距离，单位um"), false, false, 3,
                                &unitDistanceZ, Float, &distanceMin, &distanceMax, &distanceStep));

    // Other settings. mirrorX and mirrorY are adjacent, so one item binds both.
    add(new SeparateParam(utf8("其它设置"), QString(), false, false));

    mirrorNames[0] = utf8("水平镜像");
    mirrorNames[1] = utf8("垂直镜像");
    mirrorTips[0] = mirrorNames[0];
    mirrorTips[1] = mirrorNames[1];
    add(new CheckBoxParam(QString(), QString(), false, false, 1, &mirrorX, 2, mirrorNames, mirrorTips));

    transposeName = utf8("图像转置");
    transposeTip = utf8("图像转置，即转置后，图像的行列坐标与原图像互换");
    add(new CheckBoxParam(QString(), QString(), false, false, 1, &transpose, 1, &transposeName,
                          &transposeTip));

    // Exposure configurations: the names double as the entries' tool tips.
    exposureIndexName = utf8("当前曝光配置");
    exposureIndexTip = utf8("选择当前曝光配置项");
    for (int i = 0; i < n; ++i)
        exposureNames[i] = utf8("曝光时间%1").arg(i + 1);
    add(new ComboBoxParam(exposureIndexName, exposureIndexTip, false, false, 1, &exposureIndex, n,
                          exposureNames, exposureNames));

    exposureName = utf8("曝光时间");
    exposureTip = utf8("设置曝光时间,单位0.1ms");
    // Existing times are kept, new ones start at 0. The items below point
    // into this storage, so nothing else may resize or share it.
    const int kept = std::min(n, int(exposureTimes.size()));
    exposureTimes.resize(n);
    float* times = exposureTimes.data();  // detached: the storage is this record's alone
    std::fill(times + kept, times + n, 0.0f);
    for (int i = 0; i < n; ++i)
        add(new LineEditCameraParam(exposureNames[i], exposureTip, false, false, 1, &times[i], Float,
                                    &exposureMin, &exposureMax, &exposureStep));

    // Four modes are named; the panel offers the first three.
    frameRateName = utf8("图像帧率");
    frameRateTip = utf8("相机输出图像的帧率索引号");
    frameRateModeNames[0] = utf8("低速模式");
    frameRateModeNames[1] = utf8("普通模式");
    frameRateModeNames[2] = utf8("高速模式");
    frameRateModeNames[3] = utf8("超高速模式");
    frameRateModeCount = 3;
    add(new ComboBoxParam(frameRateName, frameRateTip, false, false, 1, &frameRateMode,
                          frameRateModeCount, frameRateModeNames, frameRateModeNames));

    // The six integer settings share one step.
    struct IntSetting { IntParamLimits* limits; int* value; const char* name; const char* tip; };
    const IntSetting ints[] = {
        {&gainLimits, &gain, "模拟增益", "设置相机的图像模拟增益值"},
        {&gammaLimits, &gamma, "Gamma值", "设定LUT动态生成模式下的Gamma值"},
        {&sharpnessLimits, &sharpness, "锐化", "设置图像的处理的锐化参数"},
        {&contrastLimits, &contrast, "对比度", "设定LUT动态生成模式下的对比度值"},
        {&debounceTimeLimits, &debounceTime, "去抖时长", "设定去抖时长"},
        {&packetIntervalLimits, &packetInterval, "发包间隔", "相机发数据包的间隔时间"},
    };
    for (const IntSetting& s : ints) {
        s.limits->name = utf8(s.name);
        s.limits->toolTip = utf8(s.tip);
        add(new LineEditCameraParam(s.limits->name, s.limits->toolTip, false, false, 1, s.value, Int,
                                    &s.limits->min, &s.limits->max, &intStep));
    }

    colorImageName = utf8("彩色图像");
    colorImageTip = utf8("可设置相机输出的是彩色图像还是黑白图像，重启才生效");
    add(new CheckBoxParam(QString(), QString(), false, false, 1, &colorImage, 1, &colorImageName,
                          &colorImageTip));

    whiteBalanceName = utf8("白平衡");
    whiteBalanceTip = utf8("白平衡,彩色相机有效");
    add(new CheckBoxParam(QString(), QString(), false, false, 1, &whiteBalance, 1, &whiteBalanceName,
                          &whiteBalanceTip));
}

void CameraBase::writeParamsWrap(QJsonObject& json)
{
    QJsonArray items;
    for (ParamWrap* item : qAsConst(paramItems)) {
        QJsonObject object;
        if (item)
            item->writeJson(object);
        items.append(object);  // an object per item, so positions stay aligned
    }
    json.insert(kParamsWrap, items);
}

void CameraBase::readParamsWrap(QJsonObject& json)
{
    if (!json.contains(kParamsWrap))
        return;
    // A non-array counts as empty, a non-object element as an empty object;
    // the shorter of the two lists decides how many items are restored.
    const QJsonArray stored = json.value(kParamsWrap).toArray();
    const int n = std::min(int(paramItems.size()), int(stored.size()));
    for (int i = 0; i < n; ++i) {
        QJsonObject object = stored.at(i).toObject();
        if (ParamWrap* item = paramItems.at(i))
            item->readJson(object);
    }
}
