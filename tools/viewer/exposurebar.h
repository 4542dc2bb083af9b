// exposurebar.h - the exposure configurations: how many there are
// (setExposureCount), which one is current (selectExposure) and the status
// the camera answered when it was sent.
#ifndef LORVEXVIEWER_EXPOSUREBAR_H
#define LORVEXVIEWER_EXPOSUREBAR_H

#include <QWidget>

class CameraInterface;
class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

class ExposureBar : public QWidget
{
    Q_OBJECT
public:
    explicit ExposureBar(CameraInterface* camera, QWidget* parent = nullptr);

    // Shows the count and current configuration the camera holds.
    void refresh();
    // Sends the current configuration when "send on change" is on.
    void settingsEdited();
    // Sends configuration `index` and shows the status; returns it.
    int send(int index);

    QSpinBox* countBox() const { return count_; }
    QComboBox* currentBox() const { return current_; }
    QLabel* statusLabel() const { return status_; }

signals:
    // The camera replaced its panel items; every view of them must rebuild.
    void itemsReplaced();
    // Another configuration became current (the quick-adjust list follows it).
    void currentChanged();

private:
    CameraInterface* camera_;
    QSpinBox* count_;
    QComboBox* current_;
    QCheckBox* sendOnChange_;
    QLabel* status_;
};

// Text for a status of selectExposure: 0 is success, -1 no such
// configuration, anything else an SDK status shown in hexadecimal.
QString exposureStatusText(int status);

#endif
