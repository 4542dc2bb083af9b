// writebehind.cpp
#include "writebehind.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool writeAll(int fd, const char* p, size_t len, int& err)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

WriteBehind::~WriteBehind()
{
    QStringList ignored;
    drain(ignored);
}

bool WriteBehind::write(const QString& path, const QByteArray& head, const void* data, size_t len, QString& error,
                        QStringList& late)
{
    const QByteArray part = QFile::encodeName(path + QStringLiteral(".part"));
    const int fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = QStringLiteral("%1: could not be written: %2").arg(path, reason(errno));
        return false;
    }
    int err = 0;
    if (!writeAll(fd, head.constData(), static_cast<size_t>(head.size()), err)
        || !writeAll(fd, static_cast<const char*>(data), len, err)
        || std::rename(part.constData(), QFile::encodeName(path).constData()) != 0) {
        if (err == 0)
            err = errno;
        ::close(fd);
        ::unlink(part.constData());
        error = QStringLiteral("%1: could not be written: %2").arg(path, reason(err));
        return false;
    }
#ifdef __linux__
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); // the write-back starts now, without waiting
#endif
    std::vector<Unsynced> due;
    {
        QMutexLocker lock(&mutex_);
        unsynced_.push_back({fd, static_cast<qint64>(head.size()) + static_cast<qint64>(len), path});
        unsyncedBytes_ += unsynced_.back().bytes;
        while ((unsyncedBytes_ > kBehindBytes || size_t(unsynced_.size()) > kMaxBehindFiles) && unsynced_.size() > 1) {
            due.push_back(unsynced_.front());
            unsyncedBytes_ -= unsynced_.front().bytes;
            unsynced_.pop_front();
        }
    }
    for (const Unsynced& f : due) // outside the lock: other writers go on meanwhile
        sync(f, late);
    return true;
}

int WriteBehind::drain(QStringList& late)
{
    std::deque<Unsynced> all;
    {
        QMutexLocker lock(&mutex_);
        all.swap(unsynced_);
        unsyncedBytes_ = 0;
    }
    for (const Unsynced& f : all)
        sync(f, late);
    return static_cast<int>(all.size());
}

void WriteBehind::sync(const Unsynced& f, QStringList& late)
{
    if (::fdatasync(f.fd) != 0)
        late << QStringLiteral("%1: did not reach the disk: %2").arg(f.path, reason(errno));
    ::close(f.fd);
}
