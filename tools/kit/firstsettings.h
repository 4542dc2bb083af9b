// firstsettings.h - what a host chooses for a camera it meets for the first
// time. The plug-in's defaults leave colour output off and every exposure
// configuration at 0 ms, which a camera refuses; a host starts from them and
// picks values a person can use at once.
#ifndef LORVEXKIT_FIRSTSETTINGS_H
#define LORVEXKIT_FIRSTSETTINGS_H

class CameraInterface;

// A typical line-scan exposure: one line period of a 100 kHz line.
constexpr float kFirstExposureMs = 0.01f;

// Before the defaults are serialized: colour output on, and every exposure
// configuration kFirstExposureMs held within the camera's limits (left alone
// when the camera reports none). Host thread.
void chooseFirstSettings(CameraInterface* camera);

// After the settings are restored, once the sensor is known: colour output
// goes off again for a camera that does not deliver colour (a monochrome
// sensor, or one that is not there), so that its file never claims colour.
// Host thread.
void settleFirstSettings(CameraInterface* camera);

#endif
