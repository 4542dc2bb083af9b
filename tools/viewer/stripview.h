// stripview.h - consecutive line-scan frames stacked into one strip that
// scrolls up as frames arrive, newest at the bottom: the way the product
// passes under the camera.
#ifndef LORVEXVIEWER_STRIPVIEW_H
#define LORVEXVIEWER_STRIPVIEW_H

#include <QString>
#include <QWidget>

#include <opencv2/core.hpp>

class StripView : public QWidget
{
    Q_OBJECT
public:
    explicit StripView(QWidget* parent = nullptr);

    // Appends one frame, reduced to the strip's width, to the frames before
    // it. A frame that does not follow the one before (`whyNotJoined` says
    // why) starts the strip again and is shown alone, with the reason over it,
    // so that the strip never shows a seam as if it were the product.
    void append(const cv::Mat& frame, const QString& whyNotJoined = QString());
    void clear();
    int rowsHeld() const { return filled_; }
    // Why the strip holds only its newest frame; empty while frames join.
    QString note() const { return note_; }
    // Marks the strip as no longer live (`mark` says why); empty: live.
    void setStale(const QString& mark);
    QString staleMark() const { return stale_; }
    // The strip as it stands, oldest row first (for tests).
    cv::Mat contents() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    cv::Mat ring_;      // kRows rows, written round
    int next_ = 0;      // row the next frame starts at
    int filled_ = 0;    // rows holding frame data
    int sourceCols_ = 0;
    QString note_;
    QString stale_;
};

#endif
