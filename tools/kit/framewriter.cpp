// framewriter.cpp
#include "framewriter.h"

#include <QDir>
#include <QSaveFile>
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
    if (!slots_.tryAcquire()) {
        ++refused_;
        return QString();
    }
    QString name = baseName + QStringLiteral(".png");
    {
        QMutexLocker lock(&mutex_);
        for (int n = 2; states_.contains(name); ++n)
            name = QStringLiteral("%1_%2.png").arg(baseName).arg(n);
        states_.insert(name, State::Pending);
    }
    const int order = submitted_++;
    const QString path = QDir(folder_).filePath(name);
    // The image shares its buffer with the delivered record; nobody writes
    // into it any more, so the worker may read it without a copy.
    pool_.start([this, image, path, name, label, sortKey, order] { work(image, path, name, label, sortKey, order); });
    return name;
}

FrameWriter::State FrameWriter::state(const QString& name) const
{
    QMutexLocker lock(&mutex_);
    return states_.value(name, State::Failed);
}

namespace {

// Encodes the whole image first, then writes it under a temporary name that
// is renamed only once every byte is on disk.
bool writePng(const QString& path, const cv::Mat& image, int compression, QString& error)
{
    std::vector<uchar> bytes;
    const std::vector<int> params{cv::IMWRITE_PNG_COMPRESSION, compression};
    if (!cv::imencode(".png", image, bytes, params)) {
        error = QStringLiteral("%1: could not be encoded").arg(path);
        return false;
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)
        || f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())
        || !f.commit()) {
        error = QStringLiteral("%1: could not be written: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace

void FrameWriter::work(cv::Mat image, QString path, QString name, QString label, QString sortKey, int order)
{
    {
        QMutexLocker lock(&mutex_);
        states_[name] = State::Started;
    }
    QString error;
    try {
        const cv::Mat out = toWritable(image);
        if (savePng_)
            writePng(path, out, compression_, error);
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
            states_[name] = State::Written;
        } else {
            errors_ << error;
            states_[name] = State::Failed;
        }
    }
    slots_.release();
}

void FrameWriter::finish(int withinMs)
{
    if (withinMs < 0 || pool_.waitForDone(withinMs)) {
        pool_.waitForDone();
        return;
    }
    pool_.clear(); // drops the tasks not started; the running ones end
    pool_.waitForDone();
    QMutexLocker lock(&mutex_);
    for (auto it = states_.begin(); it != states_.end(); ++it)
        if (it.value() == State::Pending) {
            it.value() = State::Abandoned;
            ++abandoned_;
            slots_.release();
        }
}

int FrameWriter::abandoned() const
{
    QMutexLocker lock(&mutex_);
    return abandoned_;
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
