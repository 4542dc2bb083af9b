// Placeholder until the panel builder lands.
#include "cameraparams.h"

CameraBase::CameraBase() : exposureNames(new QString[1]) {}
CameraBase::~CameraBase() { delete[] exposureNames; }
void CameraBase::readParamsWrap(QJsonObject&) {}
void CameraBase::writeParamsWrap(QJsonObject&) {}
void CameraBase::buildParamsWrap() {}
