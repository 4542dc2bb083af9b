// framewriter.cpp
#include "framewriter.h"

#include <QDir>
#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <exception>

cv::Mat toWritable(const cv::Mat& delivered)
{
    if (delivered.channels() == 3) {
        cv::Mat bgr;
        cv::cvtColor(delivered, bgr, cv::COLOR_RGB2BGR);
        return bgr;
    }
    return delivered;
}

FrameWriter::FrameWriter(const QString& folder, bool savePng, int pngCompression, int thumbnailLimit, int maxInFlight)
    : folder_(folder), savePng_(savePng), compression_(pngCompression), thumbnailLimit_(thumbnailLimit),
      slots_(std::max(1, maxInFlight))
{
    pool_.setMaxThreadCount(std::max(1, std::min(2, QThread::idealThreadCount())));
    pool_.setExpiryTimeout(-1);
}

FrameWriter::~FrameWriter()
{
    finish();
}

QString FrameWriter::submit(const cv::Mat& image, const QString& baseName, const QString& label, const QString& sortKey)
{
    QString name = baseName + QStringLiteral(".png");
    for (int n = 2; used_.contains(name); ++n)
        name = QStringLiteral("%1_%2.png").arg(baseName).arg(n);
    used_.insert(name);

    if (!slots_.tryAcquire()) {
        ++stalls_;
        slots_.acquire();
    }
    const int order = submitted_++;
    const QString path = QDir(folder_).filePath(name);
    // The image shares its buffer with the delivered record; nobody writes
    // into it any more, so the worker may read it without a copy.
    pool_.start([this, image, path, label, sortKey, order] { work(image, path, label, sortKey, order); });
    return name;
}

void FrameWriter::work(cv::Mat image, QString path, QString label, QString sortKey, int order)
{
    QString error;
    try {
        const cv::Mat out = toWritable(image);
        if (savePng_) {
            const std::vector<int> params{cv::IMWRITE_PNG_COMPRESSION, compression_};
            if (!cv::imwrite(path.toStdString(), out, params))
                error = QStringLiteral("%1: could not be written").arg(path);
        }
        if (order < thumbnailLimit_ && !out.empty()) {
            Thumbnail t;
            t.order = order;
            t.label = label;
            t.sortKey = sortKey;
            const int h = std::max(1, static_cast<int>(static_cast<double>(out.rows) * kThumbWidth / out.cols + 0.5));
            cv::Mat small;
            cv::resize(out, small, cv::Size(kThumbWidth, h), 0, 0, cv::INTER_AREA);
            if (small.channels() == 1)
                cv::cvtColor(small, t.image, cv::COLOR_GRAY2BGR);
            else
                t.image = small;
            QMutexLocker lock(&mutex_);
            thumbs_.push_back(t);
        }
    } catch (const std::exception& e) {
        error = QStringLiteral("%1: could not be written: %2").arg(path, QString::fromLocal8Bit(e.what()));
    }
    {
        QMutexLocker lock(&mutex_);
        if (error.isEmpty()) {
            if (savePng_)
                ++written_;
        } else {
            errors_ << error;
        }
    }
    slots_.release();
}

void FrameWriter::finish()
{
    pool_.waitForDone();
}

int FrameWriter::written() const
{
    QMutexLocker lock(&mutex_);
    return written_;
}

QStringList FrameWriter::errors() const
{
    QMutexLocker lock(&mutex_);
    return errors_;
}

QVector<Thumbnail> FrameWriter::thumbnails() const
{
    QMutexLocker lock(&mutex_);
    QVector<Thumbnail> t = thumbs_;
    std::sort(t.begin(), t.end(), [](const Thumbnail& a, const Thumbnail& b) { return a.sortKey < b.sortKey || (a.sortKey == b.sortKey && a.order < b.order); });
    return t;
}
