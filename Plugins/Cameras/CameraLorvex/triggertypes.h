// triggertypes.h - the host's trigger-type codes, as the plug-in acts on them.
//
// Each type is one bit of the host's trigger settings; the host's own header
// keeps them as plain numbers, so the plug-in names them here once.
#ifndef TRIGGERTYPES_H
#define TRIGGERTYPES_H

namespace lorvex {
namespace trigger {

// Fired by software; frames counted by product.
constexpr int kSoftware = 2;
// Fired by software; frames counted by product. A new settings record's type.
constexpr int kSoftwareDefault = 4;
// Fired by software; frames take their numbers from the trigger's arguments
// unless the numbering follows the product number (syncProductId above 0).
constexpr int kHostNumbered = 32;
// Every type this camera supports.
constexpr int kAllTypes = 63;

// Whether a software trigger of this type makes the device take a frame.
constexpr bool firesDevice(int type)
{
    return type == kSoftware || type == kSoftwareDefault || type == kHostNumbered;
}

} // namespace trigger
} // namespace lorvex

#endif // TRIGGERTYPES_H
