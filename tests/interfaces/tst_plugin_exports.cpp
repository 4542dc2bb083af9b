// The built module's dynamic symbol table defines the two plug-in entry points
// and nothing else: any further export (Qt's inline code, the camera class,
// helper functions) could bind to, or be bound by, another library in the
// host's process.
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "pluginfile.h"

class PluginExportsTest : public QObject
{
    Q_OBJECT

private slots:
    void definesExactlyTheTwoEntryPoints()
    {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
        QSKIP("The check reads an ELF dynamic symbol table");
#endif
        const QString path = pluginFilePath();
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        const QString nm = QStandardPaths::findExecutable(QStringLiteral("nm"));
        if (nm.isEmpty())
            QSKIP("nm is not installed");

        QProcess process;
        process.start(nm, {QStringLiteral("-D"), QStringLiteral("--defined-only"), path});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());

        // Lines read "<address> <type> <name>[@version]".
        QStringList names;
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 3)
                continue;
            names << QString::fromLatin1(fields.last().split('@').first());
        }
        names.sort();
        QCOMPARE(names, QStringList({QStringLiteral("qt_plugin_instance"),
                                     QStringLiteral("qt_plugin_query_metadata")}));
    }
};

QTEST_GUILESS_MAIN(PluginExportsTest)
#include "tst_plugin_exports.moc"
