// reports.cpp
#include "reports.h"

#include <QJsonDocument>
#include <QSaveFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

QString FrameCsv::header()
{
    return QStringLiteral("camera,camera_index,product,capture,product_in_cycle,device_time_ms,receive_time_ms,"
                          "latency_ms,width,height,channels,plugin_product,plugin_capture,named_by,file");
}

QString FrameCsv::row(const FrameRecord& r)
{
    // Serial numbers and file names never hold commas or quotes in practice,
    // but a device could report one: quote every text field.
    auto quoted = [](QString s) { return QStringLiteral("\"%1\"").arg(s.replace('"', QStringLiteral("\"\""))); };
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11,%12,%13,%14,%15")
        .arg(quoted(r.camera)).arg(r.cameraIndex).arg(r.product).arg(r.capture).arg(r.productInCycle)
        .arg(r.deviceTimeMs).arg(r.receiveTimeMs).arg(r.hostTimeMs - r.receiveTimeMs)
        .arg(r.width).arg(r.height).arg(r.channels).arg(r.pluginProduct).arg(r.pluginCapture).arg(r.namedBy)
        .arg(quoted(r.file));
}

bool FrameCsv::open(const QString& path, QString& error)
{
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error = QStringLiteral("%1: cannot be written: %2").arg(path, file_.errorString());
        return false;
    }
    file_.write((header() + '\n').toUtf8());
    file_.flush();
    return true;
}

void FrameCsv::append(const FrameRecord& r)
{
    if (!file_.isOpen())
        return;
    file_.write((row(r) + '\n').toUtf8());
    file_.flush();
}

void FrameCsv::close()
{
    file_.close();
}

bool writeJsonFile(const QString& path, const QJsonObject& json, QString& error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1: cannot be written: %2").arg(path, f.errorString());
        return false;
    }
    f.write(QJsonDocument(json).toJson(QJsonDocument::Indented));
    if (!f.commit()) {
        error = QStringLiteral("%1: cannot be written: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

namespace {

// The rows a thumbnail, or its placeholder, takes on the sheet.
int thumbRows(const Thumbnail& t)
{
    return t.image.empty() ? std::max(1, t.placeholderRows) : t.image.rows;
}

// A frame that was not written: a crossed-out box the size its thumbnail would have had.
void drawPlaceholder(cv::Mat& cell)
{
    const cv::Scalar kBox(90, 90, 90), kText(235, 235, 235);
    cell.setTo(cv::Scalar(24, 24, 24));
    cv::rectangle(cell, cv::Rect(0, 0, cell.cols, cell.rows), kBox, 1);
    cv::line(cell, cv::Point(0, 0), cv::Point(cell.cols - 1, cell.rows - 1), kBox, 1, cv::LINE_AA);
    cv::line(cell, cv::Point(0, cell.rows - 1), cv::Point(cell.cols - 1, 0), kBox, 1, cv::LINE_AA);
    if (cell.rows >= 14)
        cv::putText(cell, "not written", cv::Point(6, std::min(cell.rows - 4, cell.rows / 2 + 5)), cv::FONT_HERSHEY_SIMPLEX,
                    0.42, kText, 1, cv::LINE_AA);
}

} // namespace

bool writeContactSheet(const QString& path, const QVector<Thumbnail>& thumbs, QString& error, int columns)
{
    if (thumbs.isEmpty()) {
        error = QStringLiteral("no images for a contact sheet");
        return false;
    }
    constexpr int kGap = 6, kLabel = 18;
    const int cellW = FrameWriter::kThumbWidth;
    int cellH = 1;
    for (const Thumbnail& t : thumbs)
        cellH = std::max(cellH, thumbRows(t));
    columns = std::max(1, std::min(columns, thumbs.size()));
    const int rows = (thumbs.size() + columns - 1) / columns;
    cv::Mat sheet(kGap + rows * (cellH + kLabel + kGap), kGap + columns * (cellW + kGap), CV_8UC3, cv::Scalar(48, 48, 48));
    for (int i = 0; i < thumbs.size(); ++i) {
        const Thumbnail& t = thumbs[i];
        const int x = kGap + (i % columns) * (cellW + kGap);
        const int y = kGap + (i / columns) * (cellH + kLabel + kGap);
        const int h = std::min(thumbRows(t), cellH);
        if (t.image.empty()) {
            cv::Mat cell = sheet(cv::Rect(x, y, cellW, h));
            drawPlaceholder(cell);
        } else {
            const int w = std::min(t.image.cols, cellW);
            t.image(cv::Rect(0, 0, w, h)).copyTo(sheet(cv::Rect(x, y, w, h)));
        }
        // Right under its own image, however short: never nearer the next row's.
        cv::putText(sheet, t.label.toStdString(), cv::Point(x + 2, y + h + kLabel - 5),
                    cv::FONT_HERSHEY_SIMPLEX, 0.42, cv::Scalar(235, 235, 235), 1, cv::LINE_AA);
    }
    try {
        if (!cv::imwrite(path.toStdString(), sheet)) {
            error = QStringLiteral("%1: could not be written").arg(path);
            return false;
        }
    } catch (const cv::Exception& e) {
        error = QStringLiteral("%1: could not be written: %2").arg(path, QString::fromLocal8Bit(e.what()));
        return false;
    }
    return true;
}
