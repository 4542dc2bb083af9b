// exposurebar.cpp
#include "exposurebar.h"

#include "cameraedit.h"
#include "camerainterface.h"
#include "firstsettings.h"
#include "sdkstatus.h"
#include "wheelguard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {

// More configurations than this make an unusable panel; the plug-in refuses
// large counts as well.
constexpr int kMaxConfigurations = 64;

} // namespace

QString exposureStatusText(int status)
{
    if (status == 0)
        return QObject::tr("sent, status 0 (ok)");
    if (status == -1)
        return QObject::tr("not sent: no such configuration (-1)");
    return QObject::tr("failed, status %1").arg(sdkStatusText(status));
}

ExposureBar::ExposureBar(CameraInterface* camera, QWidget* parent) : QWidget(parent), camera_(camera)
{
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    count_ = new QSpinBox(this);
    count_->setRange(0, kMaxConfigurations);
    count_->setKeyboardTracking(false);
    count_->setToolTip(tr("Number of exposure configurations (rebuilds the panel)"));
    current_ = new QComboBox(this);
    current_->setToolTip(tr("Configuration whose exposure time is sent to the camera"));
    auto* sendButton = new QPushButton(tr("Send"), this);
    sendOnChange_ = new QCheckBox(tr("send on change"), this);
    sendOnChange_->setChecked(true);
    sendOnChange_->setToolTip(tr("Send the current configuration after every edit, so the image shows it"));
    status_ = new QLabel(this);
    current_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    current_->setMinimumContentsLength(22);
    layout->addWidget(new QLabel(tr("Configurations"), this), 0, 0);
    layout->addWidget(count_, 0, 1);
    layout->addWidget(current_, 1, 0, 1, 2);
    layout->addWidget(sendButton, 1, 2);
    layout->addWidget(sendOnChange_, 0, 2);
    layout->addWidget(status_, 2, 0, 1, 3);
    guardWheel(this);

    if (!settingsOf(camera_)) {
        setEnabled(false);
        status_->setText(tr("the camera exposes no settings record"));
        return;
    }
    connect(count_, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int n) {
        int before = 0;
        readLocked(camera_, [&] { before = settingsOf(camera_)->exposureTimes.size(); });
        camera_->setExposureCount(n);
        // The plug-in starts new configurations at 0 ms, below every camera's
        // minimum; they start where a first use does (the camera clamps).
        for (int i = before; i < n; ++i) {
            float first = kFirstExposureMs;
            camera_->setExposureValue(i, first);
        }
        emit itemsReplaced();
        refresh();
    });
    connect(current_, QOverload<int>::of(&QComboBox::activated), this, [this](int i) { send(i); });
    connect(sendButton, &QPushButton::clicked, this, [this] { send(current_->currentIndex()); });
    refresh();
}

void ExposureBar::refresh()
{
    CameraBase* s = settingsOf(camera_);
    if (!s)
        return;
    int count = 0, index = 0;
    readLocked(camera_, [&] {
        count = s->exposureTimes.size();
        index = s->exposureIndex;
    });
    QSignalBlocker b1(count_), b2(current_);
    count_->setValue(count);
    current_->clear();
    for (int i = 0; i < count; ++i)
        current_->addItem(tr("configuration %1: %2 ms").arg(i + 1).arg(double(camera_->getExposureValue(i))));
    current_->setCurrentIndex(index >= 0 && index < count ? index : -1);
}

void ExposureBar::settingsEdited()
{
    refresh();
    if (isEnabled() && sendOnChange_->isChecked() && current_->currentIndex() >= 0)
        send(current_->currentIndex());
}

int ExposureBar::send(int index)
{
    const int status = camera_->selectExposure(index);
    status_->setText(exposureStatusText(status));
    refresh();
    emit currentChanged();
    return status;
}
