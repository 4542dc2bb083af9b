// serialrule.h - which serial numbers the plug-in opens: the one home of the
// rule, for the plug-in and for the hosts that explain a camera it refuses.
// Self-contained (no Qt, no other header) so that hosts can include it as it is.
#ifndef LORVEX_SERIALRULE_H
#define LORVEX_SERIALRULE_H

namespace lorvex {

// Serial numbers this short name no device (configuration left blank or
// cut): the plug-in never opens a camera whose serial number has this many
// characters or fewer.
constexpr int kLongestRefusedSerial = 8;

} // namespace lorvex

#endif // LORVEX_SERIALRULE_H
