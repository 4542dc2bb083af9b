// framecounts.cpp
#include "framecounts.h"

#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QString>

#include <algorithm>

namespace {

// Records come from any thread: the frame path logs on the SDK's thread with
// the camera's mutex held, so this lock is always taken after that one and
// nothing is logged or locked while it is held. Read on the GUI thread.
QMutex g_lostMutex;
QHash<int, qint64> g_lost;  // camera index -> frames reported lost, under g_lostMutex
QtMessageHandler g_previous = nullptr;

// The frame path's continuity warning: "Camera N SDK with product P cycle C
// last frame E current frame F ... lost packets K". Frames E..F-1 were lost.
void countContinuity(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        "Camera (-?\\d+) SDK with product -?\\d+ cycle -?\\d+ last frame (\\d+) current frame (\\d+)"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return;
    const qint64 lost = std::max<qint64>(0, m.captured(3).toLongLong() - m.captured(2).toLongLong());
    QMutexLocker lock(&g_lostMutex);
    g_lost[m.captured(1).toInt()] += lost;
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg)
        countContinuity(text);
    if (type == QtDebugMsg)
        return; // the frame path's per-frame records would flood the terminal
    if (g_previous)
        g_previous(type, context, text);
}

} // namespace

void FrameCounts::received(int productId, int cycleCapture, const NumberingRule& rule)
{
    ++received_;
    if (productId <= 0)
        return;
    if (haveLast_ && rule.checked) {
        const int perProduct = std::max(1, rule.capturesPerProduct);
        const bool sameProduct = lastCapture_ < perProduct;
        const int wantProduct = sameProduct ? lastProduct_ : lastProduct_ + 1;
        const int wantCapture = sameProduct ? lastCapture_ + 1 : 1;
        if (productId != wantProduct || cycleCapture != wantCapture)
            ++misnumbered_;
    }
    haveLast_ = true;
    lastProduct_ = productId;
    lastCapture_ = cycleCapture;
}

qint64 FrameCounts::lostUpstream() const
{
    QMutexLocker lock(&g_lostMutex);
    return g_lost.value(cameraIndex_);
}

void FrameCounts::watchLog()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    g_previous = qInstallMessageHandler(handler);
}
