// framewriter.cpp
#include "framewriter.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <exception>

#include <sys/statvfs.h>

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

// TIFF's code for LZW compression.
constexpr int kTiffLzw = 5;

// Image bytes this process wrote: what a pretended free space has lost.
std::atomic<qint64> imageBytesWritten{0};

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

qint64 diskFreeBytes(const QString& folder)
{
    bool pretended = false;
    const qint64 pretendMiB = qEnvironmentVariable("LORVEX_FREE_SPACE_MIB").toLongLong(&pretended);
    if (pretended)
        return (pretendMiB << 20) - imageBytesWritten.load();
    struct statvfs st;
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0)
        return -1;
    return static_cast<qint64>(st.f_bavail) * static_cast<qint64>(st.f_frsize);
}

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
    if (format == ImageFormat::Tiff)
        return QStringLiteral(".tif");
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
    // The disk is asked before the lock: a slow disk must not hold up the
    // writers, which take the same lock.
    const bool checksSpace = options_.saveImages && options_.minFreeBytes > 0;
    const qint64 free = checksSpace ? diskFreeBytes(options_.folder) : -1;
    {
        QMutexLocker lock(&mutex_);
        const bool space = spaceFor(bytes, free);
        if (!space || bytesInQueue_ + bytes > options_.budgetBytes) {
            ++refused_;
            refusedQueueFull_ += space ? 1 : 0;
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

// Whether the disk keeps the reserve free once this image and those queued
// before it are written. Once it does not, no image is taken any more: a run
// that writes on would only lose frames one by one.
bool FrameWriter::spaceFor(qint64 bytes, qint64 free)
{
    if (!options_.saveImages || options_.minFreeBytes <= 0)
        return true;
    if (outOfSpace_)
        return false;
    if (free < 0 || free - bytesInQueue_ - bytes >= options_.minFreeBytes)
        return true;
    outOfSpace_ = true;
    freeAtStop_ = free;
    return false;
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

// PNG is encoded whole first, from blue-green-red; an uncompressed image goes
// to the disk from its own buffer, as delivered (PPM's order is red-green-blue),
// behind its header, with no copy.
bool FrameWriter::encodeAndSave(const QString& path, const cv::Mat& image, QString& error)
{
    QByteArray head;
    std::vector<uchar> encoded;
    cv::Mat pixels;
    if (options_.format == ImageFormat::Pnm) {
        pixels = image.isContinuous() ? image : image.clone();
        head = QStringLiteral("P%1\n%2 %3\n255\n").arg(image.channels() == 1 ? 5 : 6).arg(image.cols).arg(image.rows)
                   .toLatin1();
    } else {
        const bool tiff = options_.format == ImageFormat::Tiff;
        const std::vector<int> params = tiff ? std::vector<int>{cv::IMWRITE_TIFF_COMPRESSION, kTiffLzw}
                                             : std::vector<int>{cv::IMWRITE_PNG_COMPRESSION, options_.pngCompression,
                                                                cv::IMWRITE_PNG_STRATEGY, cv::IMWRITE_PNG_STRATEGY_RLE};
        if (!cv::imencode(tiff ? ".tif" : ".png", image, encoded, params)) {
            error = QStringLiteral("%1: could not be encoded").arg(path);
            return false;
        }
    }
    const void* data = pixels.empty() ? static_cast<const void*>(encoded.data()) : pixels.data;
    const size_t len = pixels.empty() ? encoded.size() : pixels.total() * pixels.elemSize();
    QStringList late;
    const bool ok = files_.write(path, head, data, len, error, late);
    if (ok)
        imageBytesWritten += static_cast<qint64>(head.size() + len);
    if (!late.isEmpty()) {
        QMutexLocker lock(&mutex_);
        errors_ << late;
    }
    return ok;
}

void FrameWriter::work(cv::Mat image, QString path, QString name, QString label, QString sortKey, int order)
{
    {
        QMutexLocker lock(&mutex_);
        states_[name] = State::Started;
    }
    const qint64 imageBytes = static_cast<qint64>(image.total() * image.elemSize());
    QString error;
    Thumbnail t;
    try {
        // PNM keeps the delivered red-green-blue order: it needs no conversion.
        const bool raw = options_.format == ImageFormat::Pnm;
        const bool thumb = order < options_.thumbnailLimit;
        const cv::Mat out = !raw || thumb ? toWritable(image) : cv::Mat();
        if (options_.saveImages)
            encodeAndSave(path, raw ? image : out, error);
        if (thumb && !out.empty()) {
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
        if (options_.saveImages) {
            ++written_;
            bytesWritten_ += imageBytes;
        }
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
        drain();
        return;
    }
    // A timed end starts nothing more than it had running.
    if (pool_.waitForDone(withinMs)) {
        drain();
        return;
    }
    pool_.clear(); // drops the tasks not started; the running ones end
    pool_.waitForDone();
    drain();
    QMutexLocker lock(&mutex_);
    const QStringList names = states_.keys();
    for (const QString& name : names)
        if (states_.value(name) == State::Pending) {
            ++abandoned_;
            settle(name, State::Abandoned);
        }
}

// The images written are on the disk only once their write-back is done:
// the write rate counts the wait for it.
void FrameWriter::drain()
{
    QStringList late;
    const int synced = files_.drain(late);
    QMutexLocker lock(&mutex_);
    errors_ << late;
    if (synced > 0)
        lastWrittenMs_ = clock_.elapsed();
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

double FrameWriter::byteRate() const
{
    QMutexLocker lock(&mutex_);
    if (written_ == 0)
        return 0.0;
    return bytesWritten_ * 1000.0 / static_cast<double>(std::max<qint64>(1, lastWrittenMs_));
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
