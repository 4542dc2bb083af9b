// The host's parts that can go wrong without any camera: strict option
// parsing, settings files, log parsing, report rows and image conversion.
#include "accounting.h"
#include "camerarun.h"
#include "framewriter.h"
#include "logwatch.h"
#include "options.h"
#include "pluginwarnings.h"
#include "reports.h"
#include "settingsstore.h"
#include "soak.h"

#include <QDir>
#include <QJsonArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>

class HostParts : public QObject
{
    Q_OBJECT

private slots:
    void optionsRejectWhatTheyCannotHonour()
    {
        HostOptions o;
        QString e;
        QVERIFY(parseOptions({"capture", "--products", "3", "--captures-per-product=2", "A", "B"}, o, e));
        QCOMPARE(o.products, 3);
        QCOMPARE(o.captures, 2); // follows captures per product unless given
        QCOMPARE(o.serials, (QStringList{"A", "B"}));
        QVERIFY(!parseOptions({"capture", "--products", "3x"}, o, e));
        QVERIFY(e.contains("--products"));
        QVERIFY(!parseOptions({"capture", "--products", "0"}, o, e));
        QVERIFY(!parseOptions({"capture", "--trigger-type", "6"}, o, e)); // not a single bit
        QVERIFY(!parseOptions({"capture", "--rate"}, o, e));              // value missing
        QVERIFY(!parseOptions({"capture", "--sync=1"}, o, e));            // a switch takes no value
        QVERIFY(!parseOptions({"list", "--products", "3"}, o, e));        // not a list flag
        QVERIFY(!parseOptions({"list", "SERIAL"}, o, e));
        QVERIFY(!parseOptions({"panel", "A", "B"}, o, e));
        QVERIFY(parseOptions({"soak", "--cycles", "2", "--seed", "5"}, o, e));
        QCOMPARE(o.seed, 5u);
        QVERIFY(!parseOptions({"capture", "--image-format", "jpeg"}, o, e)); // lossy: not a recording
        QVERIFY(e.contains("png, tiff or pnm"));
        QVERIFY(!parseOptions({"capture", "--queue-memory", "8"}, o, e));    // below its lower limit
    }

    void continuityWarningsAreRead()
    {
        int cam = -1;
        qint64 frames = -1, packets = -1;
        QVERIFY(parseContinuityWarning("Camera 1 SDK with product 5 cycle 1 last frame 36 current frame 52 width 4096 "
                                       "height 1000 lost packets 3", cam, frames, packets));
        QCOMPARE(cam, 1);
        QCOMPARE(frames, 16);
        QCOMPARE(packets, 3);
        // A device that restarted its count lost nothing.
        QVERIFY(parseContinuityWarning("Camera 0 SDK with product 0 cycle 1 last frame 90 current frame 1 width 8 "
                                       "height 8 lost packets 0", cam, frames, packets));
        QCOMPARE(frames, 0);
        QVERIFY(!parseContinuityWarning("Camera 0 SDK with FrameCounter 3 TriggerIndex 4", cam, frames, packets));
    }

    void numberingSuccessor()
    {
        QCOMPARE(nextNumbers({4, 1}, 1).product, 5);
        const ProductCapture a = nextNumbers({4, 1}, 3);
        QCOMPARE(a.product, 4);
        QCOMPARE(a.capture, 2);
        const ProductCapture b = nextNumbers({4, 3}, 3);
        QCOMPARE(b.product, 5);
        QCOMPARE(b.capture, 1);
    }

    void settingsFilesAreCheckedAndKeptSafe()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("s"));
        QCOMPARE(store.read("CAM1").state, StoredSettings::State::Missing);

        // A serial number cannot lead the file out of the folder.
        const QString odd = store.pathFor("../../etc/x");
        QCOMPARE(QFileInfo(odd).absolutePath(), QDir(dir.filePath("s")).absolutePath());

        QString e;
        QJsonObject json{{"paramsWrap", QJsonArray{QJsonObject{{"isRunningShow", false}}}}};
        QVERIFY(store.write("CAM1", json, e));
        const StoredSettings ok = store.read("CAM1");
        QCOMPARE(ok.state, StoredSettings::State::Loaded);
        QCOMPARE(ok.json, json);

        auto writeRaw = [&](const QByteArray& text) {
            QFile f(store.pathFor("CAM1"));
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(text);
        };
        for (const QByteArray& bad : {QByteArray("{\"paramsWrap\": ["), QByteArray("[1, 2]"), QByteArray("{\"other\": 1}"),
                                      QByteArray("{\"paramsWrap\": 3}")}) {
            writeRaw(bad);
            const StoredSettings s = store.read("CAM1");
            QCOMPARE(s.state, StoredSettings::State::Invalid);
            QVERIFY2(s.problem.startsWith(store.pathFor("CAM1")), qPrintable(s.problem));
        }
        const QString aside = store.setAside("CAM1");
        QVERIFY(QFile::exists(aside));
        QCOMPARE(store.read("CAM1").state, StoredSettings::State::Missing);
    }

    void csvRowsQuoteTextAndComputeLatency()
    {
        FrameRecord r;
        r.camera = "A,\"B\"";
        r.product = 3;
        r.capture = 2;
        r.productInCycle = 1;
        r.receiveTimeMs = 1000;
        r.hostTimeMs = 1012;
        r.width = 8;
        r.height = 4;
        r.channels = 3;
        r.file = "x.png";
        QCOMPARE(FrameCsv::row(r), QStringLiteral("\"A,\"\"B\"\"\",0,3,2,1,0,1000,12,8,4,3,0,0,plug-in,\"x.png\""));
        QCOMPARE(FrameCsv::header().split(',').size(), FrameCsv::row(FrameRecord()).split(',').size());
    }

    void colourImagesAreWrittenInTheirTrueColours()
    {
        // Delivered images are red-green-blue; a file must show red as red.
        QTemporaryDir dir;
        cv::Mat rgb(4, 6, CV_8UC3, cv::Scalar(255, 0, 0)); // pure red in RGB order
        FrameWriter w(dir.path(), true, 1, 10);
        const QString name = w.submit(rgb, "cam_p1_c1", "cam p1 c1", "1");
        w.finish();
        const cv::Mat back = cv::imread(QDir(dir.path()).filePath(name).toStdString(), cv::IMREAD_COLOR); // BGR
        QCOMPARE(back.rows, 4);
        QCOMPARE(back.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));
        QCOMPARE(w.written(), 1);
        QVERIFY(w.errors().isEmpty());
    }

    void sameNumbersNeverOverwriteAnImage()
    {
        QTemporaryDir dir;
        FrameWriter w(dir.path(), true, 1, 10);
        cv::Mat mono(3, 5, CV_8UC1, cv::Scalar(7));
        QCOMPARE(w.submit(mono, "c_p1_c1", "a", "1"), QStringLiteral("c_p1_c1.png"));
        QCOMPARE(w.submit(mono, "c_p1_c1", "b", "1"), QStringLiteral("c_p1_c1_2.png"));
        QCOMPARE(w.submit(mono, "c_p1_c1", "c", "1"), QStringLiteral("c_p1_c1_3.png"));
        w.finish();
        QCOMPARE(QDir(dir.path()).entryList({"*.png"}).size(), 3);
        QCOMPARE(w.thumbnails().size(), 3);
    }

    void failedWritesAreReportedNotCounted()
    {
        QTemporaryDir dir;
        FrameWriter w(dir.filePath("missing-folder"), true, 1, 0);
        w.submit(cv::Mat(2, 2, CV_8UC1, cv::Scalar(0)), "x", "x", "x");
        w.finish();
        QCOMPARE(w.written(), 0);
        QCOMPARE(w.errors().size(), 1);
    }

    void contactSheetGrid()
    {
        QTemporaryDir dir;
        QVector<Thumbnail> t(5);
        for (int i = 0; i < t.size(); ++i) {
            t[i].label = QStringLiteral("p%1").arg(i);
            t[i].image = cv::Mat(40 + i, FrameWriter::kThumbWidth, CV_8UC3, cv::Scalar(i * 40, 0, 0));
        }
        QString e;
        const QString path = dir.filePath("sheet.png");
        QVERIFY(writeContactSheet(path, t, e, 4));
        const cv::Mat sheet = cv::imread(path.toStdString());
        QCOMPARE(sheet.cols, 6 + 4 * (FrameWriter::kThumbWidth + 6));
        QCOMPARE(sheet.rows, 6 + 2 * (44 + 18 + 6)); // two rows, the tallest thumbnail sets the cell
        QVERIFY(!writeContactSheet(path, {}, e));
    }

    void contactSheetCaptionsSitUnderTheirOwnImage()
    {
        // A short thumbnail beside a tall one, then a frame not written.
        QVector<Thumbnail> t(3);
        t[0].image = cv::Mat(30, FrameWriter::kThumbWidth, CV_8UC3, cv::Scalar(0, 0, 0));
        t[1].image = cv::Mat(120, FrameWriter::kThumbWidth, CV_8UC3, cv::Scalar(0, 0, 0));
        t[2].placeholderRows = 30;
        for (Thumbnail& th : t)
            th.label = "ZQ p1 c1";
        QTemporaryDir dir;
        QString e;
        const QString path = dir.filePath("sheet.png");
        QVERIFY(writeContactSheet(path, t, e, 3));
        const cv::Mat sheet = cv::imread(path.toStdString(), cv::IMREAD_GRAYSCALE);
        const int gap = 6, x = gap;
        auto brightRows = [&](int col, int from, int to) {
            cv::Mat band = sheet(cv::Rect(col, gap + from, FrameWriter::kThumbWidth, to - from));
            double hi = 0;
            cv::minMaxLoc(band, nullptr, &hi);
            return hi > 200;
        };
        QVERIFY(brightRows(x, 30, 30 + 18));   // the short image's caption, right under it
        QVERIFY(!brightRows(x, 30 + 18, 120)); // and nothing further down its cell
        const int third = x + 2 * (FrameWriter::kThumbWidth + gap);
        QVERIFY(sheet.at<uchar>(gap + 15, third + FrameWriter::kThumbWidth / 2) != 48); // the placeholder is drawn
        QVERIFY(brightRows(third, 30, 30 + 18));
    }

    void lossesArePlacedAndLaterFramesCountAsMisnumbered()
    {
        // Six frames asked for in products of two; the SDK lost the frames of
        // p2 c1 and p2 c2, and the plug-in, which counts frames, numbered the
        // two that followed as product 2.
        logwatch::reset();
        qInstallMessageHandler(nullptr);
        logwatch::install(false);
        qWarning("Camera 3 SDK with product 2 cycle 1 last frame 3 current frame 5 width 8 height 8 lost packets 0");
        FrameAccounting a;
        a.setSchedule(ProductSchedule(2, 1), true);
        a.addTriggered(6);
        for (const FrameNumbers& n : {FrameNumbers{1, 1, 1}, FrameNumbers{1, 2, 1}, FrameNumbers{2, 1, 1}, FrameNumbers{2, 2, 1}}) {
            const LossBefore loss = LogWatch::installed()->takeLossBefore(3, n.product, n.capture);
            a.frameReceived(n, loss.frames);
        }
        QCOMPARE(a.delivered(), 4);
        QCOMPARE(a.lostUpstream(), 2);
        QCOMPARE(a.dropped(), 0);
        QCOMPARE(a.misnumbered(), 2);
        QCOMPARE(a.lostFrames().size(), 2);
        QCOMPARE(a.lostFrames()[0].product, 2);
        QCOMPARE(a.lostFrames()[1].capture, 2);
        QVERIFY(!a.clean());
        QVERIFY2(a.lossText().contains("p2 c1, p2 c2"), qPrintable(a.lossText()));
        QCOMPARE(LogWatch::installed()->takeUnmatchedLoss(3), 0);

        // A record whose frame never came cannot be placed, and says so.
        qWarning("Camera 3 SDK with product 9 cycle 1 last frame 9 current frame 11 width 8 height 8 lost packets 0");
        a.lostWithoutFrame(LogWatch::installed()->takeUnmatchedLoss(3), false);
        QVERIFY(!a.lossesPlaced());
        QVERIFY(a.lossText().contains("unknown"));

        // A frame that arrived with packets missing is delivered, but damaged.
        FrameAccounting b;
        b.frameReceived({1, 1, 1}, 0, true, 3);
        QCOMPARE(b.damaged(), 1);
        QVERIFY(!b.clean());
    }

    // A triggered camera: each frame against the trigger it answers, as the
    // plug-in's trigger warning names it; a reopen restarts the count.
    void framesAreCheckedAgainstTheirTrigger()
    {
        FrameAccounting a;
        a.setSchedule(ProductSchedule(1, 1), true);
        a.checkByTrigger();
        for (int i = 0; i < 5; ++i)
            a.triggerSent();
        QVERIFY(a.frameReceived({1, 1, 1}));            // trigger 1, no warning
        QVERIFY(a.frameReceived({2, 1, 1}, 0, true, 0, 4)); // "FrameCounter 2 TriggerIndex 4"
        QCOMPARE(a.lastName().product, 4);                   // named after its trigger, not the plug-in's 2
        QCOMPARE(a.triggersAwaited(), 1);
        QCOMPARE(a.misnumbered(), 1);
        QVERIFY(a.firstMismatch().contains("trigger 4 asked for (4, 1, 1)"));
        a.triggerNotSent();                                 // p6: the camera was lost
        a.deviceReopened();                                 // p5 never answered
        a.triggerSent();                                    // p7 is the device's trigger 1 again
        QVERIFY(a.frameReceived({3, 1, 1}));
        QVERIFY(!a.frameReceived({4, 1, 1}, 0, true, 0, 9)); // answers no trigger of the run
        QVERIFY(a.lastUnplaced());                           // kept under a name of its own
        QVERIFY(a.countsText().contains("1 unplaced"));
        a.runEnded(0);
        QCOMPARE(a.delivered(), 3);
        QCOMPARE(a.outsideRun(), 1);
        QCOMPARE(a.withoutFrame(), 4);                      // p2, p3, p5, p6
        QCOMPARE(a.dropped(), 4);
        QCOMPARE(a.misnumbered(), 2);
        QVERIFY2(a.lossText().contains("no frame for the triggers of: p2, p3, p5, p6"), qPrintable(a.lossText()));

        // The plug-in's other records as it writes them.
        pluginwarnings::TriggerDropped d;
        QVERIFY(pluginwarnings::parseTriggerDropped("Camera 2 software trigger for product 7 capture 1 dropped: the device is busy", d));
        QCOMPARE(d.camera, 2);
        QCOMPARE(d.product, 7);
        QVERIFY(pluginwarnings::isCycleTimeout("Camera 0 cycle capture timeout with product 1 cycle 2"));
        QVERIFY(!pluginwarnings::isCycleTimeout("Camera 0 SDK with FrameCounter 3 TriggerIndex 4"));
    }

    void replacedRowsSayWhoReplacedThem()
    {
        auto panel = [](int a, int b) {
            return QJsonObject{{"paramsWrap", QJsonArray{QJsonObject{{"values", a}}, QJsonObject{{"values", b}}}}};
        };
        const QStringList m = replacedRows(panel(100, 500), panel(2048, 20), {0});
        QCOMPARE(m.size(), 2);
        QVERIFY2(m[0].startsWith("settings row 0 holds 100, but the camera uses 2048 (read back from the device"), qPrintable(m[0]));
        QVERIFY2(m[1].contains("row 1 holds 500") && !m[1].contains("device"), qPrintable(m[1]));
        // The camera holds a float: 0.02 reads back as 0.019999999552965164, the same setting.
        auto times = [](double t) { return QJsonObject{{"paramsWrap", QJsonArray{QJsonObject{{"values", t}}}}}; };
        QVERIFY(replacedRows(times(0.02), times(double(0.02f)), {}).isEmpty());
        QCOMPARE(replacedRows(times(0.02), times(double(0.03f)), {}).size(), 1);
        QCOMPARE(replacedRows(panel(16777217, 0), panel(16777216, 0), {}).size(), 1); // whole numbers stay exact
    }

    // Lists of products say where they stop and never skip a range in the
    // middle, whatever order the places were noted in.
    void productListsHideNoRange()
    {
        PlaceRanges r;
        for (int o : {0, 1, 2, 3, 9, 5, 4, 20, 22})
            r.add(o);
        r.add(2);
        QCOMPARE(r.count(), 9);
        const ProductSchedule one;
        QCOMPARE(r.text(one, 10), QStringLiteral("p1-p6, p10, p21, p23"));
        QCOMPARE(r.text(one, 2), QStringLiteral("p1-p6, p10 and 2 more from p21 on"));
        QCOMPARE(r.text(ProductSchedule(2), 10), QStringLiteral("p1 c1-p3 c2, p5 c2, p11 c1, p12 c1"));
        QCOMPARE(r.names(one, 3), (QStringList{"p1 c1", "p2 c1", "p3 c1"}));
    }

    // A camera loss closes at the reconnect and estimates the frames it cost.
    void lossIntervalsFailTheRun()
    {
        FrameAccounting a;
        a.cameraLost(1000);
        a.cameraBack(3000);
        a.cameraLost(5000);
        a.runEnded(5500);
        QCOMPARE(a.losses(), 2);
        QVERIFY(!a.clean());
        QJsonObject j;
        a.writeJson(j);
        const QJsonArray losses = j["cameraLosses"].toArray();
        QCOMPARE(losses.size(), 2);
        QCOMPARE(losses[0].toObject()["reconnected"].toBool(), true);
        QCOMPARE(losses[1].toObject()["reconnected"].toBool(), false);
        QVERIFY(losses[0].toObject()["framesMissed"].isNull()); // no frame before it: the rate is unknown

        // A camera that never opened was never lost at any time.
        FrameAccounting never;
        never.cameraNotOpened();
        never.runEnded(5500);
        never.writeJson(j);
        QVERIFY(j["cameraLosses"].toArray()[0].toObject()["start"].isNull());
        QCOMPARE(never.lossText(), QStringLiteral("camera never opened during the run"));
    }

    // A loss is heard a heartbeat time-out after the camera went silent: it
    // counts from the last frame, and a second one not from before the first
    // ended.
    void lossCountsFromTheLastFrame()
    {
        FrameAccounting a;
        for (int i = 0; i < 11; ++i) { // 10 frames/s from 1000 to 2000 ms
            a.setDeliveryTime(1000 + 100 * i);
            a.frameReceived({1, i + 1, 0});
        }
        a.cameraLost(7500);
        a.cameraBack(12000);
        a.cameraLost(20000);
        a.runEnded(21000);
        QJsonObject j;
        a.writeJson(j);
        const QJsonArray losses = j["cameraLosses"].toArray();
        QCOMPARE(losses.size(), 2);
        const QJsonObject first = losses[0].toObject();
        QCOMPARE(first["start"].toString(), QDateTime::fromMSecsSinceEpoch(2000).toString(Qt::ISODateWithMs));
        QCOMPARE(first["heard"].toString(), QDateTime::fromMSecsSinceEpoch(7500).toString(Qt::ISODateWithMs));
        QCOMPARE(first["framesMissed"].toInt(), 100); // 10 s at 10 frames/s, not the 4.5 s after it was heard
        QCOMPARE(losses[1].toObject()["start"].toString(),
                 QDateTime::fromMSecsSinceEpoch(12000).toString(Qt::ISODateWithMs));
    }

    void writerNeverWaitsForTheDisk()
    {
        QTemporaryDir dir;
        FrameWriterOptions o;
        o.folder = dir.path();
        o.pngCompression = 9;
        o.encoders = 1;
        const cv::Mat big(2000, 2000, CV_8UC1, cv::Scalar(3));
        o.budgetBytes = static_cast<qint64>(big.total()); // one image at a time
        o.thumbnailLimit = 20;
        FrameWriter w(o);
        QStringList names;
        for (int i = 0; i < 20; ++i)
            names << w.submit(big, QStringLiteral("f%1").arg(i), "", "");
        QVERIFY(w.refused() > 0);
        QCOMPARE(names.count(QString()), w.refused());
        w.finish();
        QCOMPARE(w.written(), names.size() - w.refused());
        for (const QString& n : names)
            if (!n.isEmpty())
                QCOMPARE(w.state(n), FrameWriter::State::Written);
        // Every image keeps its place on the contact sheet, the refused ones as placeholders.
        const QVector<Thumbnail> sheet = w.thumbnails();
        QCOMPARE(sheet.size(), 20);
        QCOMPARE(int(std::count_if(sheet.begin(), sheet.end(), [](const Thumbnail& t) { return t.image.empty(); })), w.refused());
        QCOMPARE(w.peakImages(), 1);
    }
};

QTEST_GUILESS_MAIN(HostParts)
#include "tst_host_parts.moc"
