// framewriter.h - writes received images as PNG files off the main thread.
#ifndef LORVEXHOST_FRAMEWRITER_H
#define LORVEXHOST_FRAMEWRITER_H

#include <QMutex>
#include <QSemaphore>
#include <QSet>
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
// `maxInFlight` images wait or are being written; submit() waits for a free
// place only when the disk is slower than the cameras, so memory stays
// bounded while no received image is ever dropped.
class FrameWriter
{
public:
    FrameWriter(const QString& folder, bool savePng, int pngCompression, int thumbnailLimit, int maxInFlight = 32);
    ~FrameWriter();

    // Queues one image (CV_8UC1, or CV_8UC3 in red-green-blue order). Returns
    // the file name it will get: `baseName`.png, or with a suffix "_2", "_3",
    // ... when that name was already used in this run.
    QString submit(const cv::Mat& image, const QString& baseName, const QString& label, const QString& sortKey);

    // Waits until every queued image is written.
    void finish();

    int written() const;
    int stalls() const { return stalls_; }
    QStringList errors() const;
    QVector<Thumbnail> thumbnails() const;

    // The width of contact-sheet thumbnails.
    static constexpr int kThumbWidth = 256;

private:
    void work(cv::Mat image, QString path, QString label, QString sortKey, int order);

    QString folder_;
    bool savePng_;
    int compression_;
    int thumbnailLimit_;
    QThreadPool pool_;
    QSemaphore slots_;
    QSet<QString> used_;
    int submitted_ = 0;
    int stalls_ = 0;

    mutable QMutex mutex_;
    int written_ = 0;
    QStringList errors_;
    QVector<Thumbnail> thumbs_;
};

// Converts an image as delivered (mono, or red-green-blue) to what
// cv::imwrite expects (mono, or blue-green-red).
cv::Mat toWritable(const cv::Mat& delivered);

#endif
