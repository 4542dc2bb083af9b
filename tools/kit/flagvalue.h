// flagvalue.h - command-line checks every host of this project makes.
#ifndef LORVEXKIT_FLAGVALUE_H
#define LORVEXKIT_FLAGVALUE_H

#include <QString>

// True when a flag's value is itself a flag ("--out --no-images"): a
// forgotten value, never a folder or file name. Negative numbers are not
// flags; range checks judge them.
bool looksLikeFlag(const QString& value);

#endif
