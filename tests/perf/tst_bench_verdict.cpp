// The benchmarks' verdict, fed with block values recorded on this machine:
// one slow block does not decide, goals whose case did not run are not
// judged, and nothing judged is never called met.
#include "../../bench/common/verdict.h"

#include <QtTest>

class TestBenchVerdict : public QObject
{
    Q_OBJECT
private slots:
    void medianOfBlocksDecides()
    {
        // bench_sdk_delivery's chart ratio: the five blocks of one run
        // recorded on this machine (load average 7), and the same run with
        // one block pushed over the budget, as a neighbour's burst does.
        const verdict::Goal chart{"chart", 1.5, {1.30, 1.18, 1.16, 1.22, 1.45}};
        QVERIFY(chart.met());
        QCOMPARE(chart.value(), 1.22);
        const verdict::Goal burst{"chart", 1.5, {1.30, 1.18, 1.62, 1.22, 1.45}};
        QVERIFY(burst.met());
        // Most blocks over the budget: not met.
        const verdict::Goal slow{"chart", 1.5, {1.61, 1.58, 1.22, 1.70, 1.55}};
        QVERIFY(!slow.met());
        QCOMPARE(verdict::median({1.0, 3.0}), 2.0);
    }

    void onlyCasesThatRanAreJudged()
    {
        // --benchmark_filter=tiny: the large cases did not run.
        std::vector<verdict::Goal> goals{{"mono ratio", 1.10, {}},
                                         {"fixed cost median", 5.0, {3.9, 4.1, 4.0}},
                                         {"peak memory growth", 5.0, {}}};
        QCOMPARE(QString(goals[0].text()), QStringLiteral("not run"));
        QCOMPARE(verdict::overall(goals), verdict::Overall::Met);
        QCOMPARE(verdict::exitStatus(verdict::overall(goals)), 0);
        goals[1].blocks = {5.6, 5.8, 4.2};
        QCOMPARE(verdict::overall(goals), verdict::Overall::NotMet);
        QCOMPARE(verdict::exitStatus(verdict::overall(goals)), 2);
        // Nothing ran: no goal is called met.
        const std::vector<verdict::Goal> none{{"mono ratio", 1.10, {}}};
        QCOMPARE(verdict::overall(none), verdict::Overall::NothingRan);
        QVERIFY(QString(verdict::overallText(verdict::overall(none))).contains("no goal judged"));
    }

    void samplesSplitIntoBlocks()
    {
        // Per-frame times of three rounds of four frames, as bench_framepath takes them.
        const std::vector<double> times{1, 1, 1, 9, 2, 2, 2, 2, 3, 3, 3, 3};
        const std::vector<double> medians = verdict::perBlock(times.size(), 3, [&](size_t from, size_t to) {
            return verdict::median({times.begin() + long(from), times.begin() + long(to)});
        });
        QCOMPARE(medians, (std::vector<double>{1, 2, 3}));
        QVERIFY(verdict::perBlock(0, 3, [](size_t, size_t) { return 0.0; }).empty());
    }
};

QTEST_GUILESS_MAIN(TestBenchVerdict)
#include "tst_bench_verdict.moc"
