// headless.h - the viewer's runs without a person: a picture of the window
// after some frames, and the display measurement.
#ifndef LORVEXVIEWER_HEADLESS_H
#define LORVEXVIEWER_HEADLESS_H

#include <QStringList>

class MainWindow;
class ViewerHost;
struct ViewerOptions;

// Opens `serials`, waits for options.frames frames from each and one drawn
// image, writes the window as PNG to options.screenshot. Returns an exit
// code; messages go to standard error.
int runScreenshot(MainWindow& window, const ViewerOptions& options, const QStringList& serials);

// Opens `serials` side by side with the running flag, receives and draws for
// options.measureSeconds, stops the devices' free run, and prints per camera
// the frames the SDK delivered, received, shown per second and not shown.
int runMeasure(MainWindow& window, const ViewerHost& host, const ViewerOptions& options, const QStringList& serials);

#endif
