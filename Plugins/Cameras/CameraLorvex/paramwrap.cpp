// Placeholder until the panel items land.
#include "cameraparams.h"

ParamWrap::ParamWrap(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level)
    : name(name), toolTip(toolTip), itemFlag(itemFlag), level(level), isRunningShow(isRunningShow), itemFlag2(false) {}
ParamWrap::~ParamWrap() {}
QString ParamWrap::typeName() { return QString(); }
bool ParamWrap::queryFlag() { return false; }
void ParamWrap::readJson(QJsonObject&) {}
void ParamWrap::writeJson(QJsonObject&) {}
