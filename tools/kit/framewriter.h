// framewriter.h - writes received images off the receiving thread.
#ifndef LORVEXKIT_FRAMEWRITER_H
#define LORVEXKIT_FRAMEWRITER_H

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QVector>

#include <opencv2/core.hpp>

#include "writebehind.h"

// A small copy of one image for the contact sheet, with its label. An image
// that was not written has a placeholder: an empty `image` and the height its
// thumbnail would have had.
struct Thumbnail
{
    int order = 0;   // submission order
    QString sortKey; // camera, product, capture: the sheet's order
    QString label;
    cv::Mat image;   // 8-bit, three channels, blue-green-red; empty: not written
    int placeholderRows = 0;
};

// How the images of a run are written.
enum class ImageFormat {
    Png, // compressed, `pngCompression` sets the effort; run-length matching,
         // which is faster than the general one and smaller on noisy pictures
    Pnm, // uncompressed PGM (mono) or PPM (colour): the pixels behind a short header
    Tiff, // LZW-compressed TIFF: about twice PNG's speed on noisy pictures, files a
          // quarter larger
};

struct FrameWriterOptions
{
    QString folder;
    bool saveImages = true;
    ImageFormat format = ImageFormat::Png;
    int pngCompression = 1;
    int thumbnailLimit = 0;
    // Most image bytes queued or being written at once.
    qint64 budgetBytes = qint64(2048) << 20;
    // Encoding threads while the cameras run; finish() uses every core.
    int encoders = 2;
    // Free space the images must leave on the folder's disk; 0: not checked.
    qint64 minFreeBytes = 0;
};

// Bytes free for this user on the disk that holds `folder`, or -1 when it
// cannot be told. LORVEX_FREE_SPACE_MIB set to N pretends the disk had N MiB
// free before this process wrote any image (for tests of a nearly full
// disk); the images written use it up.
qint64 diskFreeBytes(const QString& folder);

// The images of a run go through a pool of its own (Qt's global pool serves
// the plug-in's reconnect tasks and must not be crowded). Queued images may
// take at most the memory budget: the queue is what lets a burst of frames
// faster than the encoders reach the disk whole. submit() never waits: when
// the budget is spent, the image is left unwritten and counted, so reception
// and the run's clock never depend on the disk.
// Files are written as WriteBehind says: whole under their final name, and
// at the disk's sustained pace.
// With a free-space reserve, an image that would leave less than it free
// (counting the images queued before it) is not queued; from then on the
// writer takes no more (outOfSpace()), so that a run stops rather than fill
// the disk.
//
// Threads: submit(), finish() and the readers run on the receiving thread;
// work() on the pool's threads. mutex_ guards the state the two share.
class FrameWriter
{
public:
    explicit FrameWriter(const FrameWriterOptions& options);
    // PNG files, the default budget and two encoders.
    FrameWriter(const QString& folder, bool savePng, int pngCompression, int thumbnailLimit);
    ~FrameWriter();

    // Queues one image (CV_8UC1, or CV_8UC3 in red-green-blue order). Returns
    // the file name it will get: `baseName` and the format's extension, with
    // a suffix "_2", "_3", ... before it when that name was already used in
    // this run; empty when the budget is spent and the image is left
    // unwritten (counted by refused()).
    QString submit(const cv::Mat& image, const QString& baseName, const QString& label, const QString& sortKey);

    // Where the image of a name that submit() returned stands.
    // Abandoned: still queued when finish() gave up waiting; not an error.
    enum class State { Pending, Started, Written, Failed, Abandoned };
    State state(const QString& name) const;

    // Waits until every queued image is written, on every core (the cameras
    // are done); with `withinMs` >= 0, on the encoders it has, and images not
    // started by then are abandoned (counted by abandoned()) so that the end
    // of a timed run does not wait for the disk.
    void finish(int withinMs = -1);
    int abandoned() const;

    int written() const;
    // Images queued and not yet settled.
    int queuedImages() const;
    // Images not queued because the budget was spent.
    int refused() const { return refused_; }
    // Of those, the images refused because the queue's memory was spent (the
    // rest were refused for the disk's free-space reserve).
    int refusedQueueFull() const { return refusedQueueFull_; }
    QStringList errors() const;
    QVector<Thumbnail> thumbnails() const;

    // The queue's high-water mark, in images and in bytes.
    int peakImages() const;
    qint64 peakBytes() const;
    qint64 budgetBytes() const { return options_.budgetBytes; }
    int encoders() const { return options_.encoders; }
    // True once an image was refused for the free-space reserve; the free
    // space then seen.
    bool outOfSpace() const { return outOfSpace_; }
    qint64 freeAtStop() const { return freeAtStop_; }
    // Image bytes (as delivered) written a second, from the first submission
    // to the last image written.
    double byteRate() const;
    // Images written per second, from the first submission to the last image
    // written; 0 before any is written.
    double writeRate() const;

    // The file extension for an image of `channels` in `format`, with its dot.
    static QString extension(ImageFormat format, int channels);

    // The width of contact-sheet thumbnails.
    static constexpr int kThumbWidth = 256;

private:
    void work(cv::Mat image, QString path, QString name, QString label, QString sortKey, int order);
    Thumbnail placeholder(const cv::Mat& image, const QString& label, const QString& sortKey, int order) const;
    void settle(const QString& name, State state); // mutex_ held
    bool encodeAndSave(const QString& path, const cv::Mat& image, QString& error);
    bool spaceFor(qint64 bytes, qint64 free); // mutex_ held; `free`: the disk's free bytes, -1 unknown
    void drain();

    const FrameWriterOptions options_;
    QThreadPool pool_;
    int submitted_ = 0;  // receiving thread only
    int refused_ = 0;    // receiving thread only
    int refusedQueueFull_ = 0; // receiving thread only
    bool outOfSpace_ = false; // receiving thread only
    qint64 freeAtStop_ = -1;  // receiving thread only
    QElapsedTimer clock_; // started at the first submission

    // Guarded by mutex_; written by the workers, read by the receiving thread.
    mutable QMutex mutex_;
    QHash<QString, State> states_;
    // Each image not yet settled: what the budget holds for it, and what its
    // placeholder needs should it never be written.
    struct Queued
    {
        qint64 bytes = 0;
        Thumbnail placeholder;
    };
    QHash<QString, Queued> queued_;
    qint64 bytesInQueue_ = 0;
    qint64 peakBytes_ = 0;
    int peakImages_ = 0;
    qint64 lastWrittenMs_ = 0; // on clock_
    int written_ = 0;
    qint64 bytesWritten_ = 0;
    int abandoned_ = 0;
    QStringList errors_;
    QVector<Thumbnail> thumbs_;

    WriteBehind files_; // has a lock of its own, never taken under mutex_
};

// Converts an image as delivered (mono, or red-green-blue) to what
// cv::imwrite expects (mono, or blue-green-red).
cv::Mat toWritable(const cv::Mat& delivered);

#endif
