// framewriter.h - writes received images as PNG files off the main thread.
#ifndef LORVEXKIT_FRAMEWRITER_H
#define LORVEXKIT_FRAMEWRITER_H

#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QVector>

#include <opencv2/core.hpp>

// A small copy of one image for the contact sheet, with its label.
struct Thumbnail
{
    int order = 0;   // submission order
    QString sortKey; // camera, product, capture: the sheet's order
    QString label;
    cv::Mat image;   // 8-bit, three channels, blue-green-red
};

// The images of a run go through a pool of its own (Qt's global pool serves
// the plug-in's reconnect tasks and must not be crowded). At most
// `maxInFlight` images wait or are being written. submit() never waits: when
// the disk is slower than the cameras, the image is left unwritten and
// counted, so reception and the run's clock never depend on the disk.
// Each PNG is written under a temporary name and renamed when whole, so a
// file with the final name is always complete.
class FrameWriter
{
public:
    FrameWriter(const QString& folder, bool savePng, int pngCompression, int thumbnailLimit,
                int maxInFlight = kDefaultInFlight);
    ~FrameWriter();

    // Queues one image (CV_8UC1, or CV_8UC3 in red-green-blue order). Returns
    // the file name it will get: `baseName`.png, or with a suffix "_2", "_3",
    // ... when that name was already used in this run; empty when the queue
    // is full and the image is left unwritten (counted by refused()).
    QString submit(const cv::Mat& image, const QString& baseName, const QString& label, const QString& sortKey);

    // Where the image of a name that submit() returned stands.
    // Abandoned: still queued when finish() gave up waiting; not an error.
    enum class State { Pending, Started, Written, Failed, Abandoned };
    State state(const QString& name) const;

    // Waits until every queued image is written; with `withinMs` >= 0, images
    // not started by then are abandoned (counted by abandoned()) so that the
    // end of a timed run does not wait for the disk.
    void finish(int withinMs = -1);
    int abandoned() const;

    int written() const;
    // Images not queued because the queue was full.
    int refused() const { return refused_; }
    QStringList errors() const;
    QVector<Thumbnail> thumbnails() const;

    // The width of contact-sheet thumbnails.
    static constexpr int kThumbWidth = 256;
    // Enough to ride out a burst of line-scan images (about 128 MB of them).
    static constexpr int kDefaultInFlight = 32;

private:
    void work(cv::Mat image, QString path, QString name, QString label, QString sortKey, int order);

    QString folder_;
    bool savePng_;
    int compression_;
    int thumbnailLimit_;
    QThreadPool pool_;
    QSemaphore slots_;
    int submitted_ = 0;  // submit() runs on one thread only: the receiving one
    int refused_ = 0;

    // Guarded by mutex_; written by the workers, read by the receiving thread.
    mutable QMutex mutex_;
    QHash<QString, State> states_;
    int written_ = 0;
    int abandoned_ = 0;
    QStringList errors_;
    QVector<Thumbnail> thumbs_;
};

// Converts an image as delivered (mono, or red-green-blue) to what
// cv::imwrite expects (mono, or blue-green-red).
cv::Mat toWritable(const cv::Mat& delivered);

#endif
