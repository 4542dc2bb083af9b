// The panel renderer, the quick-adjust sliders and the exposure bar against
// panels built by the plug-in's own builder.
#include "adjustsliders.h"
#include "camerasession.h"
#include "cameratab.h"
#include "exposurebar.h"
#include "panelcamera.h"
#include "parampanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QWheelEvent>
#include <QtTest>

namespace {

// Rows of the built panel with one exposure configuration.
enum Row { kImageSize = 0, kWidth = 3, kDistanceX = 5, kOther = 8, kMirror = 9, kExposureIndex = 11,
           kExposure0 = 12, kFrameRate = 13, kGain = 14, kDebounce = 18, kColour = 20 };

template <typename W>
W* control(ParamPanel& p, int row)
{
    W* w = qobject_cast<W*>(p.controlFor(row));
    if (!w)
        qWarning() << "row" << row << "is" << (p.controlFor(row) ? p.controlFor(row)->metaObject()->className() : "missing");
    return w;
}

// A camera whose panel is a hand-made list, for the kinds and value types
// the plug-in's own panel does not use.
struct CustomCamera : PanelCamera
{
    bool flag = false;
    double ratio = 2.5, ratioMin = 0.5, ratioMax = 8.0, ratioStep = 0.25;
    QString label = QStringLiteral("line 3");
    bool modes[3] = {false, true, false};
    QString modeNames[3] = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QString modeTips[3] = {QStringLiteral("tip a"), QStringLiteral("tip b"), QStringLiteral("tip c")};
    int outOfRange = 7;
    int tightMin = 0, tightMax = 5, tightStep = 1;
    QVector<ParamWrap*> custom;

    CustomCamera()
    {
        custom << new LineEditCameraParam("flag", "flag tip", false, false, 1, &flag, Bool, nullptr, nullptr, nullptr)
               << new LineEditCameraParam("ratio", "", false, false, 1, &ratio, Double, &ratioMin, &ratioMax, &ratioStep)
               << new LineEditCameraParam("label", "", false, false, 1, &label, String, nullptr, nullptr, nullptr)
               << new RadioBoxParam("mode", "", false, false, 1, modes, 3, modeNames, modeTips)
               << new LineEditCameraParam("held", "", false, false, 1, &outOfRange, Int, &tightMin, &tightMax, &tightStep)
               << new LineEditCameraParam("broken", "", false, false, 1, nullptr, Int, nullptr, nullptr, nullptr)
               << new LineEditCameraParam("odd", "", false, false, 1, &flag, 9, nullptr, nullptr, nullptr);
    }
    ~CustomCamera() override { qDeleteAll(custom); }
    QVector<ParamWrap*>* getParamItems() override { return &custom; }
};

} // namespace

class TestViewerPanel : public QObject
{
    Q_OBJECT
private slots:
    void rendersThePluginPanel()
    {
        PanelCamera cam;
        ParamPanel p(&cam);
        QCOMPARE(p.itemCount(), cam.paramItems.size());
        auto* heading = control<QGroupBox>(p, kImageSize);
        QVERIFY(heading);
        QCOMPARE(heading->title(), cam.paramItems[kImageSize]->name);
        QVERIFY(control<QGroupBox>(p, kOther));

        auto* width = control<QSpinBox>(p, kWidth);
        QVERIFY(width);
        QCOMPARE(width->minimum(), 0);  // widened: the unopened width 0 is shown as it is
        QCOMPARE(width->maximum(), 4096);
        QCOMPARE(width->singleStep(), 8);
        QCOMPARE(width->toolTip(), cam.paramItems[kWidth]->toolTip);

        auto* distance = control<QDoubleSpinBox>(p, kDistanceX);
        QVERIFY(distance);
        QCOMPARE(distance->maximum(), 1000.0);
        QCOMPARE(distance->singleStep(), double(0.1f));

        const QList<QCheckBox*> mirror = p.controlFor(kMirror)->findChildren<QCheckBox*>();
        QCOMPARE(mirror.size(), 2);
        QCOMPARE(mirror[1]->text(), cam.mirrorNames[1]);
        QCOMPARE(mirror[1]->toolTip(), cam.mirrorTips[1]);

        auto* rate = control<QComboBox>(p, kFrameRate);
        QVERIFY(rate);
        QCOMPARE(rate->count(), 3);  // four names stored, three offered
        QCOMPARE(rate->currentIndex(), 1);
        QCOMPARE(rate->itemData(2, Qt::ToolTipRole).toString(), cam.frameRateModeNames[2]);
        QCOMPARE(control<QSpinBox>(p, kDebounce)->value(), 50);
    }

    void limitsAreReadAgainOnRefresh()
    {
        PanelCamera cam;
        ParamPanel p(&cam);
        cam.gainLimits.max = 240;
        cam.gain = 200;
        cam.frameRateMode = 3;  // a stored index beyond the three entries offered
        p.refresh();
        QCOMPARE(control<QSpinBox>(p, kGain)->maximum(), 240);
        QCOMPARE(control<QSpinBox>(p, kGain)->value(), 200);
        QCOMPARE(control<QComboBox>(p, kFrameRate)->currentIndex(), -1);
        QCOMPARE(cam.frameRateMode, 3);  // shown as no selection, not rewritten
        QCOMPARE(cam.changes, 0);
    }

    void rendersEveryValueTypeAndKind()
    {
        CustomCamera cam;
        ParamPanel p(&cam);
        QCOMPARE(p.itemCount(), 7);
        QVERIFY(qobject_cast<QCheckBox*>(p.controlFor(0)));
        auto* ratio = qobject_cast<QDoubleSpinBox*>(p.controlFor(1));
        QVERIFY(ratio);
        QCOMPARE(ratio->value(), 2.5);
        QCOMPARE(ratio->singleStep(), 0.25);
        QCOMPARE(qobject_cast<QLineEdit*>(p.controlFor(2))->text(), QStringLiteral("line 3"));

        const QList<QRadioButton*> modes = p.controlFor(3)->findChildren<QRadioButton*>();
        QCOMPARE(modes.size(), 3);
        QVERIFY(modes[1]->isChecked());
        QCOMPARE(modes[2]->toolTip(), QStringLiteral("tip c"));
        modes[2]->click();
        QCOMPARE(cam.modes[0] || cam.modes[1], false);
        QVERIFY(cam.modes[2]);

        // A stored value outside the limits is shown, not clamped or written.
        auto* held = qobject_cast<QSpinBox*>(p.controlFor(4));
        QCOMPARE(held->value(), 7);
        QCOMPARE(cam.outOfRange, 7);
        held->setValue(6);
        QCOMPARE(cam.outOfRange, 5);  // a new value is kept within the limits

        QVERIFY(!p.controlFor(5)->isEnabled());  // no value pointer
        QVERIFY(!p.controlFor(6)->isEnabled());  // unknown value type
    }

    void editsWriteThenNotifyThenShowTheCamerasValues()
    {
        PanelCamera cam;
        ParamPanel p(&cam);
        QSignalSpy edited(&p, &ParamPanel::edited);
        int widthAtChange = -1;
        cam.onChange = [&] {
            widthAtChange = cam.width;
            cam.width = 2048;  // the device answers with its own width
        };
        control<QSpinBox>(p, kWidth)->setValue(1000);
        QCOMPARE(widthAtChange, 1000);
        QCOMPARE(cam.changes, 1);
        QVERIFY(cam.mutexFreeAtChange);
        QCOMPARE(control<QSpinBox>(p, kWidth)->value(), 2048);
        QCOMPARE(edited.count(), 1);

        cam.onChange = nullptr;
        p.controlFor(kColour)->findChild<QCheckBox*>()->click();
        QVERIFY(cam.colorImage);
        control<QComboBox>(p, kFrameRate)->setCurrentIndex(2);
        QCOMPARE(cam.frameRateMode, 2);
        control<QDoubleSpinBox>(p, kExposure0)->setValue(250.0);
        QCOMPARE(cam.exposureTimes[0], 100.0f);  // kept within the item's maximum
        QCOMPARE(cam.changes, 4);

        p.refresh();  // a refresh alone never writes
        QCOMPARE(cam.changes, 4);
    }

    void wheelScrollsThePanelUntilAFieldIsClickedInto()
    {
        auto* camera = new PanelCamera;
        PanelCamera& cam = *camera;
        CameraTab tab(new CameraSession(nullptr, QStringLiteral("S1"), 0, false, camera), nullptr);
        tab.resize(900, 300); // the column of controls must scroll
        tab.show();
        QApplication::setActiveWindow(&tab);
        QVERIFY(QTest::qWaitForWindowActive(&tab));
        QScrollArea* area = nullptr;
        for (QScrollArea* a : tab.findChildren<QScrollArea*>())
            if (a->widget() && a->widget()->isAncestorOf(tab.panel()))
                area = a;
        QVERIFY(area && area->verticalScrollBar()->maximum() > 0);
        auto* distance = control<QDoubleSpinBox>(*tab.panel(), kDistanceX);
        auto wheelUp = [&](QWidget* w) {
            const QPointF at(w->width() / 2.0, w->height() / 2.0);
            QWheelEvent e(at, QPointF(w->mapToGlobal(at.toPoint())), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(w, &e);
        };
        QScrollBar& bar = *area->verticalScrollBar();
        bar.setValue(bar.maximum());
        const double before = distance->value();
        for (int i = 0; i < 5; ++i)
            wheelUp(distance);
        QCOMPARE(distance->value(), before);
        QCOMPARE(cam.changes, 0);
        QVERIFY(bar.value() < bar.maximum());

        QTest::mouseClick(distance, Qt::LeftButton);
        QTRY_VERIFY(distance->hasFocus());
        wheelUp(distance);
        QVERIFY(distance->value() > before);
        QCOMPARE(cam.changes, 1);
    }

    // Each control says whether its value reaches the camera, and a flag the
    // camera answers with its own value is unchecked again with a message.
    void controlsSayTheirPathAndARefusedFlagIsTold()
    {
        auto* camera = new PanelCamera;  // owned by the session
        CameraTab tab(new CameraSession(nullptr, QStringLiteral("S1"), 0, false, camera), nullptr);
        ParamPanel& p = *tab.panel();
        auto path = [&p](int row) {
            const QWidget* label = static_cast<QFormLayout*>(p.controlFor(row)->parentWidget()->layout())->labelForField(p.controlFor(row));
            return label ? label->toolTip() : QString();
        };
        QVERIFY(path(kExposure0).contains(QLatin1String("Sent to the camera")));
        QVERIFY(path(kGain).contains(QLatin1String("does not send it to the camera")));
        QVERIFY(path(kMirror).contains(QLatin1String("Read from the camera")));
        QStringList sliderTexts;
        for (const QLabel* l : tab.findChild<AdjustSliders*>()->findChildren<QLabel*>())
            sliderTexts << l->text();
        QVERIFY2(sliderTexts.filter(QLatin1String("ms")).size() == 2, qPrintable(sliderTexts.join('|')));  // name and value
        QVERIFY2(sliderTexts.filter(QLatin1String("panel only")).size() == 1, qPrintable(sliderTexts.join('|')));

        QSignalSpy said(&tab, &CameraTab::message);
        camera->onChange = [camera] { camera->mirrorX = false; };  // the device keeps its own
        QCheckBox* horizontal = p.controlFor(kMirror)->findChild<QCheckBox*>();
        horizontal->click();
        QTRY_COMPARE(said.count(), 1);
        QVERIFY(said.at(0).at(0).toString().contains(QLatin1String("did not take")));
        QVERIFY(!horizontal->isChecked());
    }

    void exposureCountRebuildsPanelAndSliders()
    {
        // Wired as the viewer wires them: inside a camera's tab.
        auto* camera = new PanelCamera;  // owned by the session
        PanelCamera& cam = *camera;
        CameraTab tab(new CameraSession(nullptr, QStringLiteral("S1"), 0, false, camera), nullptr);
        ParamPanel& p = *tab.panel();
        ExposureBar& bar = *tab.findChild<ExposureBar*>();
        AdjustSliders& sliders = *tab.findChild<AdjustSliders*>();

        bar.countBox()->setValue(3);
        QCOMPARE(cam.exposureTimes[1], 0.02f); // new configurations start within the limits, not at 0
        QCOMPARE(cam.paramItems.size(), 24);
        QCOMPARE(p.itemCount(), 24);
        QCOMPARE(control<QComboBox>(p, kExposureIndex)->count(), 3);
        QCOMPARE(bar.currentBox()->count(), 3);

        control<QDoubleSpinBox>(p, kExposure0 + 2)->setValue(4.5);
        QCOMPARE(cam.exposureTimes[2], 4.5f);
        QCOMPARE(bar.send(2), 0);
        QCOMPARE(cam.sent.last(), 4.5f);
        QCOMPARE(bar.statusLabel()->text(), exposureStatusText(0));
        cam.selectStatus = int(0x80000106u);
        bar.send(2);
        QVERIFY(bar.statusLabel()->text().contains(QLatin1String("0x80000106 (feature not writable now)")));
        QCOMPARE(bar.send(7), -1);
        cam.selectStatus = 0;

        // The exposure slider follows the current configuration, and moving
        // it sends that configuration (which rebuilds the sliders under it).
        const int sentBefore = cam.sent.size();
        QTest::keyClick(sliders.slider(0), Qt::Key_End);  // as a person moves it
        QCOMPARE(cam.exposureTimes[2], 100.0f);
        QCOMPARE(cam.exposureTimes[0], 0.0f);
        QCOMPARE(cam.sent.size(), sentBefore + 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sliders.slider(1)->setValue(5);
        QCOMPARE(cam.gain, 5);
        QCOMPARE(control<QDoubleSpinBox>(p, kExposure0 + 2)->value(), 100.0);
    }
};

QTEST_MAIN(TestViewerPanel)
#include "tst_viewer_panel.moc"
