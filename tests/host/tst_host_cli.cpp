// End-to-end runs of lorvexhost against the virtual SDK's built-in cameras:
// exit codes, report numbering per trigger setting, images, contact sheet,
// settings files and every bad input the host must survive.
#include "pluginwarnings.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <csignal>

namespace {

const char* const kMono = "ZQ4096M0001";
const char* const kColour = "ZQ2048C0002";

struct Run
{
    int exitCode = -1;
    QString out, err;
};

struct Png
{
    int width = 0, height = 0, colourType = -1; // 0 grey, 2 RGB
};

Png pngHeader(const QString& path)
{
    QFile f(path);
    Png p;
    if (!f.open(QIODevice::ReadOnly))
        return p;
    const QByteArray h = f.read(26);
    if (h.size() < 26 || !h.startsWith("\x89PNG"))
        return p;
    auto be = [&](int at) {
        return (uchar(h[at]) << 24) | (uchar(h[at + 1]) << 16) | (uchar(h[at + 2]) << 8) | uchar(h[at + 3]);
    };
    p.width = be(16);
    p.height = be(20);
    p.colourType = uchar(h[25]);
    return p;
}

struct Row
{
    QString camera;
    int product, capture, inCycle, width, height, channels;
    QString file;
    int pluginProduct;
    QString namedBy;
};

QVector<Row> readCsv(const QString& path, const QString& camera = QString())
{
    QVector<Row> rows;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return rows;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QStringList c = QString::fromUtf8(f.readLine()).trimmed().split(',');
        if (c.size() < 12)
            continue;
        auto unq = [](QString s) { return s.remove('"'); };
        Row r{unq(c[0]), c[2].toInt(), c[3].toInt(), c[4].toInt(), c[8].toInt(), c[9].toInt(), c[10].toInt(), unq(c.last()),
              c.size() >= 15 ? c[11].toInt() : 0, c.size() >= 15 ? unq(c[13]) : QString()};
        if (camera.isEmpty() || r.camera == camera)
            rows << r;
    }
    return rows;
}

QJsonObject readJson(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

QString numbers(const QVector<Row>& rows)
{
    QStringList s;
    for (const Row& r : rows)
        s << QStringLiteral("%1.%2.%3").arg(r.product).arg(r.capture).arg(r.inCycle);
    return s.join(' ');
}

} // namespace

// How long after its clock a timed run may end: closing the cameras and
// dropping what the writing queue did not start. A sanitizer build frees and
// encodes about half as fast.
#ifdef LORVEX_SANITIZED
constexpr int kTimedEndMarginMs = 2000;
#else
constexpr int kTimedEndMarginMs = 1000;
#endif

class HostCli : public QObject
{
    Q_OBJECT

    QString host_;
    QString plugins_;
    QString share_;

    // Starts the host in `dir` with the feature file of `mode`: "triggered"
    // puts a copy that switches trigger mode on into the working folder,
    // where the SDK looks first; "shipped" uses the project's file.
    // "bare" is "shipped" without VCC_FEATURE_DIR, as on a fresh shell.
    // "own" keeps the feature file the test put into `dir`. A `deviceFile`
    // replaces the built-in cameras; `faults` are the virtual SDK's scripted
    // faults (VCC_FAULTS) for this run.
    void startHost(QProcess& p, const QString& dir, const QStringList& args, const QString& mode,
                   const QString& deviceFile = QString(), const QString& faults = QString())
    {
        p.setWorkingDirectory(dir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VCC_FEATURE_DIR"), share_);
        if (mode == QLatin1String("bare"))
            env.remove(QStringLiteral("VCC_FEATURE_DIR"));
        env.remove(QStringLiteral("VCC_DEVICE_FILE"));
        if (!deviceFile.isEmpty())
            env.insert(QStringLiteral("VCC_DEVICE_FILE"), deviceFile);
        env.remove(QStringLiteral("VCC_FAULTS"));
        if (!faults.isEmpty())
            env.insert(QStringLiteral("VCC_FAULTS"), faults);
        p.setProcessEnvironment(env);
        if (mode != QLatin1String("own"))
            QFile::remove(dir + "/Lorvex.mfs");
        if (mode == QLatin1String("triggered")) {
            QFile src(share_ + "/Lorvex.mfs");
            src.open(QIODevice::ReadOnly);
            QByteArray text = src.readAll();
            text.replace("TriggerMode = Off", "TriggerMode = On");
            QFile dst(dir + "/Lorvex.mfs");
            dst.open(QIODevice::WriteOnly);
            dst.write(text);
        }
        QStringList full = args;
        if (!args.contains(QStringLiteral("--plugins")))
            full << QStringLiteral("--plugins") << plugins_;
        p.start(host_, full);
    }

    // Runs the host to its end (see startHost for `mode`).
    Run run(const QString& dir, const QStringList& args, const QString& mode = QStringLiteral("triggered"), int timeoutMs = 120000,
            const QString& deviceFile = QString(), const QString& faults = QString())
    {
        QProcess p;
        startHost(p, dir, args, mode, deviceFile, faults);
        Run r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

private slots:
    void initTestCase()
    {
        host_ = qEnvironmentVariable("LORVEX_BIN_DIR") + "/lorvexhost";
        plugins_ = qEnvironmentVariable("LORVEX_PLUGIN_DIR");
        share_ = qEnvironmentVariable("LORVEX_SOURCE_DIR") + "/sdk/share";
        QVERIFY2(QFile::exists(host_), qPrintable(host_));
        QVERIFY(QFile::exists(share_ + "/Lorvex.mfs"));
    }

    // --- plug-in discovery ------------------------------------------------------

    void listShowsIdentityAndAcceptedCameras()
    {
        QTemporaryDir dir;
        const Run r = run(dir.path(), {"list"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("com.zeq.quorlan.camerainterface.CameraLorvex"));
        QVERIFY(r.out.contains("V1.10"));
        QVERIFY(r.out.contains(kMono));
        QVERIFY(r.out.contains(kColour));
        QVERIFY2(!r.out.contains("VirLS"), "a rejected device was listed");
    }

    void badFilesInThePluginFolderAreSkippedWithReasons()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("Plugins");
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(plugins_ + "/libCameraLorvex.so", folder + "/libCameraLorvex.so"));
        QVERIFY(QFile::copy(QStringLiteral(HOST_FIXTURE_DIR) + "/libhost_fixture_other.so", folder + "/libOther.so"));
        QVERIFY(QFile::copy(QStringLiteral(HOST_FIXTURE_DIR) + "/libhost_fixture_notaplugin.so", folder + "/libPlain.so"));
        QFile txt(folder + "/readme.txt");
        QVERIFY(txt.open(QIODevice::WriteOnly));
        txt.write("not a library");
        txt.close();

        const Run r = run(dir.path(), {"list", "--plugins", folder});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains(kMono));
        QVERIFY2(r.err.contains("libOther.so") && r.err.contains("org.example.unrelated.Interface"), qPrintable(r.err));
        QVERIFY2(r.err.contains("libPlain.so") && r.err.contains("not a Qt plug-in"), qPrintable(r.err));
        QVERIFY2(r.err.contains("readme.txt"), qPrintable(r.err));

        // A folder with only bad files has no camera plug-in at all.
        QFile::remove(folder + "/libCameraLorvex.so");
        const Run none = run(dir.path(), {"capture", "--plugins", folder, "--out", dir.filePath("o")});
        QCOMPARE(none.exitCode, 2);
        QVERIFY(none.err.contains("no camera plug-in"));
    }

    void missingPluginFolderIsAnError()
    {
        QTemporaryDir dir;
        const Run r = run(dir.path(), {"list", "--plugins", dir.filePath("nowhere")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("does not exist"));
    }

    // --- numbering for each trigger setting ----------------------------------------

    void numberingFollowsTheTriggerSettings_data()
    {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("expected");
        QTest::newRow("type 4, one capture")
            << QStringList{"--products", "3"} << "1.1.1 2.1.1 3.1.1";
        QTest::newRow("type 4, 2 captures, 2 per cycle")
            << QStringList{"--products", "3", "--captures-per-product", "2", "--products-per-cycle", "2"}
            << "1.1.1 1.2.1 2.1.2 2.2.2 3.1.1 3.2.1";
        QTest::newRow("type 2 synchronised")
            << QStringList{"--trigger-type", "2", "--sync", "--products", "2", "--captures-per-product", "3"}
            << "1.1.1 1.2.1 1.3.1 2.1.1 2.2.1 2.3.1";
        QTest::newRow("type 32 numbers from the trigger")
            << QStringList{"--trigger-type", "32", "--products", "4", "--products-per-cycle", "3"}
            << "1.1.1 2.1.2 3.1.3 4.1.1";
        // Captures 200 ms apart with a 50 ms product time-out: every second
        // capture is late and opens a new product, so no product is whole
        // (a failed run, allowed here to read its numbers).
        QTest::newRow("cycle time-out")
            << QStringList{"--products", "2", "--captures-per-product", "2", "--cycle-timeout", "50", "--rate", "5", "--allow-loss"}
            << "1.1.1 2.1.1 3.1.1 4.1.1";
    }

    void numberingFollowsTheTriggerSettings()
    {
        QFETCH(QStringList, flags);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), QStringList{"capture", kColour, "--out", out, "--rate", "10"} + flags);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QVector<Row> rows = readCsv(out + "/frames.csv");
        QCOMPARE(numbers(rows), expected);
        const QJsonObject s = readJson(out + "/summary.json");
        QCOMPARE(s["delivered"].toInt(), rows.size());
        QCOMPARE(s["dropped"].toInt(), 0);
        if (flags.contains("--cycle-timeout")) {
            QVERIFY(s["cycleTimeoutsInLog"].toInt() >= 3);
            QCOMPARE(s["productsIncomplete"].toInt(), 4);
            QCOMPARE(s["complete"].toBool(), false);
            QVERIFY2(r.out.contains("4 product(s) incomplete") && r.out.contains("NOT all accounted for"), qPrintable(r.out));
        }
    }

    // --- images, report, sheet ----------------------------------------------------

    void imagesReportAndSheetFromBothCameras()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", "--out", out, "--products", "3"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.out.contains("contact sheet:"));
        const QStringList pngs = QDir(out).entryList({"ZQ*.png"}, QDir::Files);
        QCOMPARE(pngs.size(), 6);
        for (const char* serial : {kMono, kColour}) {
            const QVector<Row> rows = readCsv(out + "/frames.csv", serial);
            QCOMPARE(rows.size(), 3);
            for (const Row& row : rows) {
                const Png p = pngHeader(out + "/" + row.file);
                QCOMPARE(row.file, QStringLiteral("%1_p%2_c%3.png").arg(serial).arg(row.product).arg(row.capture));
                QCOMPARE(p.width, row.width);
                QCOMPARE(p.height, row.height);
                QCOMPARE(p.colourType, QString(serial) == kMono ? 0 : 2); // a colour sensor opens in colour
            }
            QCOMPARE(rows.first().width, QString(serial) == kMono ? 4096 : 2048);
            QCOMPARE(rows.first().height, 1000);
        }
        const Png sheet = pngHeader(out + "/contact-sheet.png");
        QCOMPARE(sheet.width, 6 + 4 * (256 + 6)); // four thumbnails a row
        QVERIFY(sheet.height > 2 * 18);
        const QJsonObject s = readJson(out + "/summary.json");
        QCOMPARE(s["delivered"].toInt(), 6);
        QCOMPARE(s["imagesWritten"].toInt(), 6);
        QCOMPARE(s["criticalsInLog"].toInt(), 0);
        QCOMPARE(s["cameras"].toArray().size(), 2);
    }

    void aBurstFasterThanTheEncodersIsWrittenWhole()
    {
        // Both demo cameras run free: 200 products arrive far faster than PNG
        // encoders on this machine write them. Every frame must reach the disk.
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        // (A machine too busy for the cameras' own threads may lose frames
        // upstream, before the host; every frame the host receives is written.)
        const Run r = run(dir.path(), {"capture", "--out", out, "--products", "200"}, "shipped", 300000);
        const QJsonObject s = readJson(out + "/summary.json");
        const bool lostBeforeTheHost = s["lostUpstream"].toInt() > 0;
        QVERIFY2(r.exitCode == (s["complete"].toBool() ? 0 : 5), qPrintable(r.err + r.out));
        QVERIFY2(s["complete"].toBool() || lostBeforeTheHost, qPrintable(r.out));
        QCOMPARE(s["notWritten"].toInt(), 0);
        QCOMPARE(s["imagesWritten"].toInt(), s["delivered"].toInt());
        QVERIFY(lostBeforeTheHost || s["delivered"].toInt() == 400);
        QCOMPARE(QDir(out).entryList({"ZQ*.png"}, QDir::Files).size(), s["delivered"].toInt());
        const QJsonObject w = s["writing"].toObject();
        QVERIFY(w["queuePeakImages"].toInt() >= 1 && w["queuePeakMiB"].toDouble() <= w["queueBudgetMiB"].toDouble());
        QVERIFY(w["imagesPerSecond"].toDouble() > 0);
        QVERIFY2(r.out.contains("queue peak"), qPrintable(r.out));

        // Under a small budget the uncompressed format writes what it can and
        // counts the rest: nothing is both missing and unreported.
        const Run tight = run(dir.path(), {"capture", kMono, "--out", dir.filePath("tight"), "--products", "40",
                                           "--queue-memory", "16", "--image-format", "pnm"}, "shipped");
        const QJsonObject t = readJson(dir.filePath("tight/summary.json"));
        QCOMPARE(tight.exitCode, t["complete"].toBool() ? 0 : 5);
        QCOMPARE(t["imagesWritten"].toInt() + t["notWritten"].toInt(), t["delivered"].toInt());
        // Images the full queue refused are explained, with the flag to raise.
        QCOMPARE(tight.err.contains("the writing queue was full (--queue-memory 16 MiB)"), t["notWritten"].toInt() > 0);
        QCOMPARE(QDir(dir.filePath("tight")).entryList({"ZQ*.pgm"}, QDir::Files).size(), t["imagesWritten"].toInt());
    }

    void recordingWarnsEarlyAndStopsBeforeTheDiskIsFull()
    {
        // PNG at the demo cameras' full rate falls behind on any machine: the
        // run says so within its first seconds, with the rates and how long
        // the queue holds.
        QTemporaryDir dir;
        const Run slow = run(dir.path(), {"capture", "--free-run", "3", "--out", dir.filePath("slow")}, "shipped");
        QVERIFY2(slow.err.contains(QRegularExpression("the cameras deliver \\d+ MB/s; png images are written at about "
                                                      "\\d+ MB/s .* queue fills after about [0-9.]+ s")),
                 qPrintable(slow.err));

        // A disk with less than the reserve free: nothing is captured. With a
        // little more, the run stops once the images would take the reserve,
        // says so, counts what it wrote and fails.
        qputenv("LORVEX_FREE_SPACE_MIB", "100");
        const Run none = run(dir.path(), {"capture", kMono, "--out", dir.filePath("none")});
        qputenv("LORVEX_FREE_SPACE_MIB", "560");
        const Run full = run(dir.path(), {"capture", kMono, "--out", dir.filePath("full"), "--products", "40", "--rate", "50",
                                          "--image-format", "pnm", "--min-free", "512"});
        qunsetenv("LORVEX_FREE_SPACE_MIB");
        QCOMPARE(none.exitCode, 3);
        QVERIFY2(none.err.contains("100 MiB free, less than the --min-free reserve of 512 MiB; nothing was captured"),
                 qPrintable(none.err));
        QVERIFY(!QFileInfo::exists(dir.filePath("none/frames.csv")));
        QCOMPARE(full.exitCode, 3);
        QVERIFY2(full.err.contains(QRegularExpression("MiB free, the --min-free reserve is 512 MiB: recording stopped after \\d+ "
                                                      "frame")), qPrintable(full.err));
        const QJsonObject s = readJson(dir.filePath("full/summary.json"));
        QVERIFY(s["writing"].toObject()["stoppedForDiskSpace"].toBool());
        // The disk's reserve stopped it, not a full queue.
        QCOMPARE(s["writing"].toObject()["notQueuedQueueFull"].toInt(), 0);
        QVERIFY2(!full.out.contains("the writing queue was full") && !full.err.contains("the writing queue was full"),
                 qPrintable(full.err));
        const int written = s["imagesWritten"].toInt();
        QVERIFY2(written >= 8 && written <= 12, qPrintable(full.out)); // 48 MiB of 4 MB images, as the queue allowed
        QCOMPARE(QDir(dir.filePath("full")).entryList({"ZQ*.pgm"}, QDir::Files).size(), written);
    }

    void recordingPlaysBackInTheOrderCaptured_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("png") << QStringLiteral("png");
        QTest::newRow("pnm") << QStringLiteral("pnm");
        QTest::newRow("tiff") << QStringLiteral("tiff");
    }

    void recordingPlaysBackInTheOrderCaptured()
    {
        // Twelve products recorded from a mono and a colour chart, then played
        // back through Mono8, RGB8 and BGR8 devices: output p<n> is input p<n>,
        // pixel for pixel, although p10 sorts before p2 by name; in every
        // format the host writes.
        QFETCH(QString, format);
        QTemporaryDir dir;
        auto writeFile = [&](const QString& name, const QByteArray& text) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        };
        writeFile("Lorvex.mfs", "TriggerMode = On\n");
        auto device = [](const char* serial, const char* format, const char* images) {
            const QByteArray model = QByteArray(format) == "Mono8" ? "LX-256-M" : "LX-256-C"; // "M": a mono sensor
            QByteArray d = QByteArray(R"({"manufacturer": "ZEQ Vision", "model": ")") + model + R"(", "serial": ")" + serial
                + R"(", "widthMax": 256, "heightMax": 64, "pixelFormats": [")" + format + "\"]";
            return d + (*images ? QByteArray(R"(, "images": ")") + images + "\"}" : QByteArray("}"));
        };
        writeFile("charts.json", "{\"devices\": [" + device("RECMONO0001", "Mono8", "") + ","
                                     + device("RECRGB00001", "RGB8", "") + "]}");
        writeFile("playback.json", "{\"devices\": [" + device("PLAYMONO001", "Mono8", "mono") + ","
                                       + device("PLAYRGB0001", "RGB8", "colour") + ","
                                       + device("PLAYBGR0001", "BGR8", "colour") + "]}");
        const QStringList twelve{"--products", "12", "--rate", "50", "--image-format", format};
        for (const auto& [serial, folder] : {std::pair{"RECMONO0001", "mono"}, std::pair{"RECRGB00001", "colour"}}) {
            const Run r = run(dir.path(), QStringList{"capture", serial, "--out", dir.filePath(folder)} + twelve, "own", 120000,
                              dir.filePath("charts.json"));
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        }
        const Run r = run(dir.path(), QStringList{"capture", "--out", dir.filePath("played")} + twelve, "own", 120000,
                          dir.filePath("playback.json"));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        for (const auto& [in, out] : {std::pair{"mono/RECMONO0001", "PLAYMONO001"}, std::pair{"colour/RECRGB00001", "PLAYRGB0001"},
                                      std::pair{"colour/RECRGB00001", "PLAYBGR0001"}})
            for (int p = 1; p <= 12; ++p) {
                const QString ext = format == "png" ? "png" : format == "tiff" ? "tif" : QString(out).startsWith("PLAYMONO") ? "pgm" : "ppm";
                auto read = [&](const QString& name) {
                    return cv::imread(dir.filePath(QStringLiteral("%1_p%2_c1.%3").arg(name).arg(p).arg(ext)).toStdString(),
                                      cv::IMREAD_UNCHANGED);
                };
                const cv::Mat a = read(in), b = read(QStringLiteral("played/") + out);
                QVERIFY(a.cols == 256 && a.rows == 64 && a.size() == b.size() && a.type() == b.type());
                QVERIFY2(cv::norm(a, b, cv::NORM_INF) == 0, qPrintable(QStringLiteral("%1 p%2").arg(out).arg(p)));
            }
    }

    void freeRunningDevicesAreCountedToTheRequestedNumber()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", "--out", out, "--products", "4"}, "shipped");
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.err.contains("runs without triggers"));
        for (const char* serial : {kMono, kColour})
            QCOMPARE(numbers(readCsv(out + "/frames.csv", serial)), QStringLiteral("1.1.1 2.1.1 3.1.1 4.1.1"));
        QCOMPARE(readJson(out + "/summary.json")["criticalsInLog"].toInt(), 0);
    }

    // --- settings files -------------------------------------------------------------

    void settingsAreWrittenOnceAndRestored()
    {
        QTemporaryDir dir;
        const Run first = run(dir.path(), {"capture", kColour, "--out", dir.filePath("a"), "--products", "1"});
        QVERIFY2(first.exitCode == 0, qPrintable(first.err));
        const QString path = dir.filePath(QStringLiteral("settings/%1.json").arg(kColour));
        QJsonObject json = readJson(path);
        QJsonArray items = json["paramsWrap"].toArray();
        QCOMPARE(items.size(), 22); // the panel with one exposure configuration

        // Gain (row 14) and the colour switch (row 20) edited by the user.
        QJsonObject gain = items[14].toObject();
        gain["values"] = 37;
        items[14] = gain;
        QJsonObject colour = items[20].toObject();
        colour["values"] = QJsonArray{true};
        items[20] = colour;
        json["paramsWrap"] = items;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(json).toJson());
        f.close();

        const Run panel = run(dir.path(), {"panel", kColour, "--json"});
        QCOMPARE(panel.exitCode, 0);
        const QJsonArray shown = QJsonDocument::fromJson(panel.out.toUtf8()).object()["paramsWrap"].toArray();
        QCOMPARE(shown.size(), 22);
        QCOMPARE(shown[14].toObject()["values"].toInt(), 37);
        QCOMPARE(shown[20].toObject()["values"].toArray().first().toBool(), true);

        const Run table = run(dir.path(), {"panel", kColour});
        QCOMPARE(table.exitCode, 0);
        QVERIFY(table.out.contains("LineEditCameraParam"));
        QVERIFY(table.out.contains("ComboBoxParam"));

        // The restored colour switch gives three-channel images.
        const QString out = dir.filePath("b");
        const Run second = run(dir.path(), {"capture", kColour, "--out", out, "--products", "2"});
        QVERIFY2(second.exitCode == 0, qPrintable(second.err));
        const QVector<Row> rows = readCsv(out + "/frames.csv");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.first().channels, 3);
        QCOMPARE(pngHeader(out + "/" + rows.first().file).colourType, 2);
        // Not rewritten by later runs.
        QCOMPARE(readJson(path)["paramsWrap"].toArray()[14].toObject()["values"].toInt(), 37);
    }

    void invalidSettingsStopTheRunUnlessReset()
    {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("settings"));
        const QString path = dir.filePath(QStringLiteral("settings/%1.json").arg(kColour));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{ \"paramsWrap\": [ ");
        f.close();

        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kColour, "--out", out});
        QCOMPARE(r.exitCode, 4);
        QVERIFY2(r.err.contains(path) && r.err.contains("invalid JSON"), qPrintable(r.err));
        QVERIFY(QDir(out).entryList({"*.png"}).isEmpty());

        const Run reset = run(dir.path(), {"capture", kColour, "--out", out, "--products", "1", "--reset-settings"});
        QVERIFY2(reset.exitCode == 0, qPrintable(reset.err));
        QCOMPARE(readJson(path)["paramsWrap"].toArray().size(), 22);
        QCOMPARE(QDir(dir.filePath("settings")).entryList({"*.invalid-*"}).size(), 1); // the user's file kept
    }

    // --- bad input ---------------------------------------------------------------------

    void unknownSerialNumbers()
    {
        QTemporaryDir dir;
        const Run only = run(dir.path(), {"capture", "NOSUCH1", "--out", dir.filePath("a")});
        QCOMPARE(only.exitCode, 2);
        QVERIFY2(!QFileInfo::exists(dir.filePath("a")), "a run that captured nothing left its folder");
        QCOMPARE(run(dir.path(), {"capture", "NOSUCH1"}).exitCode, 2);
        QVERIFY(!QFileInfo::exists(dir.filePath("capture-out")));
        QVERIFY2(only.err.contains("NOSUCH1") && only.err.contains(kMono) && only.err.contains(kColour), qPrintable(only.err));

        const Run mixed = run(dir.path(), {"capture", "NOSUCH1", kColour, "--out", dir.filePath("b"), "--products", "1"});
        QCOMPARE(mixed.exitCode, 0);
        QVERIFY(mixed.err.contains("NOSUCH1"));
        QCOMPARE(readCsv(dir.filePath("b/frames.csv")).size(), 1);

        const Run panel = run(dir.path(), {"panel", "NOSUCH1"});
        QCOMPARE(panel.exitCode, 2);
    }

    // A camera the plug-in lists but never opens (a serial number of 8
    // characters or fewer): marked in the list, left out of a run with the
    // reason, and never counted as a loss.
    void shortSerialIsMarkedAndLeftOut()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("short.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray device = R"({"manufacturer": "ZEQ Vision", "model": "LX-256-M", "serial": "%1", "widthMax": 256, )"
                                  R"("heightMax": 64, "pixelFormats": ["Mono8"]})";
        f.write("{\"devices\": [" + QByteArray(device).replace("%1", "ZQ123456") + ","
                + QByteArray(device).replace("%1", "ZQ1234567") + "]}");
        f.close();
        const QString devices = dir.filePath("short.json");
        const Run list = run(dir.path(), {"list"}, "triggered", 120000, devices);
        QCOMPARE(list.exitCode, 0);
        QVERIFY2(list.out.contains(QRegularExpression("ZQ123456 .*8 characters or fewer")), qPrintable(list.out));
        QVERIFY2(!list.out.contains(QRegularExpression("ZQ1234567 .*cannot be opened")), qPrintable(list.out));

        const Run only = run(dir.path(), {"capture", "ZQ123456", "--out", dir.filePath("a")}, "triggered", 120000, devices);
        QCOMPARE(only.exitCode, 2); // no camera to capture from
        QVERIFY2(only.err.contains("8 characters or fewer") && !only.err.contains("lost"), qPrintable(only.err));

        const Run all = run(dir.path(), {"capture", "--products", "1", "--out", dir.filePath("b")}, "triggered", 120000, devices);
        QVERIFY2(all.exitCode == 0 && all.err.contains("ZQ123456: left out"), qPrintable(all.err));
        const QJsonObject s = readJson(dir.filePath("b/summary.json"));
        QCOMPARE(s["cameras"].toArray().size(), 1);
        QCOMPARE(s["cameraLosses"].toInt(), 0);
    }

    void unwritableOutputFailsBeforeCapture()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const Run r = run(dir.path(), {"capture", "--out", dir.filePath("file/out")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY(r.err.contains("output folder"));
        QVERIFY2(!QDir(dir.filePath("settings")).exists(), "cameras were opened before the output check");
    }

    void badCommandLines()
    {
        QTemporaryDir dir;
        QCOMPARE(run(dir.path(), {"capture", "--products", "zero"}).exitCode, 1);
        QCOMPARE(run(dir.path(), {"capture", "--trigger-type", "3"}).exitCode, 1);
        QCOMPARE(run(dir.path(), {"capture", "--json"}).exitCode, 1);
        QCOMPARE(run(dir.path(), {"explode"}).exitCode, 1);
        QCOMPARE(run(dir.path(), {"panel"}).exitCode, 1);
        QProcess none;
        none.start(host_, QStringList());
        QVERIFY(none.waitForFinished(30000));
        QCOMPARE(none.exitCode(), 1);
        QVERIFY(none.readAllStandardError().contains("usage: lorvexhost"));
        const Run help = run(dir.path(), {"--help", "capture"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.contains("--rate") && help.out.contains("usage: lorvexhost capture"), qPrintable(help.out));
    }

    // --- interruption and soak --------------------------------------------------------

    void ctrlCKeepsEverythingCaptured()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        QProcess p;
        startHost(p, dir.path(), {"capture", kColour, "--free-run", "60", "--out", out}, "shipped");
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readCsv(out + "/frames.csv").size() >= 3, 30000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 130);
        const QVector<Row> rows = readCsv(out + "/frames.csv");
        QVERIFY(rows.size() >= 3);
        for (const Row& r : rows)
            QVERIFY2(QFile::exists(out + "/" + r.file), qPrintable(r.file));
        QCOMPARE(QDir(out).entryList({"ZQ*.png"}).size(), rows.size());
        const QJsonObject s = readJson(out + "/summary.json");
        QCOMPARE(s["interrupted"].toBool(), true);
        QCOMPARE(s["delivered"].toInt(), rows.size());
        QVERIFY(QFile::exists(out + "/contact-sheet.png"));

        // A camera without triggers asked to number 1000 frames: those it had
        // not made by Ctrl-C are not dropped.
        QProcess counted;
        const QString out2 = dir.filePath("counted");
        startHost(counted, dir.path(), {"capture", kColour, "--products", "1000", "--no-images", "--out", out2}, "shipped");
        QVERIFY(counted.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readCsv(out2 + "/frames.csv").size() >= 3, 30000);
        ::kill(static_cast<pid_t>(counted.processId()), SIGINT);
        QVERIFY(counted.waitForFinished(30000));
        QCOMPARE(counted.exitCode(), 130);
        const QJsonObject cam = readJson(out2 + "/summary.json")["cameras"].toArray().first().toObject();
        QCOMPARE(cam["dropped"].toInt(), 0);
        QCOMPARE(cam["triggered"].toInt(), cam["delivered"].toInt() + cam["lostUpstream"].toInt());
    }

    void soakSurvivesUnplugging()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("soak");
        const Run r = run(dir.path(), {"soak", "--cycles", "2", "--detached", "0.6", "--seed", "7", "--out", out}, "shipped", 180000);
        const QJsonObject s = readJson(out + "/summary.json");
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QCOMPARE(s["passed"].toBool(), true);
        QCOMPARE(s["seed"].toInt(), 7); // a failing soak can be replayed
        QVERIFY2(r.err.contains("seed 7"), qPrintable(r.err));
        QCOMPARE(s["cycles"].toArray().size(), 2);
        for (const QJsonValue& c : s["cycles"].toArray()) {
            QVERIFY(c.toObject()["lossSeen"].toBool());
            QVERIFY(!c.toObject()["reconnectAfterAttachMs"].isNull());
            QCOMPARE(c.toObject()["numberingContinuous"].toBool(), true);
        }
        QCOMPARE(s["lostAfterDelivery"].toInt(), 0);
        // Exactly what the devices delivered while numbering, not a frame more.
        for (const QJsonValue& c : s["cameras"].toArray())
            QCOMPARE(c.toObject()["received"].toInt(), c.toObject()["deliveredByDevice"].toInt());
    }

    // --- a report the user can trust ------------------------------------------------

    void framesLostUpstreamAreNamedAndFailTheRun()
    {
        // At this rate the SDK loses frames on this machine; whatever it
        // loses must show up, placed, and fail the run.
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kMono, "--products", "150", "--rate", "1000", "--no-images", "--timeout", "2", "--out", out});
        const QJsonObject cam = readJson(out + "/summary.json")["cameras"].toArray().first().toObject();
        const int lost = cam["lostFramesInLog"].toInt();
        QCOMPARE(cam["lostUpstream"].toInt(), lost);
        QCOMPARE(cam["delivered"].toInt() + lost + cam["dropped"].toInt(), 150);
        QCOMPARE(cam["lostProducts"].toArray().size(), qMin(lost, 50));
        if (lost == 0)
            QSKIP("no frame was lost upstream in this run");
        QCOMPARE(r.exitCode, 5);
        QVERIFY2(r.out.contains("lost upstream: p"), qPrintable(r.out));
        // The plug-in counts frames, so every frame after the first loss is numbered too low.
        QVERIFY(cam["numberingMismatches"].toInt() > 0);
    }

    void exitStatusAgreesWithTheNumbering()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kColour, "--sync", "--captures-per-product", "2", "--products-per-cycle", "2",
                                       "--products", "4", "--out", out});
        const QJsonObject s = readJson(out + "/summary.json");
        const int wrong = s["cameras"].toArray().first().toObject()["numberingMismatches"].toInt();
        QCOMPARE(r.exitCode, wrong > 0 ? 5 : 0);
        QCOMPARE(r.out.contains("NOT all accounted for"), wrong > 0);
        QCOMPARE(s["numberingMismatches"].toInt(), wrong);
    }

    void timedRunEndsOnTimeWithImages()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", "--free-run", "3", "--out", out}, "shipped");
        const QJsonObject s = readJson(out + "/summary.json");
        const qint64 ms = QDateTime::fromString(s["started"].toString(), Qt::ISODateWithMs)
                              .msecsTo(QDateTime::fromString(s["finished"].toString(), Qt::ISODateWithMs));
        QVERIFY2(ms < 3000 + kTimedEndMarginMs, qPrintable(QString::number(ms))); // the disk never holds up the clock
        const bool clean = s["lostUpstream"].toInt() == 0 && s["notWritten"].toInt() == 0;
        QCOMPARE(r.exitCode, clean ? 0 : 5);
        int files = 0;
        for (const Row& row : readCsv(out + "/frames.csv"))
            files += row.file.isEmpty() ? 0 : 1;
        QCOMPARE(files, s["imagesWritten"].toInt());
        QCOMPARE(readCsv(out + "/frames.csv").size(), s["delivered"].toInt());
    }

    // --- every loss visible ------------------------------------------------------------

    void unplugDuringAFreeRunningCaptureFailsTheRun()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kMono, "--products", "300", "--no-images", "--out", out}, "shipped", 120000, QString(),
                          QStringLiteral("%1/unplug:1000:1500").arg(kMono));
        QCOMPARE(r.exitCode, 5);
        const QJsonObject s = readJson(out + "/summary.json");
        QCOMPARE(s["complete"].toBool(), false);
        QCOMPARE(s["cameraLosses"].toInt(), 1);
        const QJsonArray losses = s["cameras"].toArray().first().toObject()["cameraLosses"].toArray();
        QCOMPARE(losses.size(), 1);
        const QJsonObject loss = losses.first().toObject();
        QVERIFY(loss["reconnected"].toBool());
        QCOMPARE(s["cameras"].toArray().first().toObject()["stateAtEnd"].toString(), QStringLiteral("grabbing"));
        const qint64 ms = QDateTime::fromString(loss["start"].toString(), Qt::ISODateWithMs)
                              .msecsTo(QDateTime::fromString(loss["end"].toString(), Qt::ISODateWithMs));
        QVERIFY(ms >= 1000); // the 1.5 s unplugged, less the plug-in's close
        // The frames the interval would have held at the pace seen before it
        // (the device's 100 frames/s, or less on a machine this busy).
        const double rate = loss["framesPerSecondBefore"].toDouble();
        QVERIFY(rate > 0 && rate <= 110);
        QVERIFY(loss["framesMissed"].toInt() > 0);
        QVERIFY(qAbs(loss["framesMissed"].toInt() - rate * ms / 1000.0) <= 1 + rate * 0.01);
        QVERIFY2(r.out.contains("camera lost from") && r.out.contains("NOT all accounted for"), qPrintable(r.out));
    }

    void framesAreCheckedAgainstTheTriggerTheyAnswer()
    {
        // At 1000 triggers/s the colour camera (20 ms a frame) takes about one
        // trigger in twenty; the plug-in still numbers its frames 1, 2, 3.
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kColour, "--products", "50", "--rate", "1000", "--no-images", "--timeout", "1",
                                       "--out", out});
        const QJsonObject s = readJson(out + "/summary.json");
        const QJsonObject cam = s["cameras"].toArray().first().toObject();
        const int delivered = cam["delivered"].toInt();
        if (delivered == 50)
            QSKIP("the machine was too slow to trigger faster than the camera takes frames");
        QCOMPARE(r.exitCode, 5);
        QCOMPARE(cam["numberingCheckedBy"].toString(), QStringLiteral("trigger"));
        // A frame that answers a later trigger than its count is misnumbered,
        // and the plug-in wrote a trigger warning for exactly those frames.
        QVERIFY(cam["numberingMismatches"].toInt() > 0);
        QCOMPARE(cam["numberingMismatches"].toInt(), s["triggerWarningsInLog"].toInt());
        QCOMPARE(cam["triggersWithoutFrame"].toInt(), 50 - delivered);
        QCOMPARE(cam["productsWithoutFrame"].toArray().size(), 50 - delivered);
        QVERIFY2(r.out.contains(QRegularExpression("no frame for the triggers of: p2[-,]")), qPrintable(r.out)); // p2-p16 as a range
        // The kit reads the warnings as the plug-in writes them.
        int read = 0;
        for (const QString& line : r.err.split('\n')) {
            if (!line.contains("TriggerIndex"))
                continue;
            pluginwarnings::TriggerAccount t;
            QVERIFY2(pluginwarnings::parseTriggerAccount(line, t), qPrintable(line));
            QVERIFY(t.triggerIndex > t.frameCounter);
            ++read;
        }
        QCOMPARE(read, s["triggerWarningsInLog"].toInt());
    }

    void triggersDuringALossAreReportedLost()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kColour, "--products", "50", "--rate", "10", "--no-images", "--out", out},
                          "triggered", 120000, QString(), QStringLiteral("%1/unplug:1000:300").arg(kColour));
        QCOMPARE(r.exitCode, 5);
        const QJsonObject cam = readJson(out + "/summary.json")["cameras"].toArray().first().toObject();
        QCOMPARE(cam["cameraLosses"].toArray().size(), 1);
        const int without = cam["triggersWithoutFrame"].toInt();
        QVERIFY(without > 0);
        QCOMPARE(cam["delivered"].toInt() + without, 50);
        QCOMPARE(cam["productsWithoutFrame"].toArray().size(), without);
        // After the reconnect the plug-in's count runs behind the triggers.
        QVERIFY(cam["numberingMismatches"].toInt() > 0);
    }

    void framesAfterTheRunAreNotCountedAsDelivered()
    {
        // 20 frames lost on the way: the run's 100 places hold 80 frames at
        // most; the device goes on numbering frames beyond them until the
        // run stops it, and those are not the run's.
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kColour, "--products", "100", "--no-images", "--out", out}, "shipped", 120000, QString(),
                          QStringLiteral("%1/gap:40:20").arg(kColour));
        QCOMPARE(r.exitCode, 5);
        const QJsonObject cam = readJson(out + "/summary.json")["cameras"].toArray().first().toObject();
        QVERIFY(cam["lostUpstream"].toInt() >= 20);
        QCOMPARE(cam["delivered"].toInt() + cam["lostUpstream"].toInt(), 100);
        QCOMPARE(readCsv(out + "/frames.csv").size(), cam["delivered"].toInt());
        // The kit reads the plug-in's continuity warnings as it writes them.
        qint64 lostInWarnings = 0;
        for (const QString& line : r.err.split('\n')) {
            if (!line.contains("SDK with product"))
                continue;
            pluginwarnings::Continuity c;
            QVERIFY2(pluginwarnings::parseContinuity(line, c), qPrintable(line));
            lostInWarnings += c.lostFrames;
        }
        QVERIFY(lostInWarnings >= 20);
    }

    void timedRunOfTriggeredCamerasWaitsForItsLastFrames()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const Run r = run(dir.path(), {"capture", kColour, "--free-run", "1", "--rate", "10", "--no-images", "--out", out});
        const QJsonObject cam = readJson(out + "/summary.json")["cameras"].toArray().first().toObject();
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QCOMPARE(cam["dropped"].toInt(), 0);
        QVERIFY(cam["delivered"].toInt() >= 5);
        QCOMPARE(cam["delivered"].toInt(), cam["triggered"].toInt());
    }

    void missingFeatureFolderStopsBeforeAnyCamera()
    {
        QTemporaryDir dir;
        const Run r = run(dir.path(), {"capture", kColour, "--feature-dir", dir.filePath("nosuch"), "--out", dir.filePath("o")},
                          "shipped");
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("does not exist"), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(dir.filePath("settings")));
        QVERIFY(!QFileInfo::exists(dir.filePath("o")));
    }

    // Every image under the product whose trigger it answers; the plug-in's
    // own count stays beside it. The scripted faults make the two differ.
    void imagesAreNamedAfterTheTriggerTheyAnswer()
    {
        QTemporaryDir dir;
        // The device loses trigger 3: the frame it makes next answers trigger 4.
        const Run over = run(dir.path(), {"capture", kColour, "--products", "6", "--out", dir.filePath("over")}, "triggered",
                             120000, QString(), QStringLiteral("%1/overrun:3 %1/packets:2:3").arg(kColour));
        QCOMPARE(over.exitCode, 5);
        QVector<Row> rows = readCsv(dir.filePath("over/frames.csv"));
        QCOMPARE(numbers(rows), QStringLiteral("1.1.1 2.1.1 4.1.1 5.1.1 6.1.1"));
        QCOMPARE(rows[2].pluginProduct, 3);
        QCOMPARE(rows[2].file, QStringLiteral("%1_p4_c1.png").arg(kColour));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("over/%1_p3_c1.png").arg(kColour))));
        // Every line of the report names its camera.
        QVERIFY2(over.out.contains(QStringLiteral("%1: no frame for the triggers of: p3\n%1: packets missing in: p2\n").arg(kColour)),
                 qPrintable(over.out));

        // Trigger 3 bounces: its second frame answers no trigger of the run.
        // It is kept and listed as unplaced, never as a product, and
        // --overwrite clears it with the rest of the run.
        const QString bounced = dir.filePath("bounce");
        const Run bounce = run(dir.path(), {"capture", kColour, "--products", "6", "--rate", "5", "--out", bounced}, "triggered",
                               120000, QString(), QStringLiteral("%1/bounce:3").arg(kColour));
        QCOMPARE(bounce.exitCode, 5);
        rows = readCsv(bounced + "/frames.csv");
        const QString unplaced = QStringLiteral("%1_unplaced_1.png").arg(kColour);
        QCOMPARE(numbers(rows), QStringLiteral("1.1.1 2.1.1 3.1.1 0.0.1 4.1.1 5.1.1 6.1.1"));
        QCOMPARE(rows[3].namedBy, QStringLiteral("unplaced"));
        QCOMPARE(rows[3].pluginProduct, 4);
        QCOMPARE(rows[3].file, unplaced);
        const QJsonObject b = readJson(bounced + "/summary.json");
        QCOMPARE(b["framesUnplaced"].toInt(), 1);
        QCOMPARE(b["cameras"].toArray().first().toObject()["unplacedFrames"].toArray().first().toObject()["file"].toString(), unplaced);
        QVERIFY2(bounce.out.contains(QStringLiteral("%1: unplaced, answering no trigger of the run (no product's): %2").arg(kColour, unplaced)),
                 qPrintable(bounce.out));
        QCOMPARE(run(dir.path(), {"capture", kColour, "--products", "1", "--out", bounced, "--overwrite"}).exitCode, 0);
        QVERIFY(!QFile::exists(bounced + "/" + unplaced));

        // Two frame numbers skipped while every trigger got its frame: no
        // product lacks one, and none is reported lost by name.
        const Run gap = run(dir.path(), {"capture", kColour, "--products", "10", "--rate", "20", "--no-images", "--out",
                                         dir.filePath("gap")}, "triggered", 120000, QString(), QStringLiteral("%1/gap:4:2").arg(kColour));
        QCOMPARE(gap.exitCode, 5);
        const QJsonObject cam = readJson(dir.filePath("gap/summary.json"))["cameras"].toArray().first().toObject();
        QCOMPARE(numbers(readCsv(dir.filePath("gap/frames.csv"))), QStringLiteral("1.1.1 2.1.1 3.1.1 4.1.1 5.1.1 6.1.1 7.1.1 8.1.1 9.1.1 10.1.1"));
        QCOMPARE(cam["lostProducts"].toArray().size(), 0);
        QCOMPARE(cam["lostBetweenTriggers"].toInt(), 2);
        QVERIFY2(!gap.out.contains("lost upstream: p"), qPrintable(gap.out));

        // Both opens refused: triggers due in the first 6 s get no frame;
        // the plug-in numbers the later ones from 1 again.
        const Run late = run(dir.path(), {"capture", kColour, "--products", "70", "--no-images", "--out", dir.filePath("late")},
                             "triggered", 120000, QString(), QStringLiteral("fail:MV_CC_OpenDevice:2"));
        QCOMPARE(late.exitCode, 5);
        rows = readCsv(dir.filePath("late/frames.csv"));
        QVERIFY(!rows.isEmpty());
        QVERIFY2(rows.first().product > 40 && rows.first().pluginProduct == 1, qPrintable(QString::number(rows.first().product)));
        const QJsonObject s = readJson(dir.filePath("late/summary.json"));
        QCOMPARE(s["cameras"].toArray().first().toObject()["triggersWithoutFrame"].toInt(), rows.first().product - 1);
        QVERIFY(s["cameras"].toArray().first().toObject()["cameraLosses"].toArray().first().toObject()["start"].isNull());
        QVERIFY2(late.out.contains(QStringLiteral("%1: camera did not open until").arg(kColour)), qPrintable(late.out));
        QCOMPARE(s["allowLoss"].toBool(), false);
    }

    void overwriteRemovesOnlyWhatTheRunWrote()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        QCOMPARE(run(dir.path(), {"capture", kColour, "--products", "2", "--out", out}).exitCode, 0);
        for (const char* own : {"mine.png", "notes.txt"}) {
            QFile f(out + "/" + own);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("the user's");
        }
        const Run r = run(dir.path(), {"capture", kColour, "--products", "1", "--out", out, "--overwrite"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFile::exists(out + "/mine.png"));
        QVERIFY(QFile::exists(out + "/notes.txt"));
        QCOMPARE(QDir(out).entryList({"ZQ*.png"}).size(), 1);

        // A picture named like a frame that frames.csv does not list is the
        // user's: the run stops rather than write over it.
        const QString own = out + "/" + kColour + "_p5_c1.png";
        QFile f(own);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("the user's");
        f.close();
        const Run refused = run(dir.path(), {"capture", kColour, "--products", "1", "--out", out, "--overwrite"});
        QCOMPARE(refused.exitCode, 3);
        QVERIFY2(refused.err.contains("does not list"), qPrintable(refused.err));
        QCOMPARE(QFileInfo(own).size(), 10);
        QVERIFY(QFile::exists(out + "/frames.csv"));
    }

    void secondCtrlCLeavesOnlyWholeFilesListed()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        QProcess p;
        startHost(p, dir.path(), {"capture", "--free-run", "60", "--out", out}, "shipped");
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readCsv(out + "/frames.csv").size() >= 20, 30000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        // The second once the first is taken (two at once arrive as one).
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("interrupted: writing"), 30000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        for (const Row& r : readCsv(out + "/frames.csv"))
            if (!r.file.isEmpty())
                QVERIFY2(pngHeader(out + "/" + r.file).width == r.width, qPrintable(r.file));
        for (const QString& png : QDir(out).entryList({"ZQ*.png"})) {
            QFile f(out + "/" + png);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(f.readAll().endsWith(QByteArray("IEND\xae\x42\x60\x82", 8)), qPrintable(png)); // whole, never cut
        }
    }

    void outputFoldersAreNeverShared()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        QVERIFY(run(dir.path(), {"capture", kColour, "--products", "2", "--out", out}).exitCode == 0);
        const Run again = run(dir.path(), {"capture", kColour, "--products", "1", "--out", out});
        QCOMPARE(again.exitCode, 3);
        QVERIFY2(again.err.contains("not empty"), qPrintable(again.err));
        const Run replaced = run(dir.path(), {"capture", kColour, "--products", "1", "--out", out, "--overwrite"});
        QCOMPARE(replaced.exitCode, 0);
        QCOMPARE(QDir(out).entryList({"ZQ*.png"}).size(), 1);

        // Two runs started together get folders of their own.
        QProcess a, b;
        for (QProcess* p : {&a, &b}) {
            p->setWorkingDirectory(dir.path());
            p->start(host_, {"capture", kColour, "--products", "1", "--no-images", "--plugins", plugins_});
        }
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        QCOMPARE(QDir(dir.filePath("capture-out")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
    }

    void unusableSettingsFolderStopsBeforeAnyCamera()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("notafolder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const Run r = run(dir.path(), {"capture", kColour, "--settings", dir.filePath("notafolder"), "--out", dir.filePath("o")});
        QCOMPARE(r.exitCode, 6);
        QCOMPARE(r.err.count("settings folder"), 1);
        QVERIFY(!QFile::exists(dir.filePath("o/frames.csv")));
    }

    void helpVersionAndValuesThatAreFlags()
    {
        QTemporaryDir dir;
        for (const QStringList& args : {QStringList{"capture", "--help"}, QStringList{"capture", "-h"}, QStringList{"help", "soak"}}) {
            const Run r = run(dir.path(), args);
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(r.out.contains("--rate"), qPrintable(r.out));
        }
        const Run v = run(dir.path(), {"--version"});
        QCOMPARE(v.exitCode, 0);
        QVERIFY(v.out.startsWith("lorvexhost 1.10"));
        QCOMPARE(run(dir.path(), {"capture", "--out", "--no-images"}).exitCode, 1);
        QVERIFY(!QFileInfo::exists(dir.filePath("--no-images")));
    }

    void quietByDefaultAndFeatureFileFound()
    {
        QTemporaryDir dir;
        const Run quiet = run(dir.path(), {"capture", kColour, "--products", "1", "--out", dir.filePath("a")}, "bare");
        QCOMPARE(quiet.exitCode, 0);
        QVERIFY2(!quiet.err.contains("CameraStart") && !quiet.err.contains("panel rows"), qPrintable(quiet.err));
        // Which panel rows reach the device: none is sent by this host, the
        // geometry is read back from it, the rest stays in the panel.
        const QJsonObject reach = readJson(dir.filePath("a/summary.json"))["cameras"].toArray().first().toObject()["panelRowsToDevice"].toObject();
        QVERIFY(reach["sentByThisRun"].toArray().isEmpty());
        QCOMPARE(reach["exposure"].toArray().size(), 1);
        QVERIFY(reach["readBackAtOpen"].toArray().size() >= 4 && reach["panelOnly"].toArray().size() >= 4);
        const Run loud = run(dir.path(), {"capture", kColour, "--products", "1", "--out", dir.filePath("b"), "--verbose"}, "bare");
        QVERIFY(loud.err.contains("CameraStart"));
        QVERIFY2(loud.err.contains(QStringLiteral("%1: panel rows to the device: read back from it at every open: 1, 2").arg(kColour)),
                 qPrintable(loud.err));
        QVERIFY2(!loud.err.contains("Lorvex.mfs"), qPrintable(loud.err)); // found beside the program
    }

    void settingsShowWhatTheCameraUses()
    {
        QTemporaryDir dir;
        QCOMPARE(run(dir.path(), {"capture", kColour, "--products", "1", "--out", dir.filePath("a")}).exitCode, 0);
        const QString path = dir.filePath(QStringLiteral("settings/%1.json").arg(kColour));
        QJsonObject json = readJson(path);
        QJsonArray items = json["paramsWrap"].toArray();
        QCOMPARE(items[3].toObject()["values"].toInt(), 2048); // the width read back, as panel --json shows
        QCOMPARE(items[4].toObject()["values"].toInt(), 1000);
        QJsonObject width = items[3].toObject();
        width["values"] = 100;
        items[3] = width;
        json["paramsWrap"] = items;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(json).toJson());
        f.close();
        const Run r = run(dir.path(), {"panel", kColour});
        QVERIFY2(r.err.contains("settings row 3 holds 100"), qPrintable(r.err));
        QVERIFY2(r.out.contains(QRegularExpression("\n +3 D ")), qPrintable(r.out)); // row number, read back from the device
        QVERIFY(r.out.contains(QRegularExpression("\n +14 ")));
        // Which rows reach the device: the exposure time, when a host selects it; gain and the rest never.
        QVERIFY2(r.out.contains(QRegularExpression("\n +12 E ")) && r.out.contains("the device never receives them"), qPrintable(r.out));

        // An exposure the camera holds as a float is the stored one, not a refusal.
        QJsonObject time = items[12].toObject();
        time["values"] = 0.02;
        items[12] = time;
        json["paramsWrap"] = items;
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(json).toJson());
        f.close();
        const Run again = run(dir.path(), {"panel", kColour});
        QVERIFY2(again.err.contains("settings row 3 holds 100") && !again.err.contains("row 12"), qPrintable(again.err));
    }

    void triggeredExampleNumbersFromTheTrigger()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        const QString triggered = qEnvironmentVariable("LORVEX_BIN_DIR") + "/../share/virtual-triggered";
        const Run r = run(dir.path(), {"capture", kColour, "--trigger-type", "32", "--products", "3", "--out", out,
                                       "--feature-dir", triggered}, "shipped");
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(numbers(readCsv(out + "/frames.csv")), QStringLiteral("1.1.1 2.1.1 3.1.1"));
    }
};

QTEST_GUILESS_MAIN(HostCli)
#include "tst_host_cli.moc"
