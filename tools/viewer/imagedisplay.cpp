// imagedisplay.cpp
#include "imagedisplay.h"

#include <QImageWriter>

#include <opencv2/imgproc.hpp>

namespace {

// How much of a stale image still shows through its dimming.
constexpr int kStaleShade = 170;  // alpha of the dark layer, of 255

} // namespace

namespace imagedisplay {

void paintStale(QPainter& painter, const QRect& drawn, const QRect& area, const QString& mark)
{
    if (mark.isEmpty())
        return;
    painter.fillRect(drawn, QColor(0, 0, 0, kStaleShade));
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 2);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(255, 200, 60));
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, mark);
}

bool drawable(const cv::Mat& image)
{
    return !image.empty() && image.dims == 2 && (image.type() == CV_8UC1 || image.type() == CV_8UC3);
}

QImage render(const cv::Mat& image, const QRect& source, const QSize& target)
{
    if (!drawable(image) || target.isEmpty())
        return QImage();
    const QRect whole(0, 0, image.cols, image.rows);
    const QRect src = source.intersected(whole);
    if (src.isEmpty())
        return QImage();
    const cv::Mat roi = image(cv::Rect(src.x(), src.y(), src.width(), src.height()));
    cv::Mat scaled;
    cv::resize(roi, scaled, cv::Size(target.width(), target.height()), 0, 0, cv::INTER_NEAREST);
    // Format_RGB32 lies in memory as blue, green, red, pad; the camera's
    // colour order is red, green, blue.
    QImage out(target, QImage::Format_RGB32);
    cv::Mat dst(out.height(), out.width(), CV_8UC4, out.bits(), size_t(out.bytesPerLine()));
    cv::cvtColor(scaled, dst, image.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_RGB2BGRA);
    return out;
}

QImage copyOf(const cv::Mat& image)
{
    if (!drawable(image))
        return QImage();
    const QImage::Format f = image.channels() == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    return QImage(image.data, image.cols, image.rows, int(image.step[0]), f).copy();
}

QString pixelText(const cv::Mat& image, int x, int y)
{
    if (!drawable(image) || x < 0 || y < 0 || x >= image.cols || y >= image.rows)
        return QString();
    if (image.channels() == 1)
        return QStringLiteral("%1, %2: %3").arg(x).arg(y).arg(image.at<uchar>(y, x));
    const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
    return QStringLiteral("%1, %2: R %3 G %4 B %5").arg(x).arg(y).arg(p[0]).arg(p[1]).arg(p[2]);
}

bool savePng(const cv::Mat& image, const QString& path, QString& error)
{
    const QImage copy = copyOf(image);
    if (copy.isNull()) {
        error = QStringLiteral("no image to save");
        return false;
    }
    QImageWriter writer(path, "png");
    if (!writer.write(copy)) {
        error = QStringLiteral("%1: %2").arg(path, writer.errorString());
        return false;
    }
    return true;
}

} // namespace imagedisplay
