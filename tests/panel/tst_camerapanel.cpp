// The panel through the camera object: serialize, deserialize, saveParams,
// loadParams and rebuilds by setExposureCount, without an opened device.
#include "cameralorvex.h"
#include "testpanel.h"

#include <QtTest>

namespace {

// What createCamera leaves behind when the open found no device: a panel.
std::unique_ptr<CameraLorvex> makeCamera()
{
    auto camera = std::make_unique<CameraLorvex>();
    camera->buildParamsWrap();
    return camera;
}

QJsonArray storedOf(CameraLorvex& camera)
{
    QJsonObject json;
    camera.serialize(json);
    return json.value("paramsWrap").toArray();
}

} // namespace

class TestCameraPanel : public QObject
{
    Q_OBJECT

private slots:
    void freshCameraHasTheDefaultPanel();
    void roundTripThroughAFreshCamera();
    void saveAndLoadUseTheStoredCopy();
    void rebuildKeepsEarlierItemsUsable();
};

void TestCameraPanel::freshCameraHasTheDefaultPanel()
{
    auto camera = makeCamera();
    QCOMPARE(camera->getParamItems()->size(), 22);
    QCOMPARE(camera->getParamItems(), &camera->paramItems);
    // The camera object serialises exactly what its record does.
    TestPanel record;
    QCOMPARE(compact(storedOf(*camera)), compact(record.stored()));
}

void TestCameraPanel::roundTripThroughAFreshCamera()
{
    auto source = makeCamera();
    source->setExposureCount(3);
    source->exposureTimes[2] = 0.7f;
    source->gamma = 12;
    source->transpose = true;
    source->frameRateMode = 0;
    QJsonObject first;
    source->serialize(first);

    auto target = makeCamera();
    target->setExposureCount(3);
    target->deserialize(QJsonDocument::fromJson(QJsonDocument(first).toJson()).object());
    QJsonObject second;
    target->serialize(second);
    QCOMPARE(second, first);
    QCOMPARE(target->exposureTimes[2], 0.7f);
    QCOMPARE(target->frameRateMode, 0);
}

void TestCameraPanel::saveAndLoadUseTheStoredCopy()
{
    auto camera = makeCamera();
    camera->gain = 30;
    camera->saveParams();
    camera->gain = 1;
    camera->whiteBalance = true;
    camera->loadParams();
    QCOMPARE(camera->gain, 30);
    QVERIFY(!camera->whiteBalance);

    // Nothing saved yet: loading changes nothing.
    auto other = makeCamera();
    other->gain = 5;
    other->loadParams();
    QCOMPARE(other->gain, 5);
}

void TestCameraPanel::rebuildKeepsEarlierItemsUsable()
{
    auto camera = makeCamera();
    const QVector<ParamWrap*> before = *camera->getParamItems();
    camera->setExposureCount(5);
    QCOMPARE(camera->paramItems.size(), 26);
    camera->setExposureCount(-2);
    QCOMPARE(camera->paramItems.size(), 21);
    QVERIFY(camera->exposureTimes.isEmpty());
    // A host still showing the first panel reads and edits valid memory.
    for (ParamWrap* item : before) {
        QJsonObject json;
        item->writeJson(json);
        item->readJson(json);
    }
    QCOMPARE(static_cast<ComboBoxParam*>(before[11])->names[0], QString::fromUtf8("曝光时间1"));
}

QTEST_GUILESS_MAIN(TestCameraPanel)
#include "tst_camerapanel.moc"
