// imageview.h - the live image: fit to the window or 1:1, zoom with the
// wheel or the buttons, pan by dragging, and the pixel under the cursor.
#ifndef LORVEXVIEWER_IMAGEVIEW_H
#define LORVEXVIEWER_IMAGEVIEW_H

#include <QPointF>
#include <QWidget>

#include <opencv2/core.hpp>

class QPainter;

class ImageView : public QWidget
{
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    // The image to draw; shares the pixels with the caller's record.
    void setImage(const cv::Mat& image);
    const cv::Mat& image() const { return image_; }

    void fit();
    void actualSize();
    void zoomBy(double factor);
    bool fitting() const { return fit_; }
    double scale() const;

    // A camera that delivers no more (lost, not opened): its last image is
    // dimmed and `mark` written over it, so that nobody takes it for live.
    // An empty mark shows the image as it is.
    void setStale(const QString& mark);
    QString staleMark() const { return stale_; }

    // Image coordinates of a point of the widget.
    QPointF toImage(const QPointF& widgetPoint) const;

signals:
    // Text for the pixel under the cursor ("" when outside the image).
    void pixelHovered(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // Image point shown at the widget's top-left corner, at the current scale.
    QPointF origin() const;
    // Draws the visible part of the image; returns where (empty: nothing).
    QRect paintImage(QPainter& painter);
    void zoomAround(double factor, const QPointF& widgetPoint);

    cv::Mat image_;
    bool fit_ = true;
    double scale_ = 1.0;      // used when not fitting
    QPointF topLeft_;         // image point at the widget's corner, when not fitting
    bool dragging_ = false;
    QPointF dragFrom_;
    QPointF hover_{-1, -1};
    QString stale_;
};

#endif
