// histogramview.h - the distribution of pixel values per channel of the
// image shown (one grey curve, or red, green and blue).
#ifndef LORVEXVIEWER_HISTOGRAMVIEW_H
#define LORVEXVIEWER_HISTOGRAMVIEW_H

#include <QVector>
#include <QWidget>

#include <array>

#include <opencv2/core.hpp>

using Histogram = std::array<quint32, 256>;

// Per channel counts of a sample of the image's pixels: every `stride`-th
// pixel of every `stride`-th row, with the stride chosen so that about
// `samples` pixels are read (a line-scan frame has millions).
QVector<Histogram> sampleHistogram(const cv::Mat& image, int samples = 1 << 16);

class HistogramView : public QWidget
{
    Q_OBJECT
public:
    explicit HistogramView(QWidget* parent = nullptr);
    void setImage(const cv::Mat& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<Histogram> channels_;
};

#endif
