// sdkstatus.h - a camera SDK's status codes in words, for people.
#ifndef LORVEXKIT_SDKSTATUS_H
#define LORVEXKIT_SDKSTATUS_H

#include <QString>

// "0x80000102 (value out of range or off the step)"; a code without a known
// meaning keeps its number alone. 0 is "0 (ok)".
QString sdkStatusText(int status);

#endif
