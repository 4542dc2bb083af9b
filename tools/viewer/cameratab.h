// cameratab.h - everything about one open camera in one tab: the live image
// or strip, its histogram and status line on the left; production controls,
// exposure configurations, quick-adjust sliders and the panel on the right.
#ifndef LORVEXVIEWER_CAMERATAB_H
#define LORVEXVIEWER_CAMERATAB_H

#include "camerainterface.h"

#include <QWidget>

class AdjustSliders;
class CameraSession;
class ExposureBar;
class HistogramView;
class ImageView;
class ParamPanel;
class ProductionControls;
class StripView;
class ViewerHost;
class QLabel;
class QPushButton;
class QStackedWidget;

class CameraTab : public QWidget
{
    Q_OBJECT
public:
    // Takes ownership of `session`.
    CameraTab(CameraSession* session, const ViewerHost* host, QWidget* parent = nullptr);

    CameraSession* session() const { return session_; }
    ImageView* imageView() const { return view_; }
    QString statusText() const;
    StripView* stripView() const { return strip_; }
    ParamPanel* panel() const { return panel_; }
    bool showingStrip() const;
    void showStrip(bool on);
    // The record of the image drawn last (empty before the first).
    const ImageProcessData& shown() const { return shown_; }

    // Writes the image shown as PNG; false with `error`.
    bool saveShown(const QString& path, QString& error) const;

signals:
    void message(const QString& text);

private:
    void draw();
    void updateStatus();
    // Dims and marks the last image while the camera delivers none.
    void showStale();
    QString outageText() const;
    void askAndSave();
    QString whyNotJoined(const ImageProcessData& frame, bool lostBefore) const;

    CameraSession* session_;
    ImageView* view_;
    StripView* strip_;
    QStackedWidget* views_;
    HistogramView* histogram_;
    QLabel* status_;  // state, outages, last image, next trigger, counts
    QLabel* pixel_;
    QPushButton* stripButton_;
    ParamPanel* panel_;
    AdjustSliders* sliders_;
    ExposureBar* exposure_;
    ProductionControls* production_;
    ImageProcessData shown_;
    qint64 lostSeen_ = 0; // frames lost upstream when the last frame came
};

#endif
