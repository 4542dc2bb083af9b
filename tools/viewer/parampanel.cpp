// parampanel.cpp - item kinds by type name: SeparateParam opens a group,
// LineEditCameraParam edits one value of its ValueType, CheckBoxParam and
// RadioBoxParam show one box per option, ComboBoxParam a drop-down list.
// Values, limits and option texts are read through the items' pointers every
// time the panel is refreshed, so limits the camera learns later show up.
#include "parampanel.h"

#include "cameraedit.h"
#include "camerainterface.h"
#include "panelprint.h"
#include "valueaccess.h"
#include "wheelguard.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A corrupt count must not make thousands of widgets.
constexpr int kMaxOptions = 256;
// How long the camera may take to apply an edit before the panel checks it
// kept the value (a restart reads flags back from the device).
constexpr int kSettleMs = 1500;

int optionCount(int count)
{
    return qBound(0, count, kMaxOptions);
}

QString textAt(const QString* texts, int i)
{
    return texts ? texts[i] : QString();
}

// Limits as the control uses them: the item's, widened to the value held, so
// that a stored value outside the limits is shown as it is, not clamped.
valueaccess::Range shownRange(const valueaccess::Range& r, double value)
{
    valueaccess::Range s = r;
    s.min = std::min(s.min, value);
    s.max = std::max(s.max, value);
    return s;
}

} // namespace

ParamPanel::ParamPanel(CameraInterface* camera, QWidget* parent) : QWidget(parent), camera_(camera)
{
    outer_ = new QVBoxLayout(this);
    outer_->setContentsMargins(0, 0, 0, 0);
    rebuild();
}

void ParamPanel::rebuild()
{
    if (body_) {
        // The old controls may still have signals on their way; they point at
        // items the camera may have replaced, so they are silenced first.
        for (QWidget* w : body_->findChildren<QWidget*>())
            w->blockSignals(true);
        body_->hide();
        body_->deleteLater();
    }
    controls_.clear();
    showValues_.clear();
    body_ = new QWidget(this);
    bodyLayout_ = new QVBoxLayout(body_);
    bodyLayout_->setContentsMargins(0, 0, 0, 0);
    form_ = nullptr;
    outer_->addWidget(body_);

    ++generation_;
    toDevice_ = exposureValues(camera_);
    fromDevice_ = deviceOwnedValues(camera_);
    auto* legend = new QLabel(tr("→ sent to the camera · ↺ read from the camera · "
                                 "unmarked rows stay in this panel and the settings file"), body_);
    legend->setWordWrap(true);
    bodyLayout_->addWidget(legend);

    const QVector<ParamWrap*>* items = camera_ ? camera_->getParamItems() : nullptr;
    if (items) {
        for (ParamWrap* item : *items)
            addItem(item);
    }
    bodyLayout_->addStretch(1);
    guardWheel(body_);
    refresh();
}

void ParamPanel::refresh()
{
    if (!camera_)
        return;
    readLocked(camera_, [this] {
        for (const auto& show : showValues_)
            show();
    });
}

QWidget* ParamPanel::controlFor(int index) const
{
    return controls_.value(index);
}

QFormLayout* ParamPanel::currentForm()
{
    if (!form_) {
        auto* group = new QGroupBox(body_);
        form_ = new QFormLayout(group);
        bodyLayout_->addWidget(group);
    }
    return form_;
}

void ParamPanel::commit(const std::function<void()>& write)
{
    applyEdit(camera_, write);
    refresh();
    emit edited();
}

QString ParamPanel::pathOf(const void* value) const
{
    if (toDevice_.contains(value))
        return tr("Sent to the camera when its configuration is current.");
    if (fromDevice_.contains(value))
        return tr("Read from the camera: an edit the device does not take is replaced by its value.");
    return tr("Kept in this panel and the settings file; the plug-in does not send it to the camera.");
}

QString ParamPanel::markOf(const void* value) const
{
    return toDevice_.contains(value) ? QStringLiteral(" →") : fromDevice_.contains(value) ? QStringLiteral(" ↺") : QString();
}

QLabel* ParamPanel::rowLabel(const QString& name, const QString& tip, const void* value)
{
    auto* label = new QLabel(name + markOf(value), body_);
    label->setToolTip(tip.isEmpty() ? pathOf(value) : tip + QLatin1Char('\n') + pathOf(value));
    return label;
}

void ParamPanel::checkTaken(const QString& what, const std::function<bool()>& taken)
{
    const int generation = generation_;
    QTimer::singleShot(kSettleMs, this, [this, what, taken, generation] {
        if (generation != generation_)
            return;  // the items were replaced: `taken` points at old ones
        bool kept = true;
        readLocked(camera_, [&] { kept = taken(); });
        refresh();
        if (!kept)
            emit message(tr("The camera did not take %1; the panel shows the value it uses.").arg(what));
    });
}

void ParamPanel::addItem(ParamWrap* item)
{
    QWidget* control = nullptr;
    const QString kind = item ? item->typeName() : QString();
    if (kind == QLatin1String("SeparateParam")) {
        auto* group = new QGroupBox(item->name, body_);
        group->setToolTip(item->toolTip);
        form_ = new QFormLayout(group);
        bodyLayout_->addWidget(group);
        control = group;
    } else if (kind == QLatin1String("LineEditCameraParam")) {
        control = addLineEdit(item);
    } else if (kind == QLatin1String("CheckBoxParam")) {
        control = addOptions(item, false);
    } else if (kind == QLatin1String("RadioBoxParam")) {
        control = addOptions(item, true);
    } else if (kind == QLatin1String("ComboBoxParam")) {
        control = addCombo(item);
    } else {
        // An item kind this viewer does not know: shown, not editable.
        auto* label = new QLabel(tr("(item kind '%1' not supported)").arg(kind), body_);
        label->setEnabled(false);
        currentForm()->addRow(item ? item->name : QString(), label);
        control = label;
    }
    controls_.push_back(control);
}

QWidget* ParamPanel::addLineEdit(ParamWrap* base)
{
    auto* item = static_cast<LineEditCameraParam*>(base);
    QWidget* control = nullptr;
    // Without a value pointer there is nothing to show or edit.
    switch (item->value ? item->valueType : -1) {
    case Bool: {
        auto* box = new QCheckBox(body_);
        connect(box, &QCheckBox::toggled, this, [this, item](bool on) {
            commit([item, on] { *static_cast<bool*>(item->value) = on; });
        });
        showValues_.push_back([box, item] {
            QSignalBlocker block(box);
            box->setChecked(*static_cast<bool*>(item->value));
        });
        control = box;
        break;
    }
    case Int: {
        auto* spin = new QSpinBox(body_);
        spin->setKeyboardTracking(false);
        connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), this, [this, item](int v) {
            commit([item, v] {
                const auto r = valueaccess::rangeOf(Int, item->minimum, item->maximum, item->step);
                const int held = *static_cast<int*>(item->value);
                // A value outside the limits may stay as it was; a new one
                // is kept within them.
                if (v != held)
                    valueaccess::writeNumber(Int, item->value, valueaccess::clampTo(r, v));
            });
        });
        showValues_.push_back([spin, item] {
            QSignalBlocker block(spin);
            const double v = valueaccess::readNumber(Int, item->value);
            const auto r = shownRange(valueaccess::rangeOf(Int, item->minimum, item->maximum, item->step), v);
            spin->setRange(int(r.min), int(r.max));
            spin->setSingleStep(int(r.step));
            spin->setValue(int(v));
        });
        control = spin;
        break;
    }
    case Float:
    case Double: {
        const int type = item->valueType;
        auto* spin = new QDoubleSpinBox(body_);
        spin->setKeyboardTracking(false);
        connect(spin, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, [this, item, type](double v) {
            commit([item, type, v] {
                const auto r = valueaccess::rangeOf(type, item->minimum, item->maximum, item->step);
                valueaccess::writeNumber(type, item->value, valueaccess::clampTo(r, v));
            });
        });
        showValues_.push_back([spin, item, type] {
            QSignalBlocker block(spin);
            const double v = valueaccess::readNumber(type, item->value);
            const auto r = shownRange(valueaccess::rangeOf(type, item->minimum, item->maximum, item->step), v);
            spin->setDecimals(std::max(valueaccess::decimalsFor(r.step), 3));
            spin->setRange(r.min, r.max);
            spin->setSingleStep(r.step);
            spin->setValue(v);
        });
        control = spin;
        break;
    }
    case String: {
        auto* line = new QLineEdit(body_);
        connect(line, &QLineEdit::editingFinished, this, [this, item, line] {
            const QString text = line->text();
            if (text == *static_cast<QString*>(item->value))
                return;
            commit([item, text] { *static_cast<QString*>(item->value) = text; });
        });
        showValues_.push_back([line, item] {
            QSignalBlocker block(line);
            line->setText(*static_cast<QString*>(item->value));
        });
        control = line;
        break;
    }
    default: {
        auto* label = new QLabel(item->value ? tr("(value type %1 not supported)").arg(item->valueType)
                                             : tr("(no value)"), body_);
        label->setEnabled(false);
        control = label;
        break;
    }
    }
    QLabel* label = rowLabel(item->name, item->toolTip, item->value);
    control->setToolTip(item->toolTip);
    currentForm()->addRow(label, control);
    return control;
}

QWidget* ParamPanel::addOptions(ParamWrap* base, bool exclusive)
{
    auto* item = static_cast<RadioBoxParam*>(base);
    auto* row = new QWidget(body_);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* group = exclusive ? new QButtonGroup(row) : nullptr;
    QVector<QAbstractButton*> buttons;
    const int count = optionCount(item->count);
    for (int i = 0; i < count; ++i) {
        QAbstractButton* b = exclusive ? static_cast<QAbstractButton*>(new QRadioButton(textAt(item->names, i), row))
                                       : static_cast<QAbstractButton*>(new QCheckBox(textAt(item->names, i), row));
        b->setToolTip(textAt(item->toolTips, i));
        b->setEnabled(item->values != nullptr);
        if (group)
            group->addButton(b, i);
        layout->addWidget(b);
        buttons << b;
        if (!item->values)
            continue;
        // clicked: only a person (or click()) changes the value, never a refresh.
        connect(b, &QAbstractButton::clicked, this, [this, item, i, count, exclusive, b](bool on) {
            commit([item, i, count, exclusive, on] {
                if (exclusive) {
                    for (int k = 0; k < count; ++k)
                        item->values[k] = (k == i);
                } else {
                    item->values[i] = on;
                }
            });
            // A flag read back from the device (a mirror the device lacks)
            // falls back to the device's value: the box follows, and says why.
            checkTaken(tr("\"%1\" %2").arg(b->text(), on ? tr("on") : tr("off")), [item, i, on] { return item->values[i] == on; });
        });
    }
    layout->addStretch(1);
    if (item->values) {
        showValues_.push_back([item, buttons, group] {
            if (group)
                group->setExclusive(false); // lets a stored "none set" show as it is
            for (int i = 0; i < buttons.size(); ++i) {
                QSignalBlocker block(buttons[i]);
                buttons[i]->setChecked(item->values[i]);
            }
            if (group)
                group->setExclusive(true);
        });
    }
    QLabel* label = rowLabel(item->name, item->toolTip, item->values);
    row->setToolTip(item->toolTip);
    currentForm()->addRow(label, row);
    return row;
}

QWidget* ParamPanel::addCombo(ParamWrap* base)
{
    auto* item = static_cast<ComboBoxParam*>(base);
    auto* combo = new QComboBox(body_);
    const int count = optionCount(item->count);
    for (int i = 0; i < count; ++i) {
        combo->addItem(textAt(item->names, i));
        combo->setItemData(i, textAt(item->toolTips, i), Qt::ToolTipRole);
    }
    if (item->selectedIndex) {
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, item](int i) {
            if (i >= 0)
                commit([item, i] { *item->selectedIndex = i; });
        });
        showValues_.push_back([combo, item] {
            QSignalBlocker block(combo);
            // A stored index outside the entries shows as no selection.
            const int i = *item->selectedIndex;
            combo->setCurrentIndex(i >= 0 && i < combo->count() ? i : -1);
        });
    } else {
        combo->setEnabled(false);
    }
    QLabel* label = rowLabel(item->name, item->toolTip, item->selectedIndex);
    combo->setToolTip(item->toolTip);
    currentForm()->addRow(label, combo);
    return combo;
}
