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

namespace {

FrameWriterOptions pngOptions(const QString& folder, bool savePng, int pngCompression, int thumbnailLimit)
{
    FrameWriterOptions o;
    o.folder = folder;
    o.saveImages = savePng;
    o.pngCompression = pngCompression;
    o.thumbnailLimit = thumbnailLimit;
    return o;
}

int thumbnailRows(int rows, int cols)
{
    return std::max(1, static_cast<int>(static_cast<double>(rows) * FrameWriter::kThumbWidth / std::max(1, cols) + 0.5));
}

} // namespace

FrameWriter::FrameWriter(const FrameWriterOptions& options) : options_(options)
{
    pool_.setMaxThreadCount(std::max(1, options_.encoders));
    pool_.setExpiryTimeout(-1);
}

FrameWriter::FrameWriter(const QString& folder, bool savePng, int pngCompression, int thumbnailLimit)
    : FrameWriter(pngOptions(folder, savePng, pngCompression, thumbnailLimit))
{
}

FrameWriter::~FrameWriter()
{
    finish();
}

QString FrameWriter::extension(ImageFormat format, int channels)
{
    if (format == ImageFormat::Pnm)
        return channels == 1 ? QStringLiteral(".pgm") : QStringLiteral(".ppm");
    return QStringLiteral(".png");
}

QString FrameWriter::submit(const cv::Mat& image, const QString& baseName, const QString& label, const QString& sortKey)
{
    if (!clock_.isValid())
        clock_.start();
    const int order = submitted_++;
    const qint64 bytes = static_cast<qint64>(image.total() * image.elemSize());
    const QString ext = extension(options_.format, image.channels());
    QString name = baseName + ext;
    {
        QMutexLocker lock(&mutex_);
        if (bytesInQueue_ + bytes > options_.budgetBytes) {
            ++refused_;
            if (order < options_.thumbnailLimit)
                thumbs_.push_back(placeholder(image, label, sortKey, order));
            return QString();
        }
        for (int n = 2; states_.contains(name); ++n)
            name = QStringLiteral("%1_%2%3").arg(baseName).arg(n).arg(ext);
        states_.insert(name, State::Pending);
        queued_.insert(name, {bytes, placeholder(image, label, sortKey, order)});
        bytesInQueue_ += bytes;
        peakBytes_ = std::max(peakBytes_, bytesInQueue_);
        peakImages_ = std::max(peakImages_, queued_.size());
    }
    const QString path = QDir(options_.folder).filePath(name);
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

// A frame left unwritten keeps its place on the contact sheet, so that the
// sheet never suggests a run was whole.
Thumbnail FrameWriter::placeholder(const cv::Mat& image, const QString& label, const QString& sortKey, int order) const
{
    Thumbnail t;
    t.order = order;
    t.label = label;
    t.sortKey = sortKey;
    t.placeholderRows = thumbnailRows(image.rows, image.cols);
    return t;
}

// Ends an image's time in the queue: its bytes go back to the budget, and an
// image within the sheet's limit that did not reach the disk leaves its
// placeholder there.
void FrameWriter::settle(const QString& name, State state)
{
    states_[name] = state;
    const Queued q = queued_.take(name);
    bytesInQueue_ -= q.bytes;
    if (state != State::Written && options_.saveImages && q.placeholder.order < options_.thumbnailLimit)
        thumbs_.push_back(q.placeholder);
}

// Encodes the whole image first, then writes it under a temporary name that
// is renamed only once every byte is on disk.
bool FrameWriter::encodeAndSave(const QString& path, const cv::Mat& image, QString& error) const
{
    std::vector<uchar> bytes;
    std::vector<int> params;
    if (options_.format == ImageFormat::Png)
        params = {cv::IMWRITE_PNG_COMPRESSION, options_.pngCompression};
    const QString ext = extension(options_.format, image.channels());
    if (!cv::imencode(ext.toStdString(), image, bytes, params)) {
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

void FrameWriter::work(cv::Mat image, QString path, QString name, QString label, QString sortKey, int order)
{
    {
        QMutexLocker lock(&mutex_);
        states_[name] = State::Started;
    }
    QString error;
    Thumbnail t;
    try {
        const cv::Mat out = toWritable(image);
        if (options_.saveImages)
            encodeAndSave(path, out, error);
        if (order < options_.thumbnailLimit && !out.empty()) {
            t.order = order;
            t.label = label;
            t.sortKey = sortKey;
            cv::Mat small;
            cv::resize(out, small, cv::Size(kThumbWidth, thumbnailRows(out.rows, out.cols)), 0, 0, cv::INTER_AREA);
            if (small.channels() == 1)
                cv::cvtColor(small, t.image, cv::COLOR_GRAY2BGR);
            else
                t.image = small;
        }
    } catch (const std::exception& e) {
        error = QStringLiteral("%1: could not be written: %2").arg(path, QString::fromLocal8Bit(e.what()));
    }
    image.release(); // the budget counts this image until here
    QMutexLocker lock(&mutex_);
    if (error.isEmpty()) {
        if (!t.image.empty())
            thumbs_.push_back(t);
        if (options_.saveImages)
            ++written_;
        lastWrittenMs_ = clock_.elapsed();
        settle(name, State::Written);
    } else {
        errors_ << error;
        settle(name, State::Failed);
    }
}

void FrameWriter::finish(int withinMs)
{
    if (withinMs < 0) {
        // The cameras are done: their cores are free for the rest of the queue.
        pool_.setMaxThreadCount(std::max(pool_.maxThreadCount(), QThread::idealThreadCount()));
        pool_.waitForDone();
        return;
    }
    // A timed end starts nothing more than it had running.
    if (pool_.waitForDone(withinMs))
        return;
    pool_.clear(); // drops the tasks not started; the running ones end
    pool_.waitForDone();
    QMutexLocker lock(&mutex_);
    const QStringList names = states_.keys();
    for (const QString& name : names)
        if (states_.value(name) == State::Pending) {
            ++abandoned_;
            settle(name, State::Abandoned);
        }
}

int FrameWriter::queuedImages() const
{
    QMutexLocker lock(&mutex_);
    return queued_.size();
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

int FrameWriter::peakImages() const
{
    QMutexLocker lock(&mutex_);
    return peakImages_;
}

qint64 FrameWriter::peakBytes() const
{
    QMutexLocker lock(&mutex_);
    return peakBytes_;
}

double FrameWriter::writeRate() const
{
    QMutexLocker lock(&mutex_);
    if (written_ == 0)
        return 0.0;
    return written_ * 1000.0 / static_cast<double>(std::max<qint64>(1, lastWrittenMs_));
}

QVector<Thumbnail> FrameWriter::thumbnails() const
{
    QMutexLocker lock(&mutex_);
    QVector<Thumbnail> t = thumbs_;
    std::sort(t.begin(), t.end(), [](const Thumbnail& a, const Thumbnail& b) { return a.sortKey < b.sortKey || (a.sortKey == b.sortKey && a.order < b.order); });
    return t;
}
