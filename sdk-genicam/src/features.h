// Typed feature access by GenICam name, with the standard fallbacks for
// cameras that name a feature the older way.
#pragma once

#include "MVCameraControl.h"
#include "featureformat.h"

#include <arv.h>

#include <string>

namespace gcc {

// The node for `name`, or for its older name when the camera lacks the
// current one (ExposureTime -> ExposureTimeAbs, Gain -> GainRaw, WidthMax ->
// SensorWidth, ...); null when the camera has neither.
ArvGcNode* findFeature(ArvDevice* device, const char* name);

// Each returns MV_OK, MV_E_GC_GENERIC (no such feature, wrong type, the
// camera refused), MV_E_GC_RANGE (outside the limits or the list) or
// MV_E_GC_ACCESS (not writable).
int getInt(ArvDevice* device, const char* name, MVCC_INTVALUE& out);
int getFloat(ArvDevice* device, const char* name, MVCC_FLOATVALUE& out);
int getBool(ArvDevice* device, const char* name, bool& out);
int getString(ArvDevice* device, const char* name, MVCC_STRINGVALUE& out);
int getEnum(ArvDevice* device, const char* name, MVCC_ENUMVALUE& out);
int setEnum(ArvDevice* device, const char* name, unsigned value);
int setFloat(ArvDevice* device, const char* name, double value);
// Any type, from a feature file's value (enumerations by entry name or value);
// MV_E_PARAMETER for a value the feature's type cannot read.
int setFromText(ArvDevice* device, const char* name, const vcc::FeatureValue& value);

} // namespace gcc
