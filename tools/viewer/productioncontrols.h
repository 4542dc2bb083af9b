// productioncontrols.h - what an operator changes while a line runs: trigger
// type and numbering settings, the running flag, software triggers at a
// rate, the cable (on the virtual SDK) and the settings file.
#ifndef LORVEXVIEWER_PRODUCTIONCONTROLS_H
#define LORVEXVIEWER_PRODUCTIONCONTROLS_H

#include <QTimer>
#include <QWidget>

class CameraSession;
class ViewerHost;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

class ProductionControls : public QWidget
{
    Q_OBJECT
public:
    ProductionControls(CameraSession* session, const ViewerHost* host, QWidget* parent = nullptr);

    QPushButton* triggerButton() const { return trigger_; }
    QCheckBox* runningBox() const { return running_; }
    QDoubleSpinBox* deviceGainBox() const { return deviceGain_; }

signals:
    void message(const QString& text);

private:
    void applyTrigger();
    void addDeviceGain(QWidget* device);
    void showNext();

    CameraSession* session_;
    const ViewerHost* host_;
    QComboBox* type_;
    QSpinBox* perProduct_;
    QSpinBox* perCycle_;
    QSpinBox* timeout_;
    QCheckBox* sync_;
    QCheckBox* running_;
    QPushButton* trigger_;
    QDoubleSpinBox* rate_;
    QCheckBox* auto_;
    QLabel* next_;
    QDoubleSpinBox* deviceGain_ = nullptr;
    QTimer autoTimer_;
};

#endif
