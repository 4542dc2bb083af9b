// adjustsliders.cpp - a slider moves in whole steps of the entry: position p
// stands for min + p * step.
#include "adjustsliders.h"

#include "cameraedit.h"
#include "camerainterface.h"
#include "valueaccess.h"
#include "wheelguard.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>
#include <iterator>

namespace {

// Positions a slider offers at most; a finer step is coarsened to fit.
constexpr int kMaxPositions = 10000;

double stepOf(const AdjustItem& a)
{
    double step = a.step > 0.0 && std::isfinite(a.step) ? a.step : (a.max - a.min) / 100.0;
    if (a.valueType == Int)
        step = std::max(1.0, std::round(step)); // an integer cannot take a fractional step
    if ((a.max - a.min) / step > kMaxPositions)
        step = (a.max - a.min) / kMaxPositions;
    return step > 0.0 ? step : 1.0;
}

bool usable(const AdjustItem& a)
{
    return a.value && valueaccess::isNumeric(a.valueType) && std::isfinite(a.min) && std::isfinite(a.max) && a.min <= a.max;
}

// The camera lists exposure time first, then gain: their units, and which
// way each goes.
struct ItemMeaning
{
    const char* unit;  // after the value
    const char* path;  // for the row's tooltip
    const char* mark;  // after the row's name
};
constexpr ItemMeaning kMeanings[] = {
    {" ms", "Exposure time in milliseconds of the current configuration: sent to the camera at once.", " (ms) →"},
    {" × 0.1", "Gain in tenths of the device's gain: kept in the panel and the settings file; "
               "the plug-in does not send it to the camera, so the images do not change.", " (× 0.1, panel only)"},
};

const ItemMeaning* meaningOf(int index)
{
    return index >= 0 && index < int(std::size(kMeanings)) ? &kMeanings[index] : nullptr;
}

QString shown(const AdjustItem& a, double v, int index)
{
    const ItemMeaning* m = meaningOf(index);
    const QString number = a.valueType == Int ? QString::number(qint64(v)) : QString::number(v, 'f', valueaccess::decimalsFor(stepOf(a)));
    return m ? number + QString::fromUtf8(m->unit) : number;
}

} // namespace

AdjustSliders::AdjustSliders(CameraInterface* camera, QWidget* parent) : QWidget(parent), camera_(camera)
{
    form_ = new QFormLayout(this);
    rebuild();
}

void AdjustSliders::rebuild()
{
    // A rebuild may be asked for from inside a slider's own signal (an edit
    // that makes another configuration current): the old rows are cut off
    // and deleted later, never under the signal that is still running.
    for (QSlider* s : sliders_)
        s->disconnect(this);
    while (form_->rowCount() > 0) {
        const QFormLayout::TakeRowResult row = form_->takeRow(0);
        for (QLayoutItem* item : {row.labelItem, row.fieldItem}) {
            if (!item)
                continue;
            if (QWidget* w = item->widget()) {
                w->hide();
                w->deleteLater();
            }
            delete item;
        }
    }
    sliders_.clear();
    values_.clear();
    items_ = camera_ ? camera_->getAdjustItems() : QVector<AdjustItem>();
    for (int i = 0; i < items_.size(); ++i) {
        const AdjustItem a = items_[i];
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* slider = new QSlider(Qt::Horizontal, row);
        auto* value = new QLabel(row);
        value->setMinimumWidth(80);
        layout->addWidget(slider, 1);
        layout->addWidget(value);
        const ItemMeaning* m = meaningOf(i);
        auto* label = new QLabel(m ? a.name + QString::fromUtf8(m->mark) : a.name, this);
        if (m) {
            label->setToolTip(tr(m->path));
            row->setToolTip(tr(m->path));
        }
        form_->addRow(label, row);
        sliders_ << slider;
        values_ << value;
        if (!usable(a)) {
            slider->setEnabled(false);
            value->setText(tr("n/a"));
            continue;
        }
        const double step = stepOf(a);
        slider->setRange(0, int(std::ceil((a.max - a.min) / step - 1e-9)));
        connect(slider, &QSlider::valueChanged, this, [this, a, step](int pos) {
            const double v = std::min(a.max, a.min + pos * step);
            applyEdit(camera_, [a, v] { valueaccess::writeNumber(a.valueType, a.value, v); });
            refresh();
            emit edited();
        });
    }
    guardWheel(this);
    refresh();
}

void AdjustSliders::refresh()
{
    if (!camera_)
        return;
    readLocked(camera_, [this] {
        for (int i = 0; i < items_.size(); ++i) {
            const AdjustItem& a = items_[i];
            if (!usable(a))
                continue;
            const double v = valueaccess::readNumber(a.valueType, a.value);
            QSignalBlocker block(sliders_[i]);
            sliders_[i]->setValue(int(std::lround((std::clamp(v, a.min, a.max) - a.min) / stepOf(a))));
            values_[i]->setText(shown(a, v, i));
        }
    });
}
