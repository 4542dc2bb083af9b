// The lock-rank check: locks taken in rank order pass, released in any order;
// a try is never refused; a blocking acquisition out of order aborts the
// process, naming both locks. The abort is watched from outside: this
// executable runs itself as a child that takes the locks out of order.
#include "lockrank.h"

#include <QProcess>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using namespace lorvex;

namespace {

// Set in the child's environment: "lock", "turn" or "same" names what it takes
// out of order while holding geometryMutex.
constexpr char kChildMode[] = "LORVEX_LOCKRANK_CHILD";

void outOfOrder(const QByteArray& mode)
{
#ifdef Q_OS_UNIX
    const rlimit noCore{0, 0};  // the abort is expected: no core file for it
    setrlimit(RLIMIT_CORE, &noCore);
#endif
    RankedMutex handle(LockRank::Handle, "handleMutex");
    RankedMutex panel(LockRank::Panel, "geometryMutex");
    RankedMutex otherPanel(LockRank::Panel, "panelMutex");  // another camera's
    RankedLocker geometry(panel);
    if (mode == "turn") {
        lockcheck::acquiring(LockRank::DeviceTurn, "deviceTurn");
    } else if (mode == "same") {
        RankedLocker other(otherPanel);
    } else {
        RankedLocker device(handle);
    }
}

} // namespace

class TestLockRank : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!lockcheck::enabled())
            QSKIP("this build has no lock check (configure with -DLORVEX_LOCK_CHECK=ON)");
    }

    // Each later blocking acquisition would abort if an earlier release or
    // try had left a stale entry behind.
    void inOrderAndTries()
    {
        QMutex cameraMutex;
        RankedMutex handle(LockRank::Handle, "handleMutex");
        RankedMutex panel(LockRank::Panel, "geometryMutex");
        RankedMutex format(LockRank::Format, "formatMutex");
        {
            HostLocker none(nullptr);  // records nothing: the real one follows
            HostLocker host(&cameraMutex);
            lockcheck::acquiring(LockRank::DeviceTurn, "deviceTurn");
            RankedLocker device(handle);
            RankedLocker geometry(panel);
            device.unlock();  // out of order
            RankedLocker frame(format);
        }
        RankedLocker device(handle);
        RankedLocker geometry(panel);
        device.unlock();
        QVERIFY(handle.tryLock());  // a try below a held lock
        handle.unlock();
        QVERIFY(handle.tryLockFor(std::chrono::milliseconds(10)));
        handle.unlock();
        geometry.unlock();
        device.relock();
    }

    void outOfOrderAborts_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("taken");
        QTest::newRow("lock") << QByteArray("lock") << QByteArray("Handle (20, handleMutex)");
        QTest::newRow("wait") << QByteArray("turn") << QByteArray("DeviceTurn (15, deviceTurn)");
        QTest::newRow("same rank") << QByteArray("same") << QByteArray("Panel (40, panelMutex)");
    }
    void outOfOrderAborts()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, taken);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildMode, QString::fromLatin1(mode));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(30000));
        const QByteArray err = child.readAllStandardError();
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(err.contains("lock order: taking " + taken + " while holding Panel (40, geometryMutex)"),
                 err.constData());
    }
};

int main(int argc, char** argv)
{
    const QByteArray mode = qgetenv(kChildMode);
    if (!mode.isEmpty()) {
        outOfOrder(mode);
        return 0;  // the check let it through: the parent sees a normal exit and fails
    }
    QCoreApplication app(argc, argv);
    TestLockRank test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lockrank.moc"
