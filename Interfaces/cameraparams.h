// cameraparams.h - parameter-panel items and the camera settings record.
//
// Shared with the host byte for byte: the host reaches CameraBase through
// qt_metacast("CameraBase") and reads its fields and the items' pointers
// directly. Field order, types and virtual slot order are a binary contract.
#ifndef CAMERAPARAMS_H
#define CAMERAPARAMS_H

#include <QJsonObject>
#include <QString>
#include <QVector>

// Type code of a bound value (panel items and quick-adjust items).
enum ValueType : int {
    Bool = 0,    // bool
    Int = 1,     // int32
    Float = 2,   // float
    Double = 3,  // double
    String = 4   // QString
};

// ---------------------------------------------------------------------------
// Panel items. An item owns only its label and tool tip; the values, limits
// and option texts it points at belong to CameraBase.
class ParamWrap
{
public:
    ParamWrap(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level);
    virtual ~ParamWrap();
    virtual QString typeName();
    virtual bool queryFlag();
    virtual void readJson(QJsonObject& json);
    virtual void writeJson(QJsonObject& json);

    QString name;
    QString toolTip;
    bool itemFlag;
    int level;
    bool isRunningShow;
    bool itemFlag2;
};

// A group heading.
class SeparateParam : public ParamWrap
{
public:
    SeparateParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow);
    QString typeName() override;
};

// One edited value with minimum, maximum and step, all of `valueType`.
class LineEditCameraParam : public ParamWrap
{
public:
    LineEditCameraParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                        void* value, int valueType, void* minimum, void* maximum, void* step);
    QString typeName() override;
    void readJson(QJsonObject& json) override;
    void writeJson(QJsonObject& json) override;

    int valueType;
    void* minimum;
    void* maximum;
    void* step;
    void* value;
};

// A row of options, one flag each.
class RadioBoxParam : public ParamWrap
{
public:
    RadioBoxParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                  bool* values, int count, QString* names, QString* toolTips);
    QString typeName() override;
    void readJson(QJsonObject& json) override;
    void writeJson(QJsonObject& json) override;

    int count;
    QString* names;
    QString* toolTips;
    bool* values;
};

// Same data and behaviour as RadioBoxParam; the host shows check boxes.
class CheckBoxParam : public RadioBoxParam
{
public:
    CheckBoxParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                  bool* values, int count, QString* names, QString* toolTips);
    QString typeName() override;
};

// A drop-down list with one selected index.
class ComboBoxParam : public ParamWrap
{
public:
    ComboBoxParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                  int* selectedIndex, int count, QString* names, QString* toolTips);
    QString typeName() override;
    void readJson(QJsonObject& json) override;
    void writeJson(QJsonObject& json) override;

    int count;
    QString* names;
    QString* toolTips;
    int* selectedIndex;
};

// One entry of the quick-adjust list.
struct AdjustItem
{
    QString name;
    int valueType = Float;
    void* value = nullptr;
    double min = 0.0;
    double max = 0.0;
    double step = 0.0;
};

// ---------------------------------------------------------------------------
// Every setting of one camera, the panel's texts and limits, and the panel.
struct IntParamInfo
{
    QString name;
    QString toolTip;
    int min = 0;
    int max = 0;
    int step = 1;
};

struct IntParamLimits
{
    QString name;
    QString toolTip;
    int min = 0;
    int max = 0;
};

class CameraBase
{
public:
    CameraBase();
    // Not virtual: a CameraBase is destroyed only as part of its camera.
    ~CameraBase();
    CameraBase(const CameraBase&) = delete;
    CameraBase& operator=(const CameraBase&) = delete;

    virtual void readParamsWrap(QJsonObject& json);
    virtual void writeParamsWrap(QJsonObject& json);
    virtual void buildParamsWrap();

    QVector<ParamWrap*> paramItems;
    int offsetX = 0;
    int offsetY = 0;
    int width = 0;
    int height = 0;
    float pixelDistanceX = 0.0f;
    float pixelDistanceY = 0.0f;
    float unitDistanceZ = 0.0f;
    bool mirrorX = false;
    bool mirrorY = false;  // must follow mirrorX: one item binds both as an array
    bool transpose = false;
    int frameRateMode = 1;
    int exposureCount = 1;
    int exposureIndex = 0;
    QVector<float> exposureTimes;  // ms; the exposure items point into it
    int gain = 0;                  // tenths of the device's "Gain"
    int gamma = 0;                 // tenths of the device's "Gamma"
    int sharpness = 0;
    int contrast = 0;
    int debounceTime = 50;
    int packetInterval = 400;
    bool whiteBalance = false;
    bool colorImage = false;
    QString serialNumber;
    int cameraIndex = 0;
    int deviceIndex = 0;
    int channels = 1;
    int matType = 0;               // CV_8UC1 (0) or CV_8UC3 (16)
    int initialTriggerType = 0;
    IntParamInfo offsetXInfo;
    IntParamInfo offsetYInfo;
    IntParamInfo widthInfo;
    IntParamInfo heightInfo;
    float distanceMin = 0.0f;
    float distanceMax = 1000.0f;
    float distanceStep = 0.1f;
    int sensorWidthMax = 64;
    int sensorHeightMax = 64;
    QString mirrorNames[2];
    QString mirrorTips[2];
    QString transposeName;
    QString transposeTip;
    QString frameRateName;
    QString frameRateTip;
    QString frameRateModeNames[4];
    int frameRateModeCount = 3;
    QString exposureName;
    QString exposureTip;
    float exposureMin = 0.0f;
    float exposureMax = 0.0f;
    QString* exposureNames;        // owned array of exposureCount strings
    QString exposureIndexName;
    QString exposureIndexTip;
    IntParamLimits gainLimits;
    IntParamLimits gammaLimits;
    IntParamLimits sharpnessLimits;
    IntParamLimits contrastLimits;
    IntParamLimits debounceTimeLimits;
    IntParamLimits packetIntervalLimits;
    QString whiteBalanceName;
    QString whiteBalanceTip;
    QString colorImageName;
    QString colorImageTip;
    int intStep = 1;
    float exposureStep = 0.1f;
};

#endif // CAMERAPARAMS_H
