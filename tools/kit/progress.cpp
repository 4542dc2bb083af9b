// progress.cpp
#include "progress.h"

#include <cstdio>
#include <unistd.h>

Progress::Progress() : tty_(isatty(STDERR_FILENO) == 1) {}

void Progress::update(qint64 done, qint64 total, const QString& note)
{
    if (!tty_)
        return;
    constexpr int kWidth = 30;
    QString bar;
    if (total > 0) {
        const int filled = static_cast<int>(qBound<qint64>(0, done * kWidth / total, kWidth));
        bar = QStringLiteral("[%1%2] %3/%4").arg(QString(filled, '#'), QString(kWidth - filled, '.')).arg(done).arg(total);
    } else {
        bar = QStringLiteral("[%1 frames]").arg(done);
    }
    QMutexLocker lock(&mutex_);
    std::fprintf(stderr, "\r\033[K%s %s", bar.toLocal8Bit().constData(), note.toLocal8Bit().constData());
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::clearLine()
{
    if (!tty_)
        return;
    QMutexLocker lock(&mutex_);
    if (drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }
}

void Progress::finish()
{
    if (!tty_)
        return;
    QMutexLocker lock(&mutex_);
    if (drawn_) {
        std::fprintf(stderr, "\n");
        std::fflush(stderr);
        drawn_ = false;
    }
}
