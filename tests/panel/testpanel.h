// A CameraBase that owns its panel items the way the camera object does, so
// panel tests need no device driver.
#ifndef TESTPANEL_H
#define TESTPANEL_H

#include "cameraparams.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

class TestPanel : public CameraBase
{
public:
    enum Build { Built, Unbuilt };

    explicit TestPanel(int count = 1, Build build = Built)
    {
        exposureCount = count;
        if (build == Built)
            buildParamsWrap();
    }
    ~TestPanel()
    {
        qDeleteAll(paramItems);
        qDeleteAll(retired);
    }

    // What the camera does when the number of configurations changes.
    void rebuild(int count)
    {
        exposureCount = count;
        retired += paramItems;
        paramItems.clear();
        buildParamsWrap();
    }

    QJsonArray stored()
    {
        QJsonObject json;
        writeParamsWrap(json);
        return json.value(QStringLiteral("paramsWrap")).toArray();
    }

    void restore(const QJsonValue& paramsWrap)
    {
        QJsonObject json{{QStringLiteral("paramsWrap"), paramsWrap}};
        readParamsWrap(json);
    }

    QVector<ParamWrap*> retired;
};

inline QJsonArray parseArray(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).array();
}

inline QString compact(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

#endif // TESTPANEL_H
