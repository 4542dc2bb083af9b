// The plug-in as a host meets it: the built module loaded from the plug-in
// folder, its metadata bytes, its single instance, the casts a host relies on,
// its meta-object and its identity. The host side is this program, compiled
// from its own copy of the interface headers.
#include <QCborMap>
#include <QCborValue>
#include <QFileInfo>
#include <QJsonObject>
#include <QLibrary>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QPointer>
#include <QtTest>

#include <typeinfo>

#include "camerainterface.h"
#include "pluginfile.h"
#include "stubcamera.h"

namespace {

const char kPluginIid[] = "com.zeq.quorlan.camerainterface.CameraLorvex";
const char kInterfaceIid[] = "com.zeq.quorlan.camerainterface";

using QueryMetadata = const char* (*)();
using InstanceFunction = QObject* (*)();

// The 79 bytes a release build of the plug-in must carry.
QByteArray expectedMetadata()
{
    QByteArray b("QTMETADATA !");
    b.append(char(0x00));             // format version
    b.append(char(5));                // Qt major
    b.append(char(15));               // Qt minor
    b.append(char(0x00));             // architecture requirements: none
    b.append(char(0xBF));             // map of indefinite length
    b.append(char(0x02));             // key 2: IID
    b.append(char(0x78)).append(char(44)).append(kPluginIid);
    b.append(char(0x03));             // key 3: class name
    b.append(char(0x6C)).append("CameraLorvex");
    b.append(char(0xFF));             // end of map
    return b;
}

// What a host reads through its own copy of CameraBase's layout. The
// undefined-behaviour sanitizer's dynamic-type check would need CameraBase's
// type information, which lives only in the plug-in (its key function is
// there), so this one access is kept out of that check.
struct BaseView
{
    QVector<ParamWrap*>* items;
    int channels;
    QSize size;
    QString serialNumber;
};

#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
BaseView viewOf(void* base)
{
    CameraBase* b = static_cast<CameraBase*>(base);
    return {&b->paramItems, b->channels, QSize(b->width, b->height), b->serialNumber};
}

} // namespace

class PluginEntryTest : public QObject
{
    Q_OBJECT

private:
    QPluginLoader loader;
    QLibrary library;
    QueryMetadata queryMetadata = nullptr;
    InstanceFunction instanceFunction = nullptr;

    CameraInterface* camera()
    {
        return qobject_cast<CameraInterface*>(instanceFunction());
    }

private slots:
    void initTestCase()
    {
        const QString path = pluginFilePath();
        QVERIFY2(!path.isEmpty(), "LORVEX_PLUGIN_DIR is not set");
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        loader.setFileName(path);
        QVERIFY2(loader.load(), qPrintable(loader.errorString()));
        library.setFileName(path);
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        queryMetadata = reinterpret_cast<QueryMetadata>(library.resolve("qt_plugin_query_metadata"));
        instanceFunction = reinterpret_cast<InstanceFunction>(library.resolve("qt_plugin_instance"));
        QVERIFY(queryMetadata);
        QVERIFY(instanceFunction);
    }

    // ---- metadata ----------------------------------------------------------

    void metadataBytes()
    {
        const char* raw = queryMetadata();
        QVERIFY(raw);
        QCOMPARE(queryMetadata(), raw);  // one array for the library's life
        const QByteArray expected = expectedMetadata();
        QCOMPARE(expected.size(), 79);
        const QByteArray actual(raw, expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QVERIFY2(actual.at(i) == expected.at(i),
                     qPrintable(QStringLiteral("byte %1: got 0x%2, want 0x%3").arg(i)
                                    .arg(quint8(actual.at(i)), 2, 16, QLatin1Char('0'))
                                    .arg(quint8(expected.at(i)), 2, 16, QLatin1Char('0'))));
        }
        // The version bytes follow the Qt the module was built with.
        QCOMPARE(int(quint8(raw[13])), QT_VERSION_MAJOR);
        QCOMPARE(int(quint8(raw[14])), QT_VERSION_MINOR);
    }

    void metadataCborMapHasExactlyIidAndClassName()
    {
        const QByteArray cbor(queryMetadata() + 16, 79 - 16);
        QCborParserError error;
        const QCborValue value = QCborValue::fromCbor(cbor, &error);
        QCOMPARE(error.error, QCborError::NoError);
        QCOMPARE(error.offset, qint64(cbor.size()));  // nothing after the map
        QVERIFY(value.isMap());
        const QCborMap map = value.toMap();
        QCOMPARE(map.size(), qsizetype(2));
        QCOMPARE(map.value(2).toString(), QString::fromLatin1(kPluginIid));
        QCOMPARE(map.value(3).toString(), QStringLiteral("CameraLorvex"));
        QVERIFY(!map.contains(4));  // no user metadata
        QVERIFY(!map.contains(5));  // no URI
    }

    void loaderReadsIidAndClassName()
    {
        const QJsonObject meta = loader.metaData();
        QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QString::fromLatin1(kPluginIid));
        QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("CameraLorvex"));
        QCOMPARE(meta.value(QStringLiteral("debug")).toBool(), false);
        QVERIFY(meta.value(QStringLiteral("MetaData")).toObject().isEmpty());
    }

    // ---- the instance --------------------------------------------------------

    void instanceIsSingleAndParentless()
    {
        QObject* first = instanceFunction();
        QVERIFY(first);
        QCOMPARE(instanceFunction(), first);
        QCOMPARE(loader.instance(), first);
        QVERIFY(!first->parent());
    }

    void interfaceCasts()
    {
        QObject* obj = instanceFunction();
        CameraInterface* camera = qobject_cast<CameraInterface*>(obj);
        QVERIFY(camera);
        // CameraInterface is the first base: no pointer adjustment.
        QCOMPARE(static_cast<void*>(camera), static_cast<void*>(obj));

        QCOMPARE(obj->qt_metacast("CameraLorvex"), static_cast<void*>(obj));
        QCOMPARE(obj->qt_metacast("CameraInterface"), static_cast<void*>(obj));
        QCOMPARE(obj->qt_metacast(kInterfaceIid), static_cast<void*>(camera));
        QCOMPARE(obj->qt_metacast("PluginInterface"),
                 static_cast<void*>(static_cast<PluginInterface*>(camera)));
        QCOMPARE(obj->qt_metacast("QObject"), static_cast<void*>(obj));
        QCOMPARE(obj->qt_metacast(nullptr), static_cast<void*>(nullptr));
        QCOMPARE(obj->qt_metacast("NoSuchClass"), static_cast<void*>(nullptr));
        QCOMPARE(obj->qt_metacast(kPluginIid), static_cast<void*>(nullptr));

        // The CameraBase sub-object follows the CameraInterface one, and the
        // host's copy of its layout must agree with the plug-in's: the item
        // list it finds there is the one getParamItems hands out.
        void* base = obj->qt_metacast("CameraBase");
        QVERIFY(base);
        QVERIFY(static_cast<char*>(base) >= static_cast<char*>(static_cast<void*>(obj)) + sizeof(CameraInterface));
        const BaseView view = viewOf(base);
        QCOMPARE(view.items, camera->getParamItems());
        QCOMPARE(view.channels, camera->getChannels());
        QCOMPARE(view.size, camera->getImageSize());
        QCOMPARE(view.serialNumber, camera->getSerialNumber());
    }

    void metaObjectShape()
    {
        const QMetaObject* mo = instanceFunction()->metaObject();
        QCOMPARE(mo->className(), "CameraLorvex");
        // No methods, properties, enumerators or class information of its own.
        QStringList ownMethods;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            ownMethods << QString::fromLatin1(mo->method(i).methodSignature());
        QVERIFY2(ownMethods.isEmpty(), qPrintable(QStringLiteral("own methods: ") + ownMethods.join(QStringLiteral(", "))));
        QCOMPARE(mo->propertyCount(), mo->propertyOffset());
        QCOMPARE(mo->enumeratorCount(), mo->enumeratorOffset());
        QCOMPARE(mo->classInfoCount(), mo->classInfoOffset());

        const QMetaObject* base = mo->superClass();
        QVERIFY(base);
        QCOMPARE(base->className(), "CameraInterface");
        QCOMPARE(base->superClass(), &QObject::staticMetaObject);
        QCOMPARE(base->methodCount() - base->methodOffset(), 3);
        QCOMPARE(base->propertyCount(), base->propertyOffset());
        QCOMPARE(base->enumeratorCount(), base->enumeratorOffset());
        QCOMPARE(base->classInfoCount(), base->classInfoOffset());
        QCOMPARE(base->constructorCount(), 0);

        const QByteArray signatures[] = {"captureCompleted(ImageProcessData)", "CameraLoss()",
                                         "CameraReconnect()"};
        for (int i = 0; i < 3; ++i) {
            const QMetaMethod m = base->method(base->methodOffset() + i);
            QCOMPARE(m.methodSignature(), signatures[i]);
            QCOMPARE(m.methodType(), QMetaMethod::Signal);
            QCOMPARE(m.access(), QMetaMethod::Public);
        }
        const QMetaMethod completed = base->method(base->methodOffset());
        QCOMPARE(completed.parameterNames(), QList<QByteArray>{"data"});
        QCOMPARE(completed.parameterTypes(), QList<QByteArray>{"ImageProcessData"});
        // The plug-in registers no meta-type of its own.
        QCOMPARE(completed.parameterType(0), int(QMetaType::UnknownType));
    }

    // ---- answers of the root object -------------------------------------------

    void identity()
    {
        CameraInterface* c = camera();
        QVERIFY(c);
        QCOMPARE(c->getPluginID(), QString::fromLatin1(kPluginIid));
        QCOMPARE(c->getPluginID(), loader.metaData().value(QStringLiteral("IID")).toString());
        QCOMPARE(c->getPluginName(), QString::fromUtf8("Lorvex相机"));
        QCOMPARE(c->getVersion(), QStringLiteral("V1.10"));
        QCOMPARE(c->getHelpText(), QString::fromUtf8("请查看帮助文档"));
        // No host resources are registered here, so the icon path finds nothing.
        QVERIFY(c->getIcon().isNull());
    }

    void capabilities()
    {
        CameraInterface* c = camera();
        QVERIFY(c);
        QCOMPARE(c->hasCapabilityA(), true);
        QCOMPARE(c->hasCapabilityB(), false);
        QCOMPARE(c->hasCapabilityC(), false);
        QCOMPARE(c->hasCapabilityD(), true);
        QCOMPARE(c->getTriggerTypeMask(), 63);
        QCOMPARE(c->hostFlagQuery(), true);
        QCOMPARE(c->hostObjectQuery(), quint64(0));
    }

    void rootOwnsNoDevice()
    {
        CameraInterface* c = camera();
        QVERIFY(c);
        QCOMPARE(c->isContinuousMode(), false);
        QCOMPARE(c->isRunning, false);
        QCOMPARE(c->productCounter, 0);
    }

    // Must stay the last test of the instance: it replaces it.
    void instanceRecreatedAfterDelete()
    {
        QObject* first = instanceFunction();
        first->setProperty("lorvexTestMarker", true);
        QPointer<QObject> watch(first);
        delete first;
        QVERIFY(watch.isNull());

        QObject* second = instanceFunction();
        QVERIFY(second);
        // The allocator may reuse the address; the marker tells the objects apart.
        QVERIFY(!second->property("lorvexTestMarker").isValid());
        QCOMPARE(instanceFunction(), second);
        QCOMPARE(loader.instance(), second);
        QVERIFY(qobject_cast<CameraInterface*>(second));
    }

    // ---- host-side types, compiled from the host's copy of the header ----------

    void interfaceBaseDefaults()
    {
        StubCamera stub;
        CameraInterface* c = &stub;
        QCOMPARE(c->hasCapabilityC(), false);
        QCOMPARE(c->hasCapabilityD(), true);
        QVERIFY(c->getAdjustItems().isEmpty());
        QCOMPARE(c->selectExposure(0), 0);
        QCOMPARE(c->getExposureValue(-1), 0.0f);
        QCOMPARE(c->getExposureValue(0), 0.0f);
        float value = 12.5f;
        c->setExposureValue(0, value);
        QCOMPARE(value, 12.5f);

        QCOMPARE(c->isRunning, false);
        QCOMPARE(c->productCounter, 0);
        QCOMPARE(c->cycleCapture, 0);
        QCOMPARE(c->cycleProduct, 0);
        QVERIFY(!c->triggerCallback);
        QVERIFY(!c->cycleTimer.isValid());
        QVERIFY(c->lastFrameTime.isValid());
        QVERIFY(qAbs(c->lastFrameTime.msecsTo(QTime::currentTime())) < 60000);
        QCOMPARE(c->metaObject()->className(), "CameraInterface");
        QCOMPARE(c->qt_metacast(kInterfaceIid), static_cast<void*>(nullptr));  // only the plug-in class answers it
        QCOMPARE(c->qt_metacast("PluginInterface"), static_cast<void*>(static_cast<PluginInterface*>(c)));
    }

    void imageProcessDataDefaultsAndCopy()
    {
        ImageProcessData d;
        QCOMPARE(d.hostFlag1, false);
        QCOMPARE(d.hostFlag2, false);
        QVERIFY(!d.captureTime.isValid());
        QVERIFY(!d.hostTime.isValid());
        QCOMPARE(d.cameraIndex, 0);
        QCOMPARE(d.productId, -1);
        QCOMPARE(d.cycleCapture, 1);
        QCOMPARE(d.cycleProduct, 1);
        QVERIFY(d.image.empty());
        QCOMPARE(d.hostInt2, 0);
        QCOMPARE(d.hostInt3, 0);
        QCOMPARE(d.hostInt4, 0);
        QVERIFY(d.hostList1.isEmpty());
        QVERIFY(d.hostResults.isEmpty());
        QCOMPARE(d.hostInt5, 0);
        QCOMPARE(d.hostText1, QStringLiteral(""));
        QVERIFY(!d.hostText1.isNull());
        QCOMPARE(d.hostFlag5, false);
        QVERIFY(d.hostText2.isNull());
        QVERIFY(d.hostList2.isEmpty());

        // A copy shares the pixels and carries the numbers.
        d.image = cv::Mat::zeros(4, 6, CV_8UC3);
        d.productId = 7;
        d.hostResults.insert(QStringLiteral("r"), HostResult());
        const ImageProcessData copy = d;
        QCOMPARE(copy.image.data, d.image.data);
        QCOMPARE(copy.productId, 7);
        QCOMPARE(copy.hostResults.size(), 1);
    }

    void trigParamsDefaultsAndAssignment()
    {
        const CameraTrigParams p;
        QCOMPARE(p.triggerType, 4);
        QCOMPARE(p.hostParam1, 0);
        QCOMPARE(p.hostParam2, 0);
        QCOMPARE(p.hostParam3, 1);
        QCOMPARE(p.capturesPerProduct, 1);
        QCOMPARE(p.hostParam4, 0);
        QCOMPARE(p.hostParam5, 1);
        QCOMPARE(p.hostText, QStringLiteral("A"));
        QCOMPARE(p.hostParam6, 0);
        QCOMPARE(p.hostParam7, 0);
        QCOMPARE(p.hostParam8, 0);
        QCOMPARE(p.productsPerCycle, 1);
        QCOMPARE(p.cycleTimeout, 0);
        QCOMPARE(p.syncProductId, 0);
        QCOMPARE(p.hostParam9, 1);
        QCOMPARE(p.hostParam10, 0);
        QCOMPARE(p.hostParam11, 0);
        QCOMPARE(p.hostParam12, 0);
        QVERIFY(p.hostOptions.isEmpty());

        // Assignment keeps the target's dynamic type and shares the containers.
        struct HostTrigParams : CameraTrigParams {};
        HostTrigParams target;
        CameraTrigParams source;
        source.hostText = QStringLiteral("line 4");
        source.hostOptions.insert(QStringLiteral("k"), 3);
        source.cycleTimeout = 250;
        static_cast<CameraTrigParams&>(target) = source;
        QVERIFY(typeid(static_cast<CameraTrigParams&>(target)) == typeid(HostTrigParams));
        QCOMPARE(target.cycleTimeout, 250);
        QCOMPARE(target.hostText.constData(), source.hostText.constData());
        QVERIFY(target.hostOptions.isSharedWith(source.hostOptions));
    }
};

QTEST_MAIN(PluginEntryTest)
#include "tst_plugin_entry.moc"
