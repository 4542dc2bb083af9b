// lorvexviewer --screenshot against the virtual SDK's built-in cameras: the
// picture of the window, and the exit codes and messages when it cannot.
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString err;
};

// Without `featureDirSet` the viewer finds the feature file by itself;
// without `display` it runs as on a machine with no window system.
Run viewer(const QStringList& args, const QString& workDir, bool featureDirSet = true, bool display = true)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VCC_FEATURE_DIR"), qEnvironmentVariable("LORVEX_SOURCE_DIR") + QStringLiteral("/sdk/share"));
    if (!featureDirSet)
        env.remove(QStringLiteral("VCC_FEATURE_DIR"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));  // as in a session without a login
    if (!display)
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("LORVEX_BIN_DIR") + QStringLiteral("/lorvexviewer"), args);
    if (!p.waitForFinished(120000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TestViewerCli : public QObject
{
    Q_OBJECT
private slots:
    void screenshotOfBothCameras()
    {
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("window.png"));
        const Run r = viewer({QStringLiteral("--screenshot"), shot, QStringLiteral("--frames"), QStringLiteral("5")}, dir.path());
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        // A session without a runtime folder gets no warnings about it.
        QVERIFY2(!r.err.contains(QLatin1String("XDG_RUNTIME_DIR")), qPrintable(r.err));
        const QImage picture(shot);
        QCOMPARE(picture.size(), QSize(1600, 1000));
        // The settings files are lorvexhost's: written with defaults on first use.
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("settings/ZQ4096M0001.json"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("settings/ZQ2048C0002.json"))));
        // ... holding the device's read-back (row 3 is the width), so that
        // lorvexhost finds nothing replaced in them.
        QFile first(dir.filePath(QStringLiteral("settings/ZQ4096M0001.json")));
        QVERIFY(first.open(QIODevice::ReadOnly));
        const QJsonArray rows = QJsonDocument::fromJson(first.readAll()).object().value(QStringLiteral("paramsWrap")).toArray();
        QCOMPARE(rows.at(3).toObject().value(QStringLiteral("values")).toInt(), 4096);
        // First use: the colour sensor opens in colour, the mono one says it
        // has none, and the exposure (row 12) lies within the camera's limits.
        QFile colourFile(dir.filePath(QStringLiteral("settings/ZQ2048C0002.json")));
        QVERIFY(colourFile.open(QIODevice::ReadOnly));
        const QJsonArray colour = QJsonDocument::fromJson(colourFile.readAll()).object().value(QStringLiteral("paramsWrap")).toArray();
        auto flag = [](const QJsonArray& r) { return r.at(20).toObject().value(QStringLiteral("values")).toArray().at(0).toBool(); };
        QVERIFY(flag(colour));
        QVERIFY(!flag(rows));
        for (const QJsonArray& r : {rows, colour})
            QCOMPARE(r.at(12).toObject().value(QStringLiteral("values")).toDouble(), double(0.01f));
    }

    void failuresHaveCodesAndMessages()
    {
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("x.png"));
        Run r = viewer({QStringLiteral("--screenshot"), shot, QStringLiteral("--serial"), QStringLiteral("NOPE")}, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains(QLatin1String("no attached camera has serial number NOPE")));
        QVERIFY(!QFile::exists(shot));

        r = viewer({QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("missing/x.png")), QStringLiteral("--serial"),
                    QStringLiteral("ZQ4096M0001"), QStringLiteral("--frames"), QStringLiteral("2")}, dir.path());
        QCOMPARE(r.exitCode, 3);
        QVERIFY(r.err.contains(QLatin1String("cannot write")));

        r = viewer({QStringLiteral("--frames"), QStringLiteral("zero")}, dir.path());
        QCOMPARE(r.exitCode, 1);
        r = viewer({QStringLiteral("--screenshot"), shot, QStringLiteral("--plugins"), dir.path()}, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains(QLatin1String("no camera plug-in")));

        // A forgotten value is refused, not taken as a folder name.
        r = viewer({QStringLiteral("--settings"), QStringLiteral("--running"), QStringLiteral("--screenshot"), shot}, dir.path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QLatin1String("looks like a flag")));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("--running"))));
    }

    // A listed camera the plug-in never opens (a serial number of 8
    // characters or fewer) is left out with the reason, never opened.
    void shortSerialIsLeftOutWithTheReason()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("short.json")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"devices": [{"manufacturer": "ZEQ Vision", "model": "LX-256-M", "serial": "ZQ123456",)"
                R"( "widthMax": 256, "heightMax": 64, "pixelFormats": ["Mono8"]}]})");
        f.close();
        qputenv("VCC_DEVICE_FILE", f.fileName().toLocal8Bit());
        const Run r = viewer({QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("x.png")), QStringLiteral("--serial"),
                              QStringLiteral("ZQ123456")}, dir.path());
        qunsetenv("VCC_DEVICE_FILE");
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QLatin1String("ZQ123456: left out")) && r.err.contains(QLatin1String("8 characters or fewer")),
                 qPrintable(r.err));
    }

    // Help and version answer without a camera; a stray word, an unknown flag
    // or a fraction where a count belongs is a bad command line.
    void helpVersionAndStrictValues()
    {
        QTemporaryDir dir;
        QCOMPARE(viewer({QStringLiteral("--help")}, dir.path()).exitCode, 0);
        QCOMPARE(viewer({QStringLiteral("--version")}, dir.path()).exitCode, 0);
        // Each answered with one line that points to --help, not the help itself.
        for (const QStringList& bad : {QStringList{QStringLiteral("stray")}, QStringList{QStringLiteral("--bogus")},
                                       QStringList{QStringLiteral("--frames"), QStringLiteral("2.5")},
                                       QStringList{QStringLiteral("--settings=")}}) {
            const Run r = viewer(bad, dir.path());
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.trimmed().count(QLatin1Char('\n')) == 0 && r.err.contains(QLatin1String("--help")), qPrintable(r.err));
        }
        // A picture count without a picture would be ignored: refused.
        const Run frames = viewer({QStringLiteral("--frames"), QStringLiteral("5")}, dir.path());
        QCOMPARE(frames.exitCode, 1);
        QVERIFY2(frames.err.contains(QLatin1String("--screenshot")), qPrintable(frames.err));
    }

    // No window system: a plain message instead of Qt's abort; the picture
    // and the measurement need no display.
    void withoutADisplay()
    {
        QTemporaryDir dir;
        const Run window = viewer({}, dir.path(), true, false);
        QCOMPARE(window.exitCode, 1);
        QVERIFY2(window.err.contains(QLatin1String("no display")) && !window.err.contains(QLatin1String("Reinstalling")),
                 qPrintable(window.err));
        const Run shot = viewer({QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("w.png")), QStringLiteral("--serial"),
                                 QStringLiteral("ZQ4096M0001"), QStringLiteral("--frames"), QStringLiteral("2")},
                                dir.path(), true, false);
        QVERIFY2(shot.exitCode == 0, qPrintable(shot.err));
        const Run feature = viewer({QStringLiteral("--feature-dir"), dir.filePath(QStringLiteral("nosuch"))}, dir.path());
        QCOMPARE(feature.exitCode, 1);
        QVERIFY2(feature.err.contains(QLatin1String("does not exist")), qPrintable(feature.err));
    }

    // The documented commands set no VCC_FEATURE_DIR: the viewer takes the
    // feature file the build writes beside it, as lorvexhost does.
    void featureFileFoundWithoutEnvironment()
    {
        QTemporaryDir dir;
        const Run r = viewer({QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("w.png")), QStringLiteral("--serial"),
                              QStringLiteral("ZQ4096M0001"), QStringLiteral("--frames"), QStringLiteral("2")},
                             dir.path(), false);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(!r.err.contains(QLatin1String("Lorvex.mfs")), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestViewerCli)
#include "tst_viewer_cli.moc"
