// imagedisplay.h - turning the camera's images (8-bit, one channel or three
// in red-green-blue order) into what the screen and files need.
#ifndef LORVEXVIEWER_IMAGEDISPLAY_H
#define LORVEXVIEWER_IMAGEDISPLAY_H

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <opencv2/core.hpp>

namespace imagedisplay {

// True for the element types the camera delivers (CV_8UC1, CV_8UC3).
bool drawable(const cv::Mat& image);

// The region `source` of `image` scaled (nearest pixel) to `target` size,
// ready to draw. Only the drawn pixels are touched, so a large image costs
// as much as the window, not as the image.
QImage render(const cv::Mat& image, const QRect& source, const QSize& target);

// The whole image as a QImage of its own (for files).
QImage copyOf(const cv::Mat& image);

// "x, y: value" or "x, y: R r G g B b"; empty outside the image.
QString pixelText(const cv::Mat& image, int x, int y);

// Dims `drawn` (the image as painted) and writes `mark` over `area`: the
// last image of a camera that delivers nothing, not to be taken for a live one.
void paintStale(QPainter& painter, const QRect& drawn, const QRect& area, const QString& mark);

// Writes the image as PNG. False with a message in `error`.
bool savePng(const cv::Mat& image, const QString& path, QString& error);

} // namespace imagedisplay

#endif
