// wheelguard.cpp
#include "wheelguard.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace {

// One per guarded root; a child of it, so it lives as long as the controls.
class WheelGuard : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel)
            return false;
        auto* control = static_cast<QWidget*>(watched);
        if (control->hasFocus())
            return false; // clicked into: the wheel edits it
        // Not being edited: the wheel scrolls the column that holds the
        // control. Qt passes only the system's own wheel events on to parents,
        // so it is handed to the scroll area directly.
        event->ignore();
        for (QWidget* up = control->parentWidget(); up; up = up->parentWidget())
            if (auto* area = qobject_cast<QAbstractScrollArea*>(up)) {
                QCoreApplication::sendEvent(area->viewport(), event);
                break;
            }
        return true;
    }
};

const char* const kGuarded = "lorvexWheelGuarded";
const char* const kGuardName = "lorvexWheelGuard";

} // namespace

void guardWheel(QWidget* root)
{
    if (!root)
        return;
    QObject* guard = root->findChild<QObject*>(QLatin1String(kGuardName), Qt::FindDirectChildrenOnly);
    if (!guard) {
        guard = new WheelGuard(root);
        guard->setObjectName(QLatin1String(kGuardName));
    }
    const QList<QWidget*> widgets = root->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (w->property(kGuarded).toBool())
            continue;
        if (!qobject_cast<QAbstractSpinBox*>(w) && !qobject_cast<QComboBox*>(w) && !qobject_cast<QAbstractSlider*>(w))
            continue;
        // Focus by click or tab only: passing the wheel over it gives none.
        w->setFocusPolicy(Qt::StrongFocus);
        w->installEventFilter(guard);
        w->setProperty(kGuarded, true);
    }
}
