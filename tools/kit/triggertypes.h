// triggertypes.h - what follows from the trigger-type codes for a host: their
// descriptions, which are fired by software, and whether the trigger settings
// fix the numbers each frame must carry. Every host of this project asks here;
// the codes themselves have their one home with the plug-in.
#ifndef LORVEXKIT_TRIGGERTYPES_H
#define LORVEXKIT_TRIGGERTYPES_H

#include "CameraLorvex/triggercodes.h"
#include "schedule.h"

#include <QString>
#include <QVector>

class CameraTrigParams;

namespace triggertypes {

using lorvex::trigger::kExternal;
using lorvex::trigger::kExternal16;
using lorvex::trigger::kExternal8;
using lorvex::trigger::kHostNumbered;
using lorvex::trigger::kSoftware;
using lorvex::trigger::kSoftwareDefault;  // the hosts' default

struct TypeInfo
{
    int code;
    const char* text;  // for people: what the type does
};
// The six types in code order.
const QVector<TypeInfo>& all();
// "1, 2, 4, 8, 16 or 32"
QString codesText();
bool isType(int code);

// Whether a software trigger of this type makes the device take a frame.
constexpr bool firesBySoftware(int type)
{
    return lorvex::trigger::firesDevice(type);
}

} // namespace triggertypes

// Which numbers a camera's frames must carry, from its trigger settings: the
// one rule every host checks numbering by.
struct NumberingRule
{
    ProductSchedule schedule;
    // False where the settings leave the numbers to chance: a product
    // time-out renumbers late frames by the clock; synchronised numbering
    // with another capture count follows the triggers only partly; numbers
    // from the trigger on a device that runs by itself all carry its one
    // arming trigger's numbers.
    bool checked = false;
    // The numbers come from the software trigger's arguments, not from a count.
    bool fromTrigger = false;
};

// `capturesTriggered`: captures the host triggers per product (0: as the
// settings' captures per product); `continuous`: the device runs by itself.
NumberingRule numberingRule(const CameraTrigParams& p, bool continuous, int capturesTriggered = 0);

#endif
