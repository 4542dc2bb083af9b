// flagvalue.cpp
#include "flagvalue.h"

bool looksLikeFlag(const QString& value)
{
    return value.startsWith(QLatin1Char('-')) && value.size() > 1 && !value.at(1).isDigit() && value.at(1) != QLatin1Char('.');
}
