// adjustsliders.h - the camera's quick-adjust list (getAdjustItems) as
// sliders, one per entry, each with the value it holds.
#ifndef LORVEXVIEWER_ADJUSTSLIDERS_H
#define LORVEXVIEWER_ADJUSTSLIDERS_H

#include "cameraparams.h"

#include <QVector>
#include <QWidget>

#include <functional>

class CameraInterface;
class QFormLayout;
class QLabel;
class QSlider;

class AdjustSliders : public QWidget
{
    Q_OBJECT
public:
    explicit AdjustSliders(CameraInterface* camera, QWidget* parent = nullptr);

    // Asks the camera for its list again (its pointers change when the
    // exposure configurations are rebuilt or another one becomes current).
    void rebuild();
    void refresh();

    QSlider* slider(int index) const { return sliders_.value(index); }
    int count() const { return sliders_.size(); }

signals:
    void edited();

private:
    CameraInterface* camera_;
    QFormLayout* form_;
    QVector<AdjustItem> items_;
    QVector<QSlider*> sliders_;
    QVector<QLabel*> values_;
};

#endif
