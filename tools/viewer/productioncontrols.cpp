// productioncontrols.cpp
#include "productioncontrols.h"

#include "cameraedit.h"
#include "camerasession.h"
#include "triggertypes.h"
#include "viewerhost.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr double kMaxRateHz = 200.0;
// The panel keeps gain in tenths of the device's value.
constexpr double kGainTenths = 10.0;
constexpr double kGainStepDb = 0.5;

} // namespace

ProductionControls::ProductionControls(CameraSession* session, const ViewerHost* host, QWidget* parent)
    : QWidget(parent), session_(session), host_(host)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    auto* numbering = new QGroupBox(tr("Trigger and numbering"), this);
    auto* form = new QFormLayout(numbering);
    type_ = new QComboBox(numbering);
    type_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    type_->setMinimumContentsLength(12);
    const int mask = session_->camera()->getTriggerTypeMask();
    for (const triggertypes::TypeInfo& t : triggertypes::all())
        if (mask & t.code)
            type_->addItem(tr(t.text), t.code);
    perProduct_ = new QSpinBox(numbering);
    perProduct_->setRange(1, 1000);
    perCycle_ = new QSpinBox(numbering);
    perCycle_->setRange(1, 1000);
    timeout_ = new QSpinBox(numbering);
    timeout_->setRange(0, 3600000);
    timeout_->setSuffix(tr(" ms"));
    timeout_->setSpecialValueText(tr("off"));
    sync_ = new QCheckBox(tr("sync numbers to the trigger"), numbering);
    sync_->setToolTip(tr("The numbering follows the product number each software trigger passes"));
    auto* apply = new QPushButton(tr("Apply"), numbering);
    form->addRow(tr("Trigger type"), type_);
    form->addRow(tr("Captures per product"), perProduct_);
    form->addRow(tr("Products per cycle"), perCycle_);
    form->addRow(tr("Cycle time-out"), timeout_);
    form->addRow(sync_);
    form->addRow(apply);
    outer->addWidget(numbering);

    const CameraTrigParams& p = session_->trigParams();
    type_->setCurrentIndex(std::max(0, type_->findData(p.triggerType)));
    perProduct_->setValue(p.capturesPerProduct);
    perCycle_->setValue(p.productsPerCycle);
    timeout_->setValue(p.cycleTimeout);
    sync_->setChecked(p.syncProductId > 0);
    connect(apply, &QPushButton::clicked, this, &ProductionControls::applyTrigger);

    auto* run = new QGroupBox(tr("Production"), this);
    auto* runLayout = new QFormLayout(run);
    running_ = new QCheckBox(tr("running"), run);
    running_->setToolTip(tr("Production capture: frames are numbered by product and none is thinned as a preview"));
    running_->setChecked(session_->running());
    connect(running_, &QCheckBox::toggled, this, [this](bool on) { session_->setRunning(on); });
    trigger_ = new QPushButton(tr("Trigger"), run);
    trigger_->setToolTip(tr("One software trigger for the next capture"));
    next_ = new QLabel(run);
    connect(trigger_, &QPushButton::clicked, this, [this] {
        if (!session_->trigger())
            emit message(tr("%1: the trigger reached no device (%2)").arg(session_->serial(), stateText(session_->state())));
        showNext();
    });
    connect(session_, &CameraSession::stateChanged, this, &ProductionControls::showNext);
    auto* rateRow = new QWidget(run);
    auto* rateLayout = new QHBoxLayout(rateRow);
    rateLayout->setContentsMargins(0, 0, 0, 0);
    rate_ = new QDoubleSpinBox(rateRow);
    rate_->setRange(0.1, kMaxRateHz);
    rate_->setValue(10.0);
    rate_->setSuffix(tr(" Hz"));
    auto_ = new QCheckBox(tr("repeat"), rateRow);
    auto_->setToolTip(tr("Trigger at this rate until switched off"));
    rateLayout->addWidget(rate_);
    rateLayout->addWidget(auto_);
    connect(&autoTimer_, &QTimer::timeout, this, [this] {
        session_->trigger();
        showNext();
    });
    auto setRate = [this] { autoTimer_.setInterval(int(1000.0 / rate_->value())); };
    connect(rate_, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, setRate);
    connect(auto_, &QCheckBox::toggled, this, [this, setRate](bool on) {
        setRate();
        on ? autoTimer_.start() : autoTimer_.stop();
    });
    runLayout->addRow(running_);
    if (session_->camera()->isContinuousMode()) {
        // Otherwise a person presses Trigger and wonders why nothing happens.
        auto* free = new QLabel(tr("The camera runs by itself (trigger mode off): software triggers take no frame."), run);
        free->setWordWrap(true);
        runLayout->addRow(free);
    }
    runLayout->addRow(trigger_, next_);
    runLayout->addRow(tr("Rate"), rateRow);
    outer->addWidget(run);

    auto* device = new QGroupBox(tr("Camera"), this);
    auto* deviceColumn = new QVBoxLayout(device);
    auto* deviceLayout = new QHBoxLayout;
    deviceColumn->addLayout(deviceLayout);
    auto* unplug = new QPushButton(tr("Unplug"), device);
    auto* plug = new QPushButton(tr("Plug back"), device);
    const bool virtualSdk = host_ && host_->canUnplug();
    unplug->setEnabled(virtualSdk);
    plug->setEnabled(virtualSdk);
    const QString why = virtualSdk ? tr("Pulls the simulated cable; the camera should recover within a few seconds")
                                   : tr("Only the virtual camera SDK can unplug its cameras");
    unplug->setToolTip(why);
    plug->setToolTip(why);
    connect(unplug, &QPushButton::clicked, this, [this] {
        emit message(host_->unplug(session_->serial()) ? tr("%1 unplugged").arg(session_->serial())
                                                       : tr("%1 could not be unplugged").arg(session_->serial()));
    });
    connect(plug, &QPushButton::clicked, this, [this] {
        emit message(host_->plugBack(session_->serial()) ? tr("%1 plugged back in; it reconnects at its next retry").arg(session_->serial())
                                                         : tr("%1 could not be plugged back").arg(session_->serial()));
    });
    auto* save = new QPushButton(tr("Save settings"), device);
    save->setToolTip(tr("Write the panel's values to the camera's settings file"));
    connect(save, &QPushButton::clicked, this, [this] {
        QString error;
        emit message(session_->saveSettings(error) ? tr("%1: settings saved").arg(session_->serial()) : error);
    });
    deviceLayout->addWidget(unplug);
    deviceLayout->addWidget(plug);
    deviceLayout->addWidget(save);
    outer->addWidget(device);
    addDeviceGain(device);
    showNext();
}

void ProductionControls::addDeviceGain(QWidget* device)
{
    // The device's gain, written directly: the panel's gain row (and its
    // slider) stays in the panel, and the plug-in never sends it.
    auto* row = new QWidget(device);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    deviceGain_ = new QDoubleSpinBox(row);
    deviceGain_->setSuffix(tr(" dB"));
    deviceGain_->setSingleStep(kGainStepDb);
    deviceGain_->setKeyboardTracking(false);
    double min = 0.0, max = 0.0;
    if (const CameraBase* base = settingsOf(session_->camera())) {
        min = base->gainLimits.min / kGainTenths;
        max = base->gainLimits.max / kGainTenths;
    }
    deviceGain_->setRange(min, max);
    const bool can = host_ && host_->canSetDeviceGain() && max > min;
    deviceGain_->setEnabled(can);
    const QString tip = can ? tr("Written to the device directly, past the plug-in (the panel's gain is not sent); "
                                 "shows what this control last wrote, from the device's minimum")
                            : tr("Only the virtual camera SDK lets the viewer write the device's gain");
    deviceGain_->setToolTip(tip);
    auto* label = new QLabel(tr("Device gain →"), row);
    label->setToolTip(tip);
    layout->addWidget(label);
    layout->addWidget(deviceGain_, 1);
    device->layout()->addWidget(row);
    connect(deviceGain_, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, [this, min, max](double dB) {
        if (!host_->setDeviceGain(session_->serial(), dB, min, max))
            emit message(tr("%1: the device's gain could not be written").arg(session_->serial()));
    });
}

void ProductionControls::applyTrigger()
{
    CameraTrigParams p = session_->trigParams();
    if (type_->count() > 0)  // a camera that offers no type keeps its own
        p.triggerType = type_->currentData().toInt();
    p.capturesPerProduct = perProduct_->value();
    p.productsPerCycle = perCycle_->value();
    p.cycleTimeout = timeout_->value();
    p.syncProductId = sync_->isChecked() ? 1 : 0;
    session_->setTrigParams(p);
    showNext();
    emit message(tr("%1: trigger settings applied").arg(session_->serial()));
}

void ProductionControls::showNext()
{
    next_->setText(session_->nextText());
    next_->setToolTip(tr("The product and capture number the next software trigger passes"));
}
