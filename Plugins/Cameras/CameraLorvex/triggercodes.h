// triggercodes.h - the host's trigger-type codes: the one home of their
// numbers, for the plug-in and for every host of this project.
//
// Each type is one bit of the host's trigger settings; the host's own header
// keeps them as plain numbers, so they are named here once. Self-contained
// (no Qt, no other header) so that hosts can include it as it is.
#ifndef LORVEX_TRIGGERCODES_H
#define LORVEX_TRIGGERCODES_H

namespace lorvex {
namespace trigger {

// External trigger, frames counted by product; a new camera's type.
constexpr int kExternal = 1;
// Fired by software; frames counted by product.
constexpr int kSoftware = 2;
// Fired by software; frames counted by product. A new settings record's type.
constexpr int kSoftwareDefault = 4;
// External triggers, frames counted by product.
constexpr int kExternal8 = 8;
constexpr int kExternal16 = 16;
// Fired by software; frames take their numbers from the trigger's arguments
// unless the numbering follows the product number (syncProductId above 0).
constexpr int kHostNumbered = 32;
// Every type this camera supports.
constexpr int kAllTypes = kExternal | kSoftware | kSoftwareDefault | kExternal8 | kExternal16 | kHostNumbered;

// Whether a software trigger of this type makes the device take a frame.
constexpr bool firesDevice(int type)
{
    return type == kSoftware || type == kSoftwareDefault || type == kHostNumbered;
}

} // namespace trigger
} // namespace lorvex

#endif // LORVEX_TRIGGERCODES_H
