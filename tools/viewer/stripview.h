// stripview.h - consecutive line-scan frames stacked into one strip that
// scrolls up as frames arrive, newest at the bottom: the way the product
// passes under the camera.
#ifndef LORVEXVIEWER_STRIPVIEW_H
#define LORVEXVIEWER_STRIPVIEW_H

#include <QWidget>

#include <opencv2/core.hpp>

class StripView : public QWidget
{
    Q_OBJECT
public:
    explicit StripView(QWidget* parent = nullptr);

    // Appends one frame, reduced to the strip's width.
    void append(const cv::Mat& frame);
    void clear();
    int rowsHeld() const { return filled_; }
    // The strip as it stands, oldest row first (for tests).
    cv::Mat contents() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    cv::Mat ring_;      // kRows rows, written round
    int next_ = 0;      // row the next frame starts at
    int filled_ = 0;    // rows holding frame data
    int sourceCols_ = 0;
};

#endif
