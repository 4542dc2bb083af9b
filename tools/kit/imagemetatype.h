// imagemetatype.h - lets ImageProcessData travel through queued signals.
// Every host receives captureCompleted queued, so every host needs this once.
#ifndef LORVEXKIT_IMAGEMETATYPE_H
#define LORVEXKIT_IMAGEMETATYPE_H

#include "camerainterface.h"

#include <QMetaType>

Q_DECLARE_METATYPE(ImageProcessData)

#endif
