// valueaccess.h - reading and writing the values that panel and quick-adjust
// items point at. Items carry a type code and untyped pointers; every access
// goes through here so that a null pointer or an unknown code is refused in
// one place instead of being dereferenced.
#ifndef LORVEXVIEWER_VALUEACCESS_H
#define LORVEXVIEWER_VALUEACCESS_H

#include <QString>

namespace valueaccess {

// True for the codes whose value is a number (Int, Float, Double).
bool isNumeric(int valueType);

// The number behind `p` of type `valueType`; `fallback` when p is null or
// the type is not numeric, or the stored number is not finite.
double readNumber(int valueType, const void* p, double fallback = 0.0);

// Stores `v` through `p`, rounded to the nearest integer for Int. Does
// nothing for a null pointer or a non-numeric type.
void writeNumber(int valueType, void* p, double v);

// The limits of an editing control: what the item's pointers give, or the
// type's whole range when a pointer is missing or the limits are reversed.
struct Range
{
    double min = 0.0;
    double max = 0.0;
    double step = 1.0;
    bool fromItem = false;  // false: the item gave no usable limits
};
Range rangeOf(int valueType, const void* minimum, const void* maximum, const void* step);

// `v` brought into `r` when the item gave limits; unchanged otherwise.
double clampTo(const Range& r, double v);

// Decimals a spin control needs to show steps of `step` (at least 2).
int decimalsFor(double step);

} // namespace valueaccess

#endif
