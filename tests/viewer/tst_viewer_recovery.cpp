// A cable pull seen through the viewer: the session of a virtual camera goes
// from grabbing to lost and back to grabbing after the plug-back, and keeps
// receiving.
#include "camerasession.h"
#include "viewerhost.h"

#include <QTemporaryDir>
#include <QtTest>

class TestViewerRecovery : public QObject
{
    Q_OBJECT
private slots:
    void cablePullIsShownAndRecovers()
    {
        qputenv("VCC_FEATURE_DIR", qgetenv("LORVEX_SOURCE_DIR") + "/sdk/share");
        QTemporaryDir settings;
        ViewerHost host(qEnvironmentVariable("LORVEX_PLUGIN_DIR"), settings.path());
        QString error;
        QStringList notes;
        QVERIFY2(host.scan(error, notes), qPrintable(error));
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
        session.close();
    }
};

QTEST_MAIN(TestViewerRecovery)
#include "tst_viewer_recovery.moc"
