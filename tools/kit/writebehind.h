// writebehind.h - writes image files at the disk's own pace.
#ifndef LORVEXKIT_WRITEBEHIND_H
#define LORVEXKIT_WRITEBEHIND_H

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <deque>

// Each file is written under a temporary name and renamed when whole, so a
// file with the final name is always complete. A file is not synced on its
// own (that would leave the disk idle between files): its write-back starts
// at once, and the writer waits for it only once more than kBehindBytes were
// written after it. The page cache thus never holds more than that of the
// run's images, the rate a writer reaches is the disk's sustained rate, not
// the cache's, and the end of a run waits for a few files only.
//
// Threads: write() on any number of threads at once, drain() on any; mutex_
// guards the list of files not yet synced.
class WriteBehind
{
public:
    static constexpr qint64 kBehindBytes = qint64(64) << 20;
    // Each file waiting for its write-back keeps its descriptor open: small
    // (compressed) files must not run the process out of descriptors.
    static constexpr size_t kMaxBehindFiles = 256;

    ~WriteBehind();

    // Writes `head` then `len` bytes at `data` to `path`. False with the
    // reason in `error` when the file could not be written whole; a file
    // already renamed that then fails to reach the disk is reported by a
    // later call (or drain()) in `late`.
    bool write(const QString& path, const QByteArray& head, const void* data, size_t len, QString& error,
               QStringList& late);
    // Waits until every file written is on the disk; returns how many it waited for.
    int drain(QStringList& late);

private:
    struct Unsynced
    {
        int fd = -1;
        qint64 bytes = 0;
        QString path;
    };
    static void sync(const Unsynced& f, QStringList& late);

    QMutex mutex_;
    std::deque<Unsynced> unsynced_; // oldest first
    qint64 unsyncedBytes_ = 0;
};

#endif
