// triggertypes.h - the host's trigger-type codes and what follows from them
// for a host: which are fired by software, and whether the trigger settings
// fix the numbers each frame must carry. Every host of this project asks here.
#ifndef LORVEXKIT_TRIGGERTYPES_H
#define LORVEXKIT_TRIGGERTYPES_H

#include "schedule.h"

#include <QString>
#include <QVector>

class CameraTrigParams;

namespace triggertypes {

constexpr int kExternal = 1;         // external trigger, frames counted; a new camera's type
constexpr int kSoftware = 2;         // software trigger, frames counted
constexpr int kSoftwareDefault = 4;  // software trigger, frames counted; the hosts' default
constexpr int kExternal8 = 8;
constexpr int kExternal16 = 16;
constexpr int kHostNumbered = 32;    // software trigger, numbers from the trigger unless synchronised

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
    return type == kSoftware || type == kSoftwareDefault || type == kHostNumbered;
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
