// camerainterface.h - the host's camera interfaces.
//
// This header is shared with the host application byte for byte: the class
// layouts and the order of every virtual operation below are a binary contract.
// Never reorder, insert or remove a virtual, a data member or a base.
#ifndef CAMERAINTERFACE_H
#define CAMERAINTERFACE_H

#include <QBitArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QTime>
#include <QVariant>
#include <QVector>
#include <QtDebug>

#include <functional>
#include <memory>

#include <opencv2/core.hpp>

#include "cameraparams.h"

// ---------------------------------------------------------------------------
// Parameters to and from JSON.
class SerializeInterface
{
public:
    virtual ~SerializeInterface() {}
    virtual void deserialize(const QJsonObject& json) = 0;
    virtual void serialize(QJsonObject& json) = 0;
};

// Identity of a plug-in.
class PluginInterface : public SerializeInterface
{
public:
    virtual QString getPluginID() = 0;
    virtual QString getPluginName() = 0;
    virtual QString getVersion() = 0;
    virtual QString getHelpText() = 0;
    virtual QPixmap getIcon() = 0;
    // The camera's panel items; the caller does not own the list.
    virtual QVector<ParamWrap*>* getParamItems() = 0;
    virtual bool hostFlagQuery() = 0;
    virtual quint64 hostObjectQuery() = 0;
};

// ---------------------------------------------------------------------------
// Host-side records carried inside ImageProcessData. The camera plug-in only
// default-constructs, copies and destroys them.
struct HostObject;

struct HostResult
{
    QString text;
    bool flag1 = false;
    QBitArray bits;
    bool flag2 = false;
    QMap<QString, QVariant> values;
    QVector<std::shared_ptr<HostObject>> objects;
};

// One finished image with its numbers; the value that captureCompleted carries.
// Copies share the pixel buffer (cv::Mat and Qt containers are shared).
struct ImageProcessData
{
    bool hostFlag1 = false;
    bool hostFlag2 = false;
    QDateTime captureTime;   // from the device time stamp, ms since the epoch
    QDateTime hostTime;
    int hostInt1 = 0;
    int cameraIndex = 0;
    int productId = -1;
    int cycleCapture = 1;
    int cycleProduct = 1;
    cv::Mat image;           // CV_8UC1, or CV_8UC3 in red-green-blue order
    int hostInt2 = 0;
    int hostInt3 = 0;
    int hostInt4 = 0;
    bool hostFlag3 = false;
    bool hostFlag4 = false;
    QVector<std::shared_ptr<HostObject>> hostList1;
    QMap<QString, HostResult> hostResults;
    int hostInt5 = 0;
    QString hostText1 = QStringLiteral("");  // empty, but not null
    bool hostFlag5 = false;
    qint64 receiveTime = 0;  // PC clock at delivery, ms since the epoch
    QString hostText2;
    QVector<std::shared_ptr<HostObject>> hostList2;
};

// ---------------------------------------------------------------------------
// The host's trigger type and product-numbering settings.
//
// Trigger types (single bits): 1, 8, 16 are not fired by software; 2, 4 and 32
// are. With 32 and syncProductId <= 0 the software trigger sets the numbers.
class CameraTrigParams
{
public:
    virtual ~CameraTrigParams() {}

    int triggerType = 4;
    int hostParam1 = 0;
    int hostParam2 = 0;
    int hostParam3 = 1;
    int capturesPerProduct = 1;
    int hostParam4 = 0;
    int hostParam5 = 1;
    QString hostText = QStringLiteral("A");
    int hostParam6 = 0;
    int hostParam7 = 0;
    int hostParam8 = 0;
    int productsPerCycle = 1;
    int cycleTimeout = 0;     // ms; 0 or less switches the time-out off
    int syncProductId = 0;
    int hostParam9 = 1;
    int hostParam10 = 0;
    int hostParam11 = 0;
    int hostParam12 = 0;
    QMap<QString, QVariant> hostOptions;
};

// ---------------------------------------------------------------------------
// One camera. The plug-in's root instance is a CameraInterface too: it serves
// as the factory (createCamera) and the device lister (getCameraList).
//
// Threads: interface calls come from the host's thread; captureCompleted is
// emitted on the SDK's image thread with getMutex() held; CameraLoss and
// CameraReconnect come from SDK or thread-pool threads.
class CameraInterface : public QObject, public PluginInterface
{
    Q_OBJECT
public:
    explicit CameraInterface(QObject* parent = nullptr) : QObject(parent) {}
    ~CameraInterface() override {}

    virtual QString getSerialNumber() = 0;
    virtual void paramsChanged() = 0;
    virtual QSize getImageSize() = 0;
    virtual int getChannels() = 0;
    virtual void softTrigger(int productId, int triggerIndex, std::function<void()> callback) = 0;
    virtual CameraInterface* createCamera(int cameraIndex, QString serialNumber, int deviceIndex) = 0;
    virtual QVector<QString> getCameraList(int& count) = 0;
    virtual bool hasCapabilityA() = 0;
    virtual int getTriggerTypeMask() = 0;
    virtual void setTrigParams(CameraTrigParams* params) = 0;
    virtual void hostHookA() = 0;
    virtual bool isContinuousMode() = 0;
    virtual void saveParams() = 0;
    virtual void loadParams() = 0;
    virtual void setExposureCount(int count) = 0;
    virtual bool hasCapabilityB() = 0;
    virtual bool hasCapabilityC() { return false; }
    virtual QMutex* getMutex() = 0;
    virtual cv::Mat getBlankImage() = 0;
    virtual void hostHookB() = 0;
    virtual void closeCamera() = 0;
    virtual void restartCamera() = 0;
    virtual bool hasCapabilityD() { return true; }
    virtual QVector<AdjustItem> getAdjustItems() { return QVector<AdjustItem>(); }
    virtual int selectExposure(int index) { (void)index; return 0; }
    virtual void setExposureValue(int index, float& value) { (void)index; (void)value; }
    virtual float getExposureValue(int index) { (void)index; return 0.0f; }

    // Numbers one frame by product, capture within the product and product
    // within the cycle. Runs on the frame path with getMutex() held.
    inline void getProductID(int cameraIndex, CameraTrigParams* params,
                             int& productId, int& cycleCapture, int& cycleProduct);

    // Written by the host under getMutex(); read by the frame path.
    bool isRunning = false;
    int productCounter = 0;
    int cycleCapture = 0;
    int cycleProduct = 0;
    std::function<void()> triggerCallback;
    QTime lastFrameTime = QTime::currentTime();
    QElapsedTimer cycleTimer;

signals:
    void captureCompleted(ImageProcessData data);
    void CameraLoss();
    void CameraReconnect();
};

#define CameraInterface_iid "com.zeq.quorlan.camerainterface"
Q_DECLARE_INTERFACE(CameraInterface, CameraInterface_iid)

inline void CameraInterface::getProductID(int cameraIndex, CameraTrigParams* params,
                                          int& productId, int& cycleCapture, int& cycleProduct)
{
    productId = 0;
    cycleCapture = 1;
    cycleProduct = 1;
    if (!isRunning)
        return;

    // With type 32 and no sync the software trigger set the numbers itself.
    const bool counted = !(params->triggerType == 32 && params->syncProductId <= 0);
    if (counted) {
        // Settings below 1 act like 1: every capture a new product, every
        // product the first of its cycle.
        ++this->cycleCapture;
        bool newProduct = false;
        if (this->cycleCapture > params->capturesPerProduct) {
            this->cycleCapture = 1;
            newProduct = true;
        } else if (this->cycleCapture == 1) {
            newProduct = true;
        }
        if (newProduct) {
            ++productCounter;
            ++this->cycleProduct;
            if (this->cycleProduct > params->productsPerCycle)
                this->cycleProduct = 1;
        }

        if (params->cycleTimeout > 0) {
            const bool opensProductOrCycle =
                (params->capturesPerProduct > 1 && this->cycleCapture == 1)
                || (params->productsPerCycle > 1 && this->cycleProduct == 1);
            if (opensProductOrCycle || !cycleTimer.isValid()) {
                // A timer that was never started cannot have timed out: the
                // software trigger or new settings may have left a counter
                // above 1 before any product was opened. Start it here.
                cycleTimer.start();
            } else if (cycleTimer.elapsed() > static_cast<qint64>(params->cycleTimeout)) {
                cycleTimer.start();
                if (this->cycleCapture > 1) {
                    qWarning() << "Camera" << cameraIndex << "cycle capture timeout with product"
                               << productCounter << "cycle" << this->cycleCapture;
                    this->cycleCapture = 1;
                    ++productCounter;
                }
                if (this->cycleProduct > 1) {
                    qWarning() << "Camera" << cameraIndex << "cycle product timeout with product"
                               << productCounter << "cycle" << this->cycleProduct;
                    this->cycleProduct = 1;
                }
            }
        }
    }

    productId = productCounter;
    cycleCapture = this->cycleCapture;
    cycleProduct = this->cycleProduct;
}

#endif // CAMERAINTERFACE_H
