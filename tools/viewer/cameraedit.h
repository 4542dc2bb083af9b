// cameraedit.h - the one way the viewer changes a camera's settings.
#ifndef LORVEXVIEWER_CAMERAEDIT_H
#define LORVEXVIEWER_CAMERAEDIT_H

#include <functional>

class CameraBase;
class CameraInterface;

// Runs `write` (which stores through item pointers) with the camera's mutex
// held, because the frame path and the reconnect read those fields on other
// threads; then, with the mutex released (the camera locks it itself),
// tells the camera with paramsChanged().
void applyEdit(CameraInterface* camera, const std::function<void()>& write);

// Runs `read` with the camera's mutex held, so that values the device wrote
// back on another thread are seen whole.
void readLocked(CameraInterface* camera, const std::function<void()>& read);

// The camera's settings record, when the plug-in exposes one; null otherwise.
CameraBase* settingsOf(CameraInterface* camera);

#endif
