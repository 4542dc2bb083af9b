// The smallest CameraInterface a host-side test can instantiate: every pure
// operation answers a neutral value, so the base class's own code (its
// defaults, its data members, the inline numbering rule) can be exercised.
#ifndef TESTS_STUBCAMERA_H
#define TESTS_STUBCAMERA_H

#include "camerainterface.h"

class StubCamera : public CameraInterface
{
public:
    void deserialize(const QJsonObject&) override {}
    void serialize(QJsonObject&) override {}
    QString getPluginID() override { return QString(); }
    QString getPluginName() override { return QString(); }
    QString getVersion() override { return QString(); }
    QString getHelpText() override { return QString(); }
    QPixmap getIcon() override { return QPixmap(); }
    QVector<ParamWrap*>* getParamItems() override { return nullptr; }
    bool hostFlagQuery() override { return false; }
    quint64 hostObjectQuery() override { return 0; }
    QString getSerialNumber() override { return QString(); }
    void paramsChanged() override {}
    QSize getImageSize() override { return QSize(); }
    int getChannels() override { return 0; }
    void softTrigger(int, int, std::function<void()>) override {}
    CameraInterface* createCamera(int, QString, int) override { return nullptr; }
    QVector<QString> getCameraList(int& count) override { count = 0; return {}; }
    bool hasCapabilityA() override { return false; }
    int getTriggerTypeMask() override { return 0; }
    void setTrigParams(CameraTrigParams*) override {}
    void hostHookA() override {}
    bool isContinuousMode() override { return false; }
    void saveParams() override {}
    void loadParams() override {}
    void setExposureCount(int) override {}
    bool hasCapabilityB() override { return false; }
    QMutex* getMutex() override { return &mutex; }
    cv::Mat getBlankImage() override { return cv::Mat(); }
    void hostHookB() override {}
    void closeCamera() override {}
    void restartCamera() override {}

    QMutex mutex;
};

#endif
