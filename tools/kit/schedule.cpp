// schedule.cpp
#include "schedule.h"

#include <algorithm>

QString FrameNumbers::text() const
{
    return QStringLiteral("(%1, %2, %3)").arg(product).arg(capture).arg(productInCycle);
}

ProductSchedule::ProductSchedule(int capturesPerProduct, int productsPerCycle)
    : cpp_(std::max(1, capturesPerProduct)), ppc_(std::max(1, productsPerCycle))
{
}

FrameNumbers ProductSchedule::at(qint64 ordinal) const
{
    const qint64 p = ordinal / cpp_ + 1;
    return {static_cast<int>(p), static_cast<int>(ordinal % cpp_) + 1, static_cast<int>((p - 1) % ppc_) + 1};
}

ProductCapture ProductSchedule::next(ProductCapture last) const
{
    if (last.capture < cpp_)
        return {last.product, last.capture + 1};
    return {last.product + 1, 1};
}

ProductCapture nextNumbers(ProductCapture last, int capturesPerProduct)
{
    return ProductSchedule(capturesPerProduct).next(last);
}
