// histogramview.cpp
#include "histogramview.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

QVector<Histogram> sampleHistogram(const cv::Mat& image, int samples)
{
    QVector<Histogram> out;
    if (image.empty() || image.depth() != CV_8U || image.dims != 2)
        return out;
    const int ch = image.channels();
    out.resize(ch);
    for (Histogram& h : out)
        h.fill(0);
    const double total = double(image.rows) * image.cols;
    const int stride = std::max(1, int(std::sqrt(total / std::max(1, samples))));
    for (int y = 0; y < image.rows; y += stride) {
        const uchar* row = image.ptr<uchar>(y);
        for (int x = 0; x < image.cols; x += stride)
            for (int c = 0; c < ch; ++c)
                ++out[c][row[x * ch + c]];
    }
    return out;
}

HistogramView::HistogramView(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(70);
    // A logarithmic height: a few flat areas would otherwise hide the spread.
    setToolTip(tr("Histogram of the image shown, per channel (0 left, 255 right, logarithmic counts)"));
}

void HistogramView::setImage(const cv::Mat& image)
{
    channels_ = sampleHistogram(image);
    update();
}

void HistogramView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(24, 24, 24));
    if (channels_.isEmpty())
        return;
    quint32 peak = 1;
    for (const Histogram& h : channels_)
        peak = std::max(peak, *std::max_element(h.begin(), h.end()));
    static const QColor kColours[] = {QColor(255, 80, 80), QColor(80, 220, 80), QColor(90, 140, 255)};
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width(), h = height() - 2;
    for (int c = 0; c < channels_.size(); ++c) {
        QPainterPath path;
        path.moveTo(0, h);
        for (int v = 0; v < 256; ++v)
            path.lineTo(v * w / 255.0, h - h * std::log1p(channels_[c][v]) / std::log1p(peak));
        path.lineTo(w, h);
        const QColor colour = channels_.size() == 1 ? QColor(220, 220, 220) : kColours[c];
        painter.setPen(colour);
        QColor fill = colour;
        fill.setAlpha(60);
        painter.setBrush(fill);
        painter.drawPath(path);
    }
}
