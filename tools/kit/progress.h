// progress.h - one self-updating line on a terminal; nothing otherwise.
#ifndef LORVEXKIT_PROGRESS_H
#define LORVEXKIT_PROGRESS_H

#include <QMutex>
#include <QString>

class Progress
{
public:
    // Draws only when standard error is a terminal.
    Progress();
    bool active() const { return tty_; }

    // Redraws the bar: `done` of `total` (total 0: unknown), then `note`.
    void update(qint64 done, qint64 total, const QString& note);
    // Removes the bar so that other output starts on a clean line; any thread.
    void clearLine();
    // Ends the bar, leaving the last state visible.
    void finish();

private:
    bool tty_ = false;
    bool drawn_ = false;
    QMutex mutex_;
};

#endif
