// stripview.cpp
#include "stripview.h"

#include "imagedisplay.h"

#include <QPainter>

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

constexpr int kWidth = 1024;  // columns of the strip at most
constexpr int kRows = 2048;   // rows of history it keeps

} // namespace

StripView::StripView(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(160, 80);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StripView::clear()
{
    ring_.release();
    next_ = filled_ = sourceCols_ = 0;
    note_.clear();
    update();
}

void StripView::append(const cv::Mat& frame, const QString& whyNotJoined)
{
    if (!imagedisplay::drawable(frame))
        return;
    // A frame after one that stood alone starts a strip of its own as well.
    if (!whyNotJoined.isEmpty() || !note_.isEmpty())
        clear();
    note_ = whyNotJoined;
    // One reduction factor for both directions keeps the product's shape.
    const int factor = std::max(1, (frame.cols + kWidth - 1) / kWidth);
    const int cols = std::max(1, frame.cols / factor);
    const int rows = std::max(1, frame.rows / factor);
    if (ring_.empty() || ring_.type() != frame.type() || ring_.cols != cols || sourceCols_ != frame.cols) {
        ring_ = cv::Mat::zeros(kRows, cols, frame.type());
        next_ = filled_ = 0;
        sourceCols_ = frame.cols;
    }
    cv::Mat reduced;
    cv::resize(frame, reduced, cv::Size(cols, rows), 0, 0, cv::INTER_NEAREST);
    // A frame taller than the whole strip keeps only its newest rows.
    const int take = std::min(rows, kRows);
    for (int done = 0; done < take;) {
        const int n = std::min(take - done, kRows - next_);
        reduced.rowRange(rows - take + done, rows - take + done + n).copyTo(ring_.rowRange(next_, next_ + n));
        next_ = (next_ + n) % kRows;
        done += n;
    }
    filled_ = std::min(kRows, filled_ + take);
    update();
}

void StripView::setStale(const QString& mark)
{
    if (mark == stale_)
        return;
    stale_ = mark;
    update();
}

cv::Mat StripView::contents() const
{
    if (filled_ == 0)
        return cv::Mat();
    const int start = (next_ - filled_ + kRows) % kRows;
    cv::Mat out(filled_, ring_.cols, ring_.type());
    const int first = std::min(filled_, kRows - start);
    ring_.rowRange(start, start + first).copyTo(out.rowRange(0, first));
    if (first < filled_)
        ring_.rowRange(0, filled_ - first).copyTo(out.rowRange(first, filled_));
    return out;
}

void StripView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(32, 32, 32));
    if (filled_ == 0) {
        imagedisplay::paintStale(painter, QRect(), rect(), stale_);
        return;
    }
    // Scale to the widget's width; show as many of the newest rows as fit.
    const double s = double(width()) / ring_.cols;
    const int visible = std::min(filled_, std::max(1, int(height() / s)));
    int y = height();
    int end = next_;  // one past the newest row
    for (int left = visible; left > 0;) {
        const int n = std::min(left, end == 0 ? kRows : end);
        const int from = (end == 0 ? kRows : end) - n;
        const int h = std::max(1, int(n * s + 0.5));
        y -= h;
        const QRect target(0, y, width(), h);
        painter.drawImage(target, imagedisplay::render(ring_, QRect(0, from, ring_.cols, n), target.size()));
        end = from;
        left -= n;
    }
    if (!note_.isEmpty()) {
        const QRect box = rect().adjusted(8, 8, -8, -8);
        QRect text = painter.boundingRect(box, Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, note_);
        painter.fillRect(text.adjusted(-4, -2, 4, 2), QColor(0, 0, 0, 180));
        painter.setPen(Qt::white);
        painter.drawText(text, Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, note_);
    }
    imagedisplay::paintStale(painter, QRect(0, y, width(), height() - y), rect(), stale_);
}
