// imageview.cpp
#include "imageview.h"

#include "imagedisplay.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinScale = 1.0 / 64;
constexpr double kMaxScale = 64.0;
constexpr double kWheelStep = 1.25;

} // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(160, 80);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::setStale(const QString& mark)
{
    if (mark == stale_)
        return;
    stale_ = mark;
    update();
}

void ImageView::setImage(const cv::Mat& image)
{
    image_ = image;
    if (hover_.x() >= 0)
        emit pixelHovered(imagedisplay::pixelText(image_, int(std::floor(hover_.x())), int(std::floor(hover_.y()))));
}

double ImageView::scale() const
{
    if (!fit_ || image_.empty())
        return scale_;
    return std::min(double(width()) / image_.cols, double(height()) / image_.rows);
}

QPointF ImageView::origin() const
{
    if (!fit_ || image_.empty())
        return topLeft_;
    // Fitted images are centred.
    const double s = scale();
    return QPointF((image_.cols - width() / s) / 2.0, (image_.rows - height() / s) / 2.0);
}

QPointF ImageView::toImage(const QPointF& p) const
{
    const double s = scale();
    return origin() + p / s;
}

void ImageView::fit()
{
    fit_ = true;
    update();
}

void ImageView::actualSize()
{
    const QPointF centre = toImage(QPointF(width() / 2.0, height() / 2.0));
    fit_ = false;
    scale_ = 1.0;
    topLeft_ = centre - QPointF(width() / 2.0, height() / 2.0);
    update();
}

void ImageView::zoomBy(double factor)
{
    zoomAround(factor, QPointF(width() / 2.0, height() / 2.0));
}

void ImageView::zoomAround(double factor, const QPointF& p)
{
    const QPointF anchor = toImage(p);
    const double s = std::clamp(scale() * factor, kMinScale, kMaxScale);
    fit_ = false;
    scale_ = s;
    topLeft_ = anchor - p / s;
    update();
}

void ImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(32, 32, 32));
    const QRect drawn = paintImage(painter);
    // Also over an empty view: a camera that never opened says so there.
    imagedisplay::paintStale(painter, drawn, rect(), stale_);
}

QRect ImageView::paintImage(QPainter& painter)
{
    if (!imagedisplay::drawable(image_))
        return QRect();
    const double s = scale();
    const QPointF o = origin();
    // The part of the image inside the widget, in whole pixels.
    const int x0 = std::max(0, int(std::floor(o.x())));
    const int y0 = std::max(0, int(std::floor(o.y())));
    const int x1 = std::min(image_.cols, int(std::ceil(o.x() + width() / s)));
    const int y1 = std::min(image_.rows, int(std::ceil(o.y() + height() / s)));
    if (x1 <= x0 || y1 <= y0)
        return QRect();
    const QRectF target(QPointF((x0 - o.x()) * s, (y0 - o.y()) * s), QSizeF((x1 - x0) * s, (y1 - y0) * s));
    const QRect pixels = target.toAlignedRect().intersected(rect().adjusted(-1, -1, 1, 1));
    if (pixels.isEmpty())
        return QRect();
    // Render exactly the window's pixels: map the clipped target back to the image.
    const QRectF srcF(o + QPointF(pixels.x(), pixels.y()) / s, QSizeF(pixels.width() / s, pixels.height() / s));
    const QRect src = QRect(QPoint(int(std::floor(srcF.left())), int(std::floor(srcF.top()))),
                            QPoint(int(std::ceil(srcF.right())) - 1, int(std::ceil(srcF.bottom())) - 1))
                          .intersected(QRect(0, 0, image_.cols, image_.rows));
    const QRectF drawAt(QPointF((src.x() - o.x()) * s, (src.y() - o.y()) * s), QSizeF(src.width() * s, src.height() * s));
    const QRect dst = drawAt.toAlignedRect();
    // Magnified views render at the image's own size and let the painter
    // enlarge; reduced ones render at the window's size.
    const QSize renderSize = s >= 1.0 ? src.size() : dst.size();
    painter.drawImage(dst, imagedisplay::render(image_, src, renderSize));
    return dst;
}

void ImageView::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0.0)
        zoomAround(std::pow(kWheelStep, steps), event->position());
    event->accept();
}

void ImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragFrom_ = event->localPos();
    }
}

void ImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_) {
        const QPointF delta = event->localPos() - dragFrom_;
        dragFrom_ = event->localPos();
        const double s = scale();
        topLeft_ = origin() - delta / s;
        scale_ = s;
        fit_ = false;
        update();
    }
    hover_ = toImage(event->localPos());
    emit pixelHovered(imagedisplay::pixelText(image_, int(std::floor(hover_.x())), int(std::floor(hover_.y()))));
}

void ImageView::mouseReleaseEvent(QMouseEvent*)
{
    dragging_ = false;
}

void ImageView::leaveEvent(QEvent*)
{
    // A readout left behind would name a pixel nobody points at.
    hover_ = QPointF(-1, -1);
    emit pixelHovered(QString());
}
