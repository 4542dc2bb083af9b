// Virtual cameras seen through the viewer: a cable pull takes the session
// from grabbing to lost and back to grabbing after the plug-back, software
// triggers take one image each, and the exposure sent shows in the image.
#include "cameraedit.h"
#include "camerasession.h"
#include "exposurebar.h"
#include "productioncontrols.h"
#include "viewerhost.h"

#include <QComboBox>
#include <QDoubleSpinBox>

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Scans the build's plug-ins with the virtual cameras' feature file taken
// from `featureDir`.
bool scanWith(ViewerHost& host, const QByteArray& featureDir)
{
    qputenv("VCC_FEATURE_DIR", featureDir);
    QString error;
    QStringList notes;
    if (host.scan(error, notes))
        return true;
    qWarning("%s", qPrintable(error));
    return false;
}

} // namespace

class TestViewerRecovery : public QObject
{
    Q_OBJECT
private slots:
    void cablePullIsShownAndRecovers()
    {
        QTemporaryDir settings;
        ViewerHost host(qEnvironmentVariable("LORVEX_PLUGIN_DIR"), settings.path());
        QVERIFY(scanWith(host, qgetenv("LORVEX_SOURCE_DIR") + "/sdk/share"));
        QVERIFY(host.canUnplug());
        const QString serial = QStringLiteral("ZQ4096M0001");
        CameraSession session(&host, serial, 0, false);
        QVERIFY(session.valid());
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), CameraState::Grabbing, 5000);

        QVERIFY(host.unplug(serial));
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), CameraState::Lost, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), CameraState::Reconnecting, 5000);
        const qint64 before = session.accounting().delivered();
        QVERIFY(host.plugBack(serial));
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), CameraState::Grabbing, 10000);
        QTRY_VERIFY(session.accounting().delivered() > before);
        QCOMPARE(session.stateMachine()->outages(), 1);
        QVERIFY(session.stateMachine()->lastOutageMs() >= CameraStateMachine::kFirstRetryMs);
        session.close();
    }

    // With the build's triggered feature file the camera waits for triggers:
    // each press of Trigger takes one image, numbered as the count goes on.
    void softwareTriggerTakesOneImage()
    {
        QTemporaryDir settings;
        ViewerHost host(qEnvironmentVariable("LORVEX_PLUGIN_DIR"), settings.path());
        QVERIFY(scanWith(host, qgetenv("LORVEX_BIN_DIR") + "/../share/virtual-triggered"));
        CameraSession session(&host, QStringLiteral("ZQ4096M0001"), 1, true);
        QVERIFY(session.valid());
        QTest::qWait(500);
        QCOMPARE(session.accounting().delivered(), 0);
        // One trigger per frame time: a line-scan camera loses a trigger that
        // arrives while it still reads out the previous frame.
        for (int i = 1; i <= 3; ++i) {
            session.trigger();
            QTRY_COMPARE_WITH_TIMEOUT(session.accounting().delivered(), i, 5000);
        }
        QTest::qWait(300);
        QCOMPARE(session.accounting().delivered(), 3);
        QCOMPARE(session.accounting().misnumbered(), 0);
        session.close();
    }

    // The first settings hold an exposure the camera accepts; a longer one
    // sent from the exposure bar brightens the picture.
    void exposureShowsInTheImage()
    {
        QTemporaryDir settings;
        ViewerHost host(qEnvironmentVariable("LORVEX_PLUGIN_DIR"), settings.path());
        QVERIFY(scanWith(host, qgetenv("LORVEX_BIN_DIR") + "/../share/virtual-triggered"));
        CameraSession session(&host, QStringLiteral("ZQ4096M0001"), 2, true);
        QVERIFY(session.valid());
        ExposureBar bar(session.camera());
        QCOMPARE(bar.currentBox()->itemText(0), QStringLiteral("configuration 1: 0.01 ms"));
        cv::Mat last;
        connect(&session, &CameraSession::frameReceived, this, [&](const ImageProcessData& f) { last = f.image; });
        auto meanOfNext = [&] {
            const qint64 before = session.accounting().delivered();
            session.trigger();
            if (!QTest::qWaitFor([&] { return session.accounting().delivered() > before; }, 5000))
                return -1.0;
            return cv::mean(last)[0];
        };
        QCOMPARE(bar.send(0), 0);
        const double first = meanOfNext();
        float longer = 0.02f;
        session.camera()->setExposureValue(0, longer);
        QCOMPARE(bar.send(0), 0);
        const double brighter = meanOfNext();
        QVERIFY2(first > 0 && brighter > 1.5 * first, qPrintable(QStringLiteral("%1 then %2").arg(first).arg(brighter)));

        // The panel's gain stays in the panel; the viewer's own gain control
        // writes the device, and the picture follows it.
        ProductionControls controls(&session, &host);
        QVERIFY(controls.deviceGainBox()->isEnabled());
        const QVector<AdjustItem> quick = session.camera()->getAdjustItems();
        applyEdit(session.camera(), [&] { *static_cast<int*>(quick[1].value) = 120; });
        const double panelGain = meanOfNext();
        QVERIFY2(panelGain < 1.1 * brighter, qPrintable(QStringLiteral("%1 then %2").arg(brighter).arg(panelGain)));
        controls.deviceGainBox()->setValue(12.0);  // dB: four times as bright
        const double deviceGain = meanOfNext();
        QVERIFY2(deviceGain > 1.5 * panelGain, qPrintable(QStringLiteral("%1 then %2").arg(panelGain).arg(deviceGain)));
        session.close();
    }
};

QTEST_MAIN(TestViewerRecovery)
#include "tst_viewer_recovery.moc"
