// capture.cpp - the main job: trigger, receive, write, and say plainly
// whether every frame is there and numbered right.
#include "commands.h"

#include "camerarun.h"
#include "eventwait.h"
#include "framewriter.h"
#include "interrupt.h"
#include "logwatch.h"
#include "panelprint.h"
#include "progress.h"
#include "reports.h"
#include "settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QMap>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <deque>
#include <memory>

namespace {

// After the cameras are closed: time to take in the frames they handed over.
constexpr int kTakeInMs = 30;
constexpr int kWatchMs = 20;
// A timed run's end waits for queued images until this long after its clock.
constexpr int kEndBudgetMs = 300;
// A timed run of triggered cameras waits this long at most (and no longer
// than --timeout) for the frames of the triggers sent before its clock ran out.
constexpr qint64 kLastFramesMs = 1000;
// When the run compares the rate images are written at with the cameras':
// long enough that the page cache no longer flatters the disk.
constexpr qint64 kAssessMs = 2000;
// Below this share of the delivered rate the writing does not keep up.
constexpr double kKeepsUp = 0.95;
constexpr double kMB = 1e6;
constexpr int kRawWriters = 2;

// A received frame's report row, held until its image is on disk (or known
// not to be), so that frames.csv never names a file that does not exist.
struct PendingRow
{
    FrameRecord record;
    int slot = 0;
    qint64 trigger = -1; // an unplaced frame's trigger, as the plug-in named it
};

class Capture
{
public:
    explicit Capture(const HostOptions& o) : o_(o), freeRun_(o.freeRunSeconds > 0),
        perCamera_(freeRun_ ? 0 : o.products * o.captures) {}

    int run()
    {
        int rc = openEverything();
        if (rc != kExitOk)
            return rc;
        announceModes();
        planAccounting();
        receive();
        triggerAndWait();
        finishReception();
        writeReports();
        return verdict();
    }

private:
    int openEverything()
    {
        int rc = prepareRun(o_, QStringLiteral("capture-out"), QStringLiteral("nothing was captured"), out_, scan_);
        if (rc != kExitOk)
            return rc;
        const qint64 free = o_.noImages ? -1 : diskFreeBytes(out_);
        if (o_.minFreeMiB > 0 && free >= 0 && free < (qint64(o_.minFreeMiB) << 20)) {
            say(QStringLiteral("error: %1 has %2 MiB free, less than the --min-free reserve of %3 MiB; nothing was captured")
                    .arg(QDir(out_).absolutePath()).arg(free >> 20).arg(o_.minFreeMiB));
            releaseOutputFolder(o_, QStringLiteral("capture-out"), out_);
            return kExitOutput;
        }
        if ((rc = openCameras(o_, scan_, QStringLiteral("error: no camera to capture from"), run_, unknown_)) != kExitOk) {
            releaseOutputFolder(o_, QStringLiteral("capture-out"), out_);
            return rc;
        }
        QString error;
        if (!csv_.open(QDir(out_).filePath(QStringLiteral("frames.csv")), error)) {
            say(QStringLiteral("error: %1").arg(error));
            return kExitOutput;
        }
        writer_ = std::make_unique<FrameWriter>(writerOptions());
        notePanelReach();
        return kExitOk;
    }

    // Which panel rows reach each camera and when: this host sends none of
    // them (it selects no exposure configuration), so a stored gain or gamma
    // the images do not show is explained in the summary, and with --verbose.
    void notePanelReach()
    {
        for (const RunCamera& c : run_.cameras()) {
            if (!c.cam)
                continue;
            const QVector<ParamWrap*>* items = c.cam->getParamItems();
            const QJsonObject reach = panelReach(describePanel(items ? *items : QVector<ParamWrap*>(), deviceOwnedValues(c.cam),
                                                               exposureValues(c.cam)), false);
            panelReach_[c.index] = reach;
            if (o_.verbose)
                say(QStringLiteral("%1: %2").arg(c.serial, panelReachText(reach)));
        }
    }

    // Encoders take the cores the cameras leave (each camera's delivery
    // keeps one busy), at least one; the queue rides out the difference.
    // Raw images cost no encoding: their writers mostly wait for the disk,
    // so there are at least two, one writing while the other waits.
    FrameWriterOptions writerOptions() const
    {
        int cameras = 0;
        for (const RunCamera& c : run_.cameras())
            cameras += c.opened ? 1 : 0;
        FrameWriterOptions w;
        w.folder = out_;
        w.saveImages = !o_.noImages;
        w.format = o_.imageFormat == QLatin1String("pnm")    ? ImageFormat::Pnm
                   : o_.imageFormat == QLatin1String("tiff") ? ImageFormat::Tiff
                                                             : ImageFormat::Png;
        w.pngCompression = o_.pngCompression;
        w.thumbnailLimit = o_.sheetLimit;
        w.budgetBytes = static_cast<qint64>(o_.queueMemoryMiB) << 20;
        w.encoders = std::max(w.format == ImageFormat::Pnm ? kRawWriters : 1, QThread::idealThreadCount() - cameras);
        w.minFreeBytes = qint64(o_.minFreeMiB) << 20;
        return w;
    }

    void announceModes()
    {
        for (const RunCamera& c : run_.cameras()) {
            if (!c.opened)
                continue;
            if (c.continuous)
                say(QStringLiteral("%1: the device runs without triggers (its trigger mode is off); frames are counted as they come")
                        .arg(c.serial));
            else if (!triggertypes::firesBySoftware(o_.triggerType))
                say(QStringLiteral("%1: trigger type %2 is not fired by software; waiting for external triggers")
                        .arg(c.serial).arg(o_.triggerType));
        }
    }

    // Which numbers each frame must carry, where the settings fix them.
    void planAccounting()
    {
        CameraTrigParams trig;
        fillTrigParams(o_, trig);
        for (RunCamera& c : run_.cameras()) {
            const NumberingRule rule = numberingRule(trig, c.continuous, o_.captures);
            c.accounting.setSchedule(rule.schedule, rule.checked);
            c.accounting.setExpected(perCamera_);
            if (firedBySoftware(c))
                c.accounting.checkByTrigger(); // each frame against the trigger it answers
            // Frames asked for by software triggers are counted as they are
            // sent; the others are asked for all at once.
            else if (!freeRun_)
                c.accounting.addTriggered(perCamera_);
        }
    }

    bool firedBySoftware(const RunCamera& c) const
    {
        return !c.continuous && triggertypes::firesBySoftware(o_.triggerType);
    }

    void receive()
    {
        logwatch::setBeforeForward([this] { progress_.clearLine(); });
        run_.onFrame = [this](RunCamera& c, const ImageProcessData& d) { takeFrame(c, d); };
        run_.onLoss = [](RunCamera& c) { say(QStringLiteral("%1: camera lost").arg(c.serial)); };
        run_.onReconnect = [](RunCamera& c) { say(QStringLiteral("%1: camera reconnected").arg(c.serial)); };
    }

    void takeFrame(RunCamera& c, const ImageProcessData& d)
    {
        if (d.productId <= 0) {
            ++c.preview; // a frame taken while not running: not part of the run
            return;
        }
        const qint64 trigger = c.host->triggerOfFrame();
        c.accounting.setDeliveryTime(d.receiveTime);
        // The records of the watch that named this frame's trigger.
        LogWatch* log = c.host->logWatch();
        const LossBefore loss = log ? log->takeLossBefore(c.index, d.productId, d.cycleCapture) : LossBefore();
        if (!c.accounting.frameReceived({d.productId, d.cycleCapture, d.cycleProduct}, loss.frames, true, loss.packets,
                                        trigger)) {
            // Not the run's: a frame past its length is counted apart; one
            // whose trigger the run cannot place is kept under its own name.
            if (c.accounting.lastUnplaced())
                keepUnplaced(c, d, trigger);
            return;
        }
        ++c.received;
        ++received_;
        receivedBytes_ += static_cast<qint64>(d.image.total() * d.image.elemSize());
        // Named after the trigger it answers where that is known, so that a
        // file never holds another product's frame; the plug-in's numbers
        // stay in their own columns.
        const FrameNumbers name = c.accounting.lastName();
        PendingRow p = rowFor(c, d, name.product, name.capture,
                              c.accounting.lastNamedByTrigger() ? QStringLiteral("trigger") : QStringLiteral("plug-in"));
        const bool refused = queueRow(std::move(p), d.image, QStringLiteral("%1_p%2_c%3").arg(c.serial).arg(name.product).arg(name.capture),
                                      QStringLiteral("%1 p%2 c%3").arg(c.serial).arg(name.product).arg(name.capture),
                                      QStringLiteral("%1|%2|%3").arg(c.serial).arg(name.product, 10, 10, QChar('0'))
                                          .arg(name.capture, 10, 10, QChar('0')));
        if (refused)
            c.accounting.imageNotWritten();
    }

    // Hands the row's image to the writing queue and queues the row behind
    // it. True when the writer refused the image (the queue's memory was
    // spent, or the disk's reserve reached): it will not be written.
    bool queueRow(PendingRow p, const cv::Mat& image, const QString& baseName, const QString& label, const QString& sortKey)
    {
        bool refused = false;
        if (!image.empty()) {
            p.record.file = writer_->submit(image, baseName, label, sortKey);
            refused = p.record.file.isEmpty() && !o_.noImages;
        }
        rows_.push_back(p);
        flushRows();
        return refused;
    }

    // The report row of a received frame, its file still to be written.
    PendingRow rowFor(const RunCamera& c, const ImageProcessData& d, int product, int capture, const QString& namedBy) const
    {
        PendingRow p;
        p.slot = static_cast<int>(&c - run_.cameras().data());
        FrameRecord& r = p.record;
        r.camera = c.serial;
        r.cameraIndex = c.index;
        r.product = product;
        r.capture = capture;
        r.productInCycle = d.cycleProduct;
        r.pluginProduct = d.productId;
        r.pluginCapture = d.cycleCapture;
        r.namedBy = namedBy;
        r.deviceTimeMs = d.captureTime.isValid() ? d.captureTime.toMSecsSinceEpoch() : 0;
        r.receiveTimeMs = d.receiveTime;
        r.hostTimeMs = QDateTime::currentMSecsSinceEpoch();
        r.width = d.image.cols;
        r.height = d.image.rows;
        r.channels = d.image.channels();
        return p;
    }

    // A frame that answers no trigger of the run: which product it shows
    // cannot be told, so it is written as SERIAL_unplaced_N (product 0 in
    // frames.csv, the plug-in's numbers beside it) and listed apart. Its
    // image is not the run's: one the queue could not take fails nothing.
    void keepUnplaced(RunCamera& c, const ImageProcessData& d, qint64 trigger)
    {
        const int n = ++unplacedCount_[c.index];
        PendingRow p = rowFor(c, d, 0, 0, QStringLiteral("unplaced"));
        p.trigger = trigger;
        queueRow(p, d.image, QStringLiteral("%1_unplaced_%2").arg(c.serial).arg(n),
                 QStringLiteral("%1 UNPLACED %2 (plug-in p%3)").arg(c.serial).arg(n).arg(d.productId),
                 QStringLiteral("%1|unplaced|%2").arg(c.serial).arg(n, 10, 10, QChar('0')));
    }

    // Appends the rows whose images are settled, in the order received.
    void flushRows()
    {
        while (!rows_.empty()) {
            PendingRow& p = rows_.front();
            const bool unplaced = p.record.namedBy == QLatin1String("unplaced");
            if (!p.record.file.isEmpty()) {
                const FrameWriter::State st = writer_->state(p.record.file);
                if (st == FrameWriter::State::Pending || st == FrameWriter::State::Started)
                    return;
                if (st != FrameWriter::State::Written) {
                    p.record.file.clear();
                    if (!unplaced)
                        run_.cameras()[p.slot].accounting.imageNotWritten();
                }
            }
            if (!!o_.noImages)
                p.record.file.clear();
            if (unplaced)
                noteUnplaced(p);
            csv_.append(p.record);
            rows_.pop_front();
        }
    }

    // summary.json's and the console's list of the frames kept unplaced.
    void noteUnplaced(const PendingRow& p)
    {
        QJsonObject u;
        u["file"] = p.record.file;
        u["pluginProduct"] = p.record.pluginProduct;
        u["pluginCapture"] = p.record.pluginCapture;
        u["trigger"] = p.trigger > 0 ? QJsonValue(p.trigger) : QJsonValue();
        unplacedList_[p.record.cameraIndex].append(u);
    }

    // Every frame of the run is in or known never to come: a camera fired
    // by software has had all its triggers, and each was answered, passed
    // over by a later one's frame, or lost with the camera.
    bool complete() const
    {
        if (freeRun_)
            return false;
        for (const RunCamera& c : run_.cameras()) {
            if (firedBySoftware(c)) {
                if (c.accounting.triggered() < perCamera_ || (!c.lost() && c.accounting.triggersAwaited() > 0))
                    return false;
            } else if (c.accounting.delivered() + c.accounting.lostUpstream() < perCamera_) {
                return false;
            }
        }
        return true;
    }

    // One (product, capture) per tick on every camera waiting for triggers.
    void fireNext(QTimer& ticker)
    {
        if ((!freeRun_ && nextTrigger_ >= perCamera_) || (freeRun_ && clock_.elapsed() >= deadline_)) {
            ticker.stop();
            return;
        }
        const FrameNumbers n = ProductSchedule(o_.captures).at(nextTrigger_++);
        QVector<RunCamera>& cams = run_.cameras();
        for (int i = 0; i < cams.size(); ++i) {
            if (!firedBySoftware(cams[i]))
                continue;
            if (run_.trigger(i, n.product, n.capture))
                cams[i].accounting.triggerSent();
            else
                cams[i].accounting.triggerNotSent(); // the camera is lost: this product gets no frame
        }
        // After the last trigger, missing frames get --timeout to arrive.
        if (!freeRun_ && nextTrigger_ >= perCamera_)
            deadline_ = std::min(deadline_, clock_.elapsed() + static_cast<qint64>(o_.timeoutSeconds * 1000));
    }

    // False once the run is over: Ctrl-C, every frame accounted for, or time.
    bool keepGoing()
    {
        flushRows();
        if (interrupt::requested()) {
            interrupted_ = true;
            return false;
        }
        if (writer_->outOfSpace()) {
            say(QStringLiteral("error: %1 had %2 MiB free, the --min-free reserve is %3 MiB: recording stopped after %4 "
                               "frame(s) received; the images queued are still written")
                    .arg(QDir(out_).absolutePath()).arg(writer_->freeAtStop() >> 20).arg(o_.minFreeMiB).arg(received_));
            return false;
        }
        if (complete())
            return false;
        if (!assessed_ && clock_.elapsed() >= kAssessMs)
            assessWriting();
        if (clock_.elapsed() >= deadline_) {
            // A timed run takes in the frames of the triggers it sent in time.
            if (!freeRun_ || awaitedFrames() == 0
                || clock_.elapsed() >= deadline_ + std::min<qint64>(kLastFramesMs, qint64(o_.timeoutSeconds * 1000)))
                return false;
        }
        progress_.update(received_, freeRun_ ? 0 : perCamera_ * run_.cameras().size(),
                         freeRun_ ? QStringLiteral("%1 s").arg(clock_.elapsed() / 1000) : QString());
        return true;
    }

    // Said once, early in the run: when the images are written slower than
    // the cameras deliver them, how long the queue can make up the difference.
    void assessWriting()
    {
        assessed_ = true;
        deliveredRate_ = receivedBytes_ * 1000.0 / double(clock_.elapsed());
        writtenRate_ = writer_->byteRate();
        if (o_.noImages || writer_->queuedImages() == 0 || writtenRate_ >= kKeepsUp * deliveredRate_)
            return;
        // A queue that has not written anything yet is not measured: it holds for less than it took so far.
        const double fills = writtenRate_ > 0 ? writer_->budgetBytes() / (deliveredRate_ - writtenRate_) : 0.0;
        progress_.clearLine();
        say(QStringLiteral("warning: the cameras deliver %1 MB/s; %2 images are written at about %3 MB/s here (over the "
                           "first %4 s): the %5 MiB writing queue fills after about %6 s, and frames after that are not "
                           "written%7")
                .arg(deliveredRate_ / kMB, 0, 'f', 0).arg(o_.imageFormat).arg(writtenRate_ / kMB, 0, 'f', 0)
                .arg(kAssessMs / 1000).arg(o_.queueMemoryMiB).arg(fills, 0, 'f', 1)
                .arg(o_.imageFormat != QLatin1String("pnm") ? QStringLiteral(" (--image-format pnm costs no encoding)")
                                                            : QString()));
    }

    qint64 awaitedFrames() const
    {
        qint64 n = 0;
        for (const RunCamera& c : run_.cameras())
            n += c.lost() ? 0 : c.accounting.triggersAwaited();
        return n;
    }

    void triggerAndWait()
    {
        // A camera that did not open yet is still the run's: the triggers due
        // while it is away are counted without a frame, the later ones fire.
        bool anyTriggered = false;
        for (const RunCamera& c : run_.cameras())
            anyTriggered = anyTriggered || firedBySoftware(c);
        started_ = QDateTime::currentDateTime();
        run_.setRunning(true, perCamera_);
        clock_.start();
        deadline_ = freeRun_ ? static_cast<qint64>(o_.freeRunSeconds * 1000)
                             : static_cast<qint64>((perCamera_ / o_.rate + o_.timeoutSeconds) * 1000);

        QEventLoop loop;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(std::max(1, static_cast<int>(std::lround(1000.0 / o_.rate))));
        QObject::connect(&ticker, &QTimer::timeout, [&] { fireNext(ticker); });
        QTimer watch;
        watch.setInterval(kWatchMs);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!keepGoing())
                loop.quit();
        });
        if (anyTriggered)
            ticker.start();
        watch.start();
        loop.exec();
    }

    // Stops numbering, closes the cameras, takes in what was already on its
    // way and waits for the images in the writing queue.
    void finishReception()
    {
        QElapsedTimer sinceEnd;
        sinceEnd.start();
        run_.setRunning(false);
        // Frames handed over before the close wait in this thread's queue;
        // the connections stay usable for them until they are taken in.
        run_.close();
        runEventsFor(kTakeInMs);
        progress_.update(received_, freeRun_ ? 0 : perCamera_ * run_.cameras().size(),
                         interrupted_ ? QStringLiteral("interrupted") : QStringLiteral("done"));
        progress_.finish();
        logwatch::setBeforeForward(nullptr);
        // The queue may hold many images: the wait for them is announced.
        const int queued = writer_->queuedImages();
        if (interrupted_)
            say(QStringLiteral("interrupted: writing the %1 image(s) received and not yet written; Ctrl-C again ends at once "
                               "and leaves them unwritten").arg(queued));
        else if (!freeRun_ && queued > 0)
            say(QStringLiteral("writing the %1 image(s) still queued").arg(queued));
        // A timed run ends on time: what the disk has not started by then is
        // left unwritten (and counted), never waited for.
        writer_->finish(freeRun_ && !interrupted_ ? std::max<int>(0, kEndBudgetMs - static_cast<int>(sinceEnd.elapsed())) : -1);
        flushRows();
        csv_.close();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (RunCamera& c : run_.cameras()) {
            LogWatch* log = c.host ? c.host->logWatch() : nullptr;
            const qint64 unmatched = log ? log->takeUnmatchedLoss(c.index) : 0;
            if (unmatched > 0)
                c.accounting.lostWithoutFrame(unmatched, false);
            if (freeRun_ && !firedBySoftware(c))
                c.accounting.addTriggered(c.accounting.delivered() + c.accounting.lostUpstream());
            else if (interrupted_ && !firedBySoftware(c))
                c.accounting.askedForWhatCame(); // Ctrl-C ended the asking: what was not made yet is not dropped
            c.accounting.runEnded(now, freeRun_);
        }
    }

    QJsonObject cameraJson(const RunCamera& c, const LogCounts& logs) const
    {
        const ContinuityCounts cc = logs.continuity.value(c.index);
        QJsonObject j;
        j["serial"] = c.serial;
        j["cameraIndex"] = c.index;
        j["opened"] = c.opened;
        j["mode"] = !c.opened ? "not opened" : c.continuous ? "runs without triggers" : "triggered";
        if (!freeRun_)
            j["expected"] = perCamera_;
        c.accounting.writeJson(j);
        j["unplacedFrames"] = unplacedList_.value(c.index);
        j["panelRowsToDevice"] = panelReach_.value(c.index);
        j["previewFramesIgnored"] = c.preview;
        j["lostFramesInLog"] = cc.lostFrames;
        j["lostPacketsInLog"] = cc.lostPackets;
        j["continuityWarnings"] = cc.warnings;
        j["losses"] = c.losses;
        j["reconnects"] = c.reconnects;
        j["stateAtEnd"] = stateKey(c.stateAtClose);
        return j;
    }

    void writeReports()
    {
        const QString sheetPath = QDir(out_).filePath(QStringLiteral("contact-sheet.png"));
        sheet_ = writeContactSheet(sheetPath, writer_->thumbnails(), sheetError_);

        const LogCounts logs = logwatch::snapshot();
        QJsonArray camArray;
        qint64 delivered = 0, dropped = 0, lost = 0, notWritten = 0, misnumbered = 0, outside = 0, withoutFrame = 0,
               incomplete = 0, unplaced = 0;
        int reconnects = 0, losses = 0;
        for (const RunCamera& c : run_.cameras()) {
            camArray.append(cameraJson(c, logs));
            delivered += c.accounting.delivered();
            dropped += c.accounting.dropped();
            lost += c.accounting.lostUpstream();
            notWritten += c.accounting.notWritten();
            misnumbered += c.accounting.misnumbered();
            reconnects += c.reconnects;
            losses += c.accounting.losses();
            outside += c.accounting.outsideRun();
            unplaced += c.accounting.unplaced();
            withoutFrame += c.accounting.withoutFrame();
            incomplete += c.accounting.incompleteProducts();
            clean_ = clean_ && c.accounting.clean();
        }
        QJsonObject t;
        t["triggerType"] = o_.triggerType;
        t["capturesPerProduct"] = o_.capturesPerProduct;
        t["productsPerCycle"] = o_.productsPerCycle;
        t["cycleTimeout"] = o_.cycleTimeout;
        t["syncProductId"] = o_.sync ? 1 : 0;
        QJsonObject s;
        s["started"] = started_.toString(Qt::ISODateWithMs);
        s["finished"] = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
        s["interrupted"] = interrupted_;
        s["allowLoss"] = o_.allowLoss;
        s["trigger"] = t;
        if (freeRun_)
            s["freeRunSeconds"] = o_.freeRunSeconds;
        else {
            s["products"] = o_.products;
            s["captures"] = o_.captures;
            s["rate"] = o_.rate;
        }
        s["cameras"] = camArray;
        s["delivered"] = delivered;
        s["dropped"] = dropped;
        s["lostUpstream"] = lost;
        s["notWritten"] = notWritten;
        s["numberingMismatches"] = misnumbered;
        s["complete"] = clean_;
        qint64 lostInLog = 0;
        for (const ContinuityCounts& cc : logs.continuity)
            lostInLog += cc.lostFrames;
        s["lostFramesInLog"] = lostInLog;
        s["reconnects"] = reconnects;
        s["cameraLosses"] = losses;
        s["framesOutsideRun"] = outside;
        s["framesUnplaced"] = unplaced;
        s["triggersWithoutFrame"] = withoutFrame;
        s["productsIncomplete"] = incomplete;
        s["triggerWarningsInLog"] = logs.triggerWarnings;
        s["cycleTimeoutsInLog"] = logs.cycleTimeouts;
        s["warningsInLog"] = logs.warnings;
        s["criticalsInLog"] = logs.criticals;
        s["featureFileFailuresInLog"] = logs.featureFileFailures;
        s["imagesWritten"] = writer_->written();
        s["writing"] = writingJson();
        s["writeErrors"] = QJsonArray::fromStringList(writer_->errors());
        s["settingsFolder"] = QDir(o_.settingsDir).absolutePath();
        s["contactSheet"] = sheet_ ? QStringLiteral("contact-sheet.png") : QString();
        summaryPath_ = QDir(out_).filePath(QStringLiteral("summary.json"));
        QString error;
        if (!writeJsonFile(summaryPath_, s, error))
            say(QStringLiteral("error: %1").arg(error));
        for (const QString& e : writer_->errors())
            say(QStringLiteral("error: %1").arg(e));
        delivered_ = delivered;
    }

    QJsonObject writingJson() const
    {
        QJsonObject w;
        w["format"] = o_.noImages ? QStringLiteral("none") : o_.imageFormat;
        w["encoders"] = writer_->encoders();
        w["queueBudgetMiB"] = o_.queueMemoryMiB;
        w["queuePeakImages"] = writer_->peakImages();
        w["queuePeakMiB"] = std::round(writer_->peakBytes() * 10.0 / (1 << 20)) / 10.0;
        w["imagesPerSecond"] = std::round(writer_->writeRate() * 10.0) / 10.0;
        w["notQueuedQueueFull"] = queueFullRefusals();
        w["megabytesPerSecond"] = std::round(writer_->byteRate() / kMB * 10.0) / 10.0;
        w["minFreeMiB"] = o_.minFreeMiB;
        w["stoppedForDiskSpace"] = writer_->outOfSpace();
        if (assessed_) { // the rates the run measured early on
            w["earlyDeliveredMBPerSecond"] = std::round(deliveredRate_ / kMB * 10.0) / 10.0;
            w["earlyWrittenMBPerSecond"] = std::round(writtenRate_ / kMB * 10.0) / 10.0;
        }
        return w;
    }

    int verdict()
    {
        QTextStream os(stdout);
        const QString abs = QDir(out_).absolutePath();
        os << QStringLiteral("pictures:      %1/\n").arg(abs);
        os << QStringLiteral("report:        %1\n").arg(QDir(abs).filePath(QStringLiteral("frames.csv")));
        os << QStringLiteral("summary:       %1\n").arg(QDir(abs).filePath(QStringLiteral("summary.json")));
        if (sheet_)
            os << QStringLiteral("contact sheet: %1\n").arg(QDir(abs).filePath(QStringLiteral("contact-sheet.png")));
        if (!o_.noImages)
            os << QStringLiteral("written:       %1 images, %2 a second; queue peak %3 images, %4 of %5 MiB\n")
                      .arg(writer_->written()).arg(writer_->writeRate(), 0, 'f', 1).arg(writer_->peakImages())
                      .arg(writer_->peakBytes() / double(1 << 20), 0, 'f', 1).arg(o_.queueMemoryMiB);
        os.flush();
        if (const int queueFull = queueFullRefusals(); queueFull > 0)
            say(QStringLiteral("%1 image(s) not written: the writing queue was full (--queue-memory %2 MiB); the disk or the "
                               "encoders fell behind the cameras. Raise --queue-memory, or write faster with "
                               "--image-format pnm or a lower --png-compression")
                    .arg(queueFull).arg(o_.queueMemoryMiB));
        if (!sheet_)
            say(QStringLiteral("no contact sheet: %1").arg(sheetError_));
        // The last lines: every camera's counts, then the verdict.
        for (const RunCamera& c : run_.cameras()) {
            os << QStringLiteral("%1: %2\n").arg(c.serial, c.accounting.countsText());
            // Every line names its camera: with several, none is left to guess.
            const QString where = c.accounting.lossText();
            for (const QString& line : where.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                os << QStringLiteral("%1: %2\n").arg(c.serial, line);
            const QJsonArray unplaced = unplacedList_.value(c.index);
            if (!unplaced.isEmpty())
                os << QStringLiteral("%1: %2\n").arg(c.serial, unplacedText(unplaced));
            if (c.accounting.misnumbered() > 0)
                os << QStringLiteral("%1: numbering disagrees with the trigger settings: %2\n").arg(c.serial, c.accounting.firstMismatch());
        }
        os << QStringLiteral("%1 frames from %2 camera(s)%3%4\n").arg(delivered_).arg(run_.cameras().size())
                  .arg(freeRun_ ? QString() : QStringLiteral(" (%1 expected)").arg(perCamera_ * run_.cameras().size()))
                  .arg(clean_ ? QStringLiteral(", all accounted for") : QStringLiteral(", NOT all accounted for"));
        os.flush();
        if (interrupted_)
            return kExitInterrupted;
        if (!writer_->errors().isEmpty() || writer_->outOfSpace())
            return kExitOutput;
        if (unknown_ > 0)
            say(QStringLiteral("note: %1 requested serial number(s) were not attached").arg(unknown_));
        if (!clean_) {
            say(QStringLiteral("%1: a camera was lost, products were left incomplete, or frames were lost, dropped, left "
                               "unwritten or misnumbered (see %2)")
                    .arg(o_.allowLoss ? QStringLiteral("warning") : QStringLiteral("error"), summaryPath_));
            return o_.allowLoss ? kExitOk : kExitIncomplete;
        }
        return kExitOk;
    }

    // Images the full writing queue refused; those refused for the disk's
    // reserve are told by the stop for disk space, not as a full queue.
    int queueFullRefusals() const { return o_.noImages ? 0 : writer_->refusedQueueFull(); }

    // "unplaced (answering no trigger of the run): F (plug-in p3 c1, trigger 9), ..."
    static QString unplacedText(const QJsonArray& list)
    {
        constexpr int kListed = 10;
        QStringList items;
        for (int i = 0; i < list.size() && i < kListed; ++i) {
            const QJsonObject u = list[i].toObject();
            const QString trigger = u["trigger"].isNull() ? QString() : QStringLiteral(", trigger %1").arg(u["trigger"].toInt());
            items << QStringLiteral("%1(plug-in p%2 c%3%4)")
                         .arg(u["file"].toString().isEmpty() ? QString() : u["file"].toString() + QLatin1Char(' '))
                         .arg(u["pluginProduct"].toInt()).arg(u["pluginCapture"].toInt()).arg(trigger);
        }
        if (list.size() > kListed)
            items << QStringLiteral("and %1 more (summary.json)").arg(list.size() - kListed);
        return QStringLiteral("unplaced, answering no trigger of the run (no product's): %1").arg(items.join(QStringLiteral(", ")));
    }

    const HostOptions& o_;
    const bool freeRun_;
    const int perCamera_;
    QString out_;
    PluginScan scan_;
    CameraRun run_;
    int unknown_ = 0;
    FrameCsv csv_;
    std::unique_ptr<FrameWriter> writer_;
    Progress progress_;
    std::deque<PendingRow> rows_;
    qint64 received_ = 0;
    qint64 receivedBytes_ = 0;
    bool assessed_ = false;
    double deliveredRate_ = 0; // bytes a second, at the assessment
    double writtenRate_ = 0;
    qint64 delivered_ = 0;
    QMap<int, int> unplacedCount_;        // by camera index: frames kept unplaced so far
    QMap<int, QJsonArray> unplacedList_;  // by camera index: their files and the plug-in's numbers
    QMap<int, QJsonObject> panelReach_;   // by camera index: which panel rows reach the device
    int nextTrigger_ = 0;
    QElapsedTimer clock_;
    qint64 deadline_ = 0;      // on clock_, in milliseconds
    QDateTime started_;
    bool interrupted_ = false;
    bool clean_ = true;
    bool sheet_ = false;
    QString sheetError_;
    QString summaryPath_;
};

} // namespace

int runCapture(const HostOptions& o)
{
    return Capture(o).run();
}
