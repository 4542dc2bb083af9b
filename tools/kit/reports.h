// reports.h - the per-frame report, the run summary and the contact sheet.
#ifndef LORVEXKIT_REPORTS_H
#define LORVEXKIT_REPORTS_H

#include "framewriter.h"

#include <QFile>
#include <QJsonObject>
#include <QString>
#include <QVector>

// One received image as the report lists it.
struct FrameRecord
{
    QString camera;        // serial number
    int cameraIndex = 0;
    int product = 0;           // the product the frame stands for (see namedBy)
    int capture = 0;
    int productInCycle = 0;    // the plug-in's
    int pluginProduct = 0;     // the numbers the plug-in gave the frame
    int pluginCapture = 0;
    // "trigger": named after the software trigger it answers; "plug-in":
    // the host knows no trigger, so the plug-in's numbers name it.
    QString namedBy = QStringLiteral("plug-in");
    qint64 deviceTimeMs = 0;   // device clock, from the image's capture time
    qint64 receiveTimeMs = 0;  // PC clock when the plug-in delivered it
    qint64 hostTimeMs = 0;     // PC clock when the host received it
    int width = 0;
    int height = 0;
    int channels = 0;
    QString file;              // PNG name, empty when images are not saved
};

// frames.csv, written row by row and flushed, so that an interrupted or
// failing run keeps every row received so far.
class FrameCsv
{
public:
    bool open(const QString& path, QString& error);
    void append(const FrameRecord& r);
    void close();
    QString path() const { return file_.fileName(); }
    static QString header();
    static QString row(const FrameRecord& r);

private:
    QFile file_;
};

// Writes `json` to `path` (atomically). Returns false with `error`.
bool writeJsonFile(const QString& path, const QJsonObject& json, QString& error);

// Lays the thumbnails out in a grid, each label right under its own image,
// and writes the sheet as PNG; a crossed-out placeholder stands for each
// image not written. Returns false with `error` (also when there is nothing).
bool writeContactSheet(const QString& path, const QVector<Thumbnail>& thumbs, QString& error, int columns = 4);

#endif
