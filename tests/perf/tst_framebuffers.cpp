// The frame path's recycled buffers and its cheap clock reads.
#include "clockreads.h"
#include "framebuffers.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Marks every byte of an image with the frame's number, as a copy would.
void stamp(cv::Mat& m, int frame)
{
    m.setTo(cv::Scalar::all(frame & 0xff));
}

bool carries(const cv::Mat& m, int frame)
{
    const uchar want = static_cast<uchar>(frame & 0xff);
    const uchar* p = m.data;
    const size_t n = m.total() * m.elemSize();
    for (size_t i = 0; i < n; ++i)
        if (p[i] != want)
            return false;
    return true;
}

// Sets TZ for the life of the object and puts the previous value back.
class ZoneScope
{
public:
    explicit ZoneScope(const QByteArray& zone)
    {
        if (const char* old = std::getenv("TZ"))
            previous = old, hadPrevious = true;
        if (zone.isEmpty())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope()
    {
        if (hadPrevious)
            qputenv("TZ", previous);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray previous;
    bool hadPrevious = false;
};

qint64 utc(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

class TestFrameBuffers : public QObject
{
    Q_OBJECT

private slots:
    // ---- the pool -----------------------------------------------------------

    void reusesOnlyBuffersNoOneElseHolds()
    {
        FrameBufferPool pool;
        cv::Mat first = pool.acquire(100, 200, CV_8UC1);
        const uchar* firstData = first.data;
        cv::Mat second = pool.acquire(100, 200, CV_8UC1);
        const uchar* secondData = second.data;
        QVERIFY(secondData != firstData);  // `first` is still held

        first.release();
        const cv::Mat third = pool.acquire(100, 200, CV_8UC1);
        QVERIFY(third.data == firstData);  // the only buffer no one holds
        second.release();
        const cv::Mat fourth = pool.acquire(100, 200, CV_8UC1);
        QVERIFY(fourth.data == secondData);
        QCOMPARE(pool.size(), size_t(2));
    }

    void aBufferHeldOnlyThroughARegionIsNotReused()
    {
        FrameBufferPool pool(4);
        cv::Mat image = pool.acquire(64, 64, CV_8UC1);
        const uchar* data = image.data;
        const cv::Mat corner = image(cv::Rect(0, 0, 8, 8));  // the host keeps a part
        image.release();
        for (int i = 0; i < 8; ++i) {
            const cv::Mat next = pool.acquire(64, 64, CV_8UC1);
            QVERIFY(next.data != data);
        }
    }

    void liveHostCopiesAreNeverOverwritten()
    {
        // The host's pattern: the last eight images kept, older ones dropped.
        FrameBufferPool pool;
        std::deque<std::pair<int, cv::Mat>> held;
        for (int frame = 0; frame < 200; ++frame) {
            cv::Mat image = pool.acquire(32, 48, CV_8UC3);
            stamp(image, frame);
            held.emplace_back(frame, image);
            if (held.size() > 8)
                held.pop_front();
            for (const auto& h : held)
                QVERIFY2(carries(h.second, h.first), qPrintable(QString("frame %1 overwritten").arg(h.first)));
        }
        QVERIFY(pool.size() <= 32);  // the default capacity
    }

    void releasesFromAnotherThreadNeverExposeALiveImage()
    {
        // Images handed to a host thread that checks and releases them in its
        // own time; a buffer written while still held shows up as a mismatch.
        FrameBufferPool pool;
        std::mutex mutex;
        std::deque<std::pair<int, cv::Mat>> queue;
        std::atomic<bool> done{false};
        std::atomic<int> corrupted{0};
        std::thread host([&] {
            std::deque<std::pair<int, cv::Mat>> held;
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    while (!queue.empty()) {
                        held.push_back(std::move(queue.front()));
                        queue.pop_front();
                    }
                }
                while (held.size() > 8) {
                    if (!carries(held.front().second, held.front().first))
                        ++corrupted;
                    held.pop_front();
                }
                if (done.load() && held.size() <= 8) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (queue.empty())
                        break;
                }
                std::this_thread::yield();
            }
            for (const auto& h : held)
                if (!carries(h.second, h.first))
                    ++corrupted;
        });
        for (int frame = 0; frame < 3000; ++frame) {
            cv::Mat image = pool.acquire(16, 256, CV_8UC1);
            stamp(image, frame);
            std::lock_guard<std::mutex> lock(mutex);
            queue.emplace_back(frame, std::move(image));
        }
        done.store(true);
        host.join();
        QCOMPARE(corrupted.load(), 0);
        QVERIFY(pool.size() <= 32);  // the default capacity
    }

    void aNewGeometryGetsAFreshBufferOfThatShape()
    {
        FrameBufferPool pool;
        for (int i = 0; i < 6; ++i)
            pool.acquire(100, 100, CV_8UC1);  // all released at once
        const cv::Mat held = pool.acquire(100, 100, CV_8UC1);

        // Same byte count, other shape; then another element type.
        const cv::Mat wide = pool.acquire(50, 200, CV_8UC1);
        QCOMPARE(wide.rows, 50);
        QCOMPARE(wide.cols, 200);
        QCOMPARE(wide.type(), CV_8UC1);
        QVERIFY(wide.data != held.data);
        QVERIFY(wide.isContinuous());
        // Buffers of the old shape are no longer kept, held or not.
        QCOMPARE(pool.size(), size_t(1));

        const cv::Mat colour = pool.acquire(50, 200, CV_8UC3);
        QCOMPARE(colour.type(), CV_8UC3);
        QCOMPARE(colour.step[0], size_t(600));
        QVERIFY(colour.data != wide.data);
    }

    void staysBoundedWhileTheHostHoldsMoreThanItsCapacity()
    {
        FrameBufferPool pool(16, 2, 8);
        std::vector<cv::Mat> held;
        for (int i = 0; i < 40; ++i) {
            held.push_back(pool.acquire(8, 8, CV_8UC1));
            QVERIFY(pool.size() <= 32);  // the default capacity
        }
        for (size_t i = 0; i < held.size(); ++i)
            for (size_t j = i + 1; j < held.size(); ++j)
                QVERIFY(held[i].data != held[j].data);

        // The host lets everything go: the surplus is given back within two
        // windows, down to the one handed out plus the spares.
        held.clear();
        for (int i = 0; i < 2 * 8 + 16; ++i)
            pool.acquire(8, 8, CV_8UC1);
        QVERIFY2(pool.size() <= 3, qPrintable(QString::number(pool.size())));
    }

    void lateReleasesInBurstsDoNotChurnBuffers()
    {
        // The host releases in bursts of twelve: right after a burst many
        // buffers are free, right before it many are held. Keeping only what
        // is free at one moment would free and allocate again every burst.
        FrameBufferPool pool(32, 2, 64);
        std::deque<cv::Mat> held;
        std::vector<const uchar*> seen;
        for (int frame = 0; frame < 2000; ++frame) {
            cv::Mat image = pool.acquire(16, 16, CV_8UC1);
            if (frame >= 200 && std::find(seen.begin(), seen.end(), image.data) == seen.end())
                QFAIL(qPrintable(QString("frame %1 got a new buffer").arg(frame)));
            if (std::find(seen.begin(), seen.end(), image.data) == seen.end())
                seen.push_back(image.data);
            held.push_back(image);
            if (held.size() == 8 + 12)
                held.erase(held.begin(), held.begin() + 12);
        }
        QVERIFY(pool.size() <= 8 + 12 + 2);
    }

    void clearLeavesHeldImagesValid()
    {
        FrameBufferPool pool;
        cv::Mat image = pool.acquire(4, 4, CV_8UC1);
        stamp(image, 7);
        pool.clear();
        QCOMPARE(pool.size(), size_t(0));
        QVERIFY(carries(image, 7));
        QCOMPARE(image.u->refcount, 1);  // the host's copy is now the only owner
    }

    // ---- the clock ----------------------------------------------------------

    void timeOfDayMatchesQtsCurrentTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("TZ unset") << QByteArray();
        QTest::newRow("UTC") << QByteArray("UTC");
        QTest::newRow("Berlin") << QByteArray("Europe/Berlin");
        QTest::newRow("Kolkata +5:30") << QByteArray("Asia/Kolkata");
        QTest::newRow("St Johns -3:30") << QByteArray("America/St_Johns");
        QTest::newRow("Chatham +12:45") << QByteArray("Pacific/Chatham");
    }

    void timeOfDayMatchesQtsCurrentTime()
    {
        QFETCH(QByteArray, zone);
        ZoneScope scope(zone);
        // Read between two reads of Qt's own: it must lie between them (a
        // wrong offset is off by at least 15 minutes).
        for (int i = 0; i < 2000; ++i) {
            const QTime before = QTime::currentTime();
            const QTime ours = lorvex::timeOfDay();
            const QTime after = QTime::currentTime();
            if (after < before)
                continue;  // midnight passed in between
            QVERIFY2(before <= ours && ours <= after,
                     qPrintable(before.toString("hh:mm:ss.zzz") + " " + ours.toString("hh:mm:ss.zzz") + " " +
                                after.toString("hh:mm:ss.zzz")));
        }
    }

    void timeOfDayAtMatchesQtAcrossZoneTransitions_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("transition");
        QTest::newRow("Berlin spring") << QByteArray("Europe/Berlin") << utc(2024, 3, 31, 1, 0);
        QTest::newRow("Berlin autumn") << QByteArray("Europe/Berlin") << utc(2024, 10, 27, 1, 0);
        QTest::newRow("St Johns spring") << QByteArray("America/St_Johns") << utc(2024, 3, 10, 5, 30);
        QTest::newRow("Lord Howe half hour") << QByteArray("Australia/Lord_Howe") << utc(2024, 4, 6, 15, 0);
        QTest::newRow("Chatham autumn") << QByteArray("Pacific/Chatham") << utc(2024, 4, 6, 14, 0);
        QTest::newRow("Kolkata midnight") << QByteArray("Asia/Kolkata") << utc(2024, 6, 1, 18, 30);
        QTest::newRow("UTC midnight") << QByteArray("UTC") << utc(2024, 6, 2, 0, 0);
    }

    void timeOfDayAtMatchesQtAcrossZoneTransitions()
    {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, transition);
        ZoneScope scope(zone);
        // Every 250 ms from two seconds before to two seconds after, then
        // the milliseconds right at the change.
        std::vector<qint64> instants;
        for (qint64 t = transition - 2000; t <= transition + 2000; t += 250)
            instants.push_back(t);
        for (qint64 t : {transition - 1, transition, transition + 1, transition + 999, transition + 1000})
            instants.push_back(t);
        for (qint64 t : instants) {
            const QDateTime qt = QDateTime::fromMSecsSinceEpoch(t);
            QCOMPARE(lorvex::timeOfDayAt(t), qt.time());
        }
    }

    void localDateTimeIsTheSameInstantAndWallTime_data()
    {
        timeOfDayAtMatchesQtAcrossZoneTransitions_data();
        QTest::newRow("device clock, TZ unset") << QByteArray() << qint64(1234);
        QTest::newRow("device clock, Berlin") << QByteArray("Europe/Berlin") << qint64(86399500);
    }

    void localDateTimeIsTheSameInstantAndWallTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, transition);
        ZoneScope scope(zone);
        for (qint64 t = transition - 1500; t <= transition + 1500; t += 100) {
            if (t < 0)
                continue;
            const QDateTime qt = QDateTime::fromMSecsSinceEpoch(t);
            const QDateTime ours = lorvex::localDateTime(t);
            QVERIFY(ours.isValid());
            QCOMPARE(ours, qt);
            QCOMPARE(ours.toMSecsSinceEpoch(), t);
            QCOMPARE(ours.date(), qt.date());
            QCOMPARE(ours.time(), qt.time());
            QCOMPARE(ours.offsetFromUtc(), qt.offsetFromUtc());
        }
    }

    void aChangedZoneIsSeenAtOnce()
    {
        const qint64 t = utc(2024, 7, 1, 12, 0);
        {
            ZoneScope scope("Asia/Kolkata");
            QCOMPARE(lorvex::timeOfDayAt(t), QTime(17, 30));
            QCOMPARE(lorvex::localDateTime(t).time(), QTime(17, 30));
        }
        {
            ZoneScope scope("America/St_Johns");  // the same second, another zone
            QCOMPARE(lorvex::timeOfDayAt(t), QTime(9, 30));
            QCOMPARE(lorvex::localDateTime(t).time(), QTime(9, 30));
        }
    }
};

QTEST_GUILESS_MAIN(TestFrameBuffers)
#include "tst_framebuffers.moc"
