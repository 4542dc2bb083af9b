// cameratab.cpp
#include "cameratab.h"

#include "adjustsliders.h"
#include "camerasession.h"
#include "exposurebar.h"
#include "histogramview.h"
#include "imagedisplay.h"
#include "imageview.h"
#include "parampanel.h"
#include "productioncontrols.h"
#include "stripview.h"

#include <QDateTime>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr double kZoomStep = 1.5;

QPushButton* toolButton(const QString& text, const QString& tip, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setToolTip(tip);
    return b;
}

} // namespace

CameraTab::CameraTab(CameraSession* session, const ViewerHost* host, QWidget* parent)
    : QWidget(parent), session_(session)
{
    session_->setParent(this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->addWidget(split);

    // Left: the pictures.
    auto* left = new QWidget(split);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    auto* tools = new QHBoxLayout;
    auto* fit = toolButton(tr("Fit"), tr("Whole image in the window"), left);
    auto* one = toolButton(tr("1:1"), tr("One image pixel per screen pixel"), left);
    auto* zoomIn = toolButton(tr("Zoom +"), tr("Enlarge (or turn the wheel over the image)"), left);
    auto* zoomOut = toolButton(tr("Zoom −"), tr("Reduce"), left);
    auto* strip = toolButton(tr("Strip"), tr("Stack consecutive line-scan frames into one scrolling strip"), left);
    strip->setCheckable(true);
    stripButton_ = strip;
    auto* save = toolButton(tr("Save PNG…"), tr("Save the image shown"), left);
    for (QPushButton* b : {fit, one, zoomIn, zoomOut, strip, save})
        tools->addWidget(b);
    tools->addStretch(1);
    pixel_ = new QLabel(left);
    pixel_->setMinimumWidth(220);
    pixel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tools->addWidget(pixel_);
    leftLayout->addLayout(tools);

    views_ = new QStackedWidget(left);
    view_ = new ImageView(views_);
    strip_ = new StripView(views_);
    views_->addWidget(view_);
    views_->addWidget(strip_);
    leftLayout->addWidget(views_, 1);
    histogram_ = new HistogramView(left);
    histogram_->setFixedHeight(90);
    leftLayout->addWidget(histogram_);
    status_ = new QLabel(left);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long lines wrap instead of widening the window.
    status_->setWordWrap(true);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    leftLayout->addWidget(status_);

    connect(fit, &QPushButton::clicked, view_, &ImageView::fit);
    connect(one, &QPushButton::clicked, view_, &ImageView::actualSize);
    connect(zoomIn, &QPushButton::clicked, view_, [this] { view_->zoomBy(kZoomStep); });
    connect(zoomOut, &QPushButton::clicked, view_, [this] { view_->zoomBy(1.0 / kZoomStep); });
    connect(strip, &QPushButton::toggled, this, &CameraTab::showStrip);
    connect(save, &QPushButton::clicked, this, &CameraTab::askAndSave);
    connect(view_, &ImageView::pixelHovered, pixel_, &QLabel::setText);

    // Right: the controls, scrolling as one column.
    auto* scroll = new QScrollArea(split);
    scroll->setWidgetResizable(true);
    auto* column = new QWidget(scroll);
    auto* columnLayout = new QVBoxLayout(column);
    production_ = new ProductionControls(session_, host, column);
    columnLayout->addWidget(production_);
    auto* exposureBox = new QGroupBox(tr("Exposure"), column);
    auto* exposureLayout = new QVBoxLayout(exposureBox);
    exposure_ = new ExposureBar(session_->camera(), exposureBox);
    sliders_ = new AdjustSliders(session_->camera(), exposureBox);
    exposureLayout->addWidget(exposure_);
    exposureLayout->addWidget(sliders_);
    columnLayout->addWidget(exposureBox);
    panel_ = new ParamPanel(session_->camera(), column);
    columnLayout->addWidget(panel_);
    scroll->setWidget(column);
    split->addWidget(left);
    split->addWidget(scroll);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(column->minimumSizeHint().width() + 24);

    // Edits in one view of the settings show in the others.
    connect(panel_, &ParamPanel::edited, sliders_, &AdjustSliders::rebuild);
    connect(panel_, &ParamPanel::edited, exposure_, &ExposureBar::settingsEdited);
    connect(sliders_, &AdjustSliders::edited, panel_, &ParamPanel::refresh);
    connect(sliders_, &AdjustSliders::edited, exposure_, &ExposureBar::settingsEdited);
    connect(exposure_, &ExposureBar::itemsReplaced, panel_, &ParamPanel::rebuild);
    connect(exposure_, &ExposureBar::itemsReplaced, sliders_, &AdjustSliders::rebuild);
    connect(exposure_, &ExposureBar::currentChanged, sliders_, &AdjustSliders::rebuild);
    connect(exposure_, &ExposureBar::currentChanged, panel_, &ParamPanel::refresh);
    connect(production_, &ProductionControls::message, this, &CameraTab::message);
    connect(panel_, &ParamPanel::message, this, &CameraTab::message);

    connect(session_, &CameraSession::drawDue, this, &CameraTab::draw);
    connect(session_, &CameraSession::frameReceived, this, [this](const ImageProcessData& f) {
        const qint64 lost = session_->accounting().lostUpstream();
        const bool lostBefore = lost != lostSeen_;
        lostSeen_ = lost;
        if (showingStrip())
            strip_->append(f.image, whyNotJoined(f, lostBefore));
    });
    connect(session_, &CameraSession::stateChanged, this, [this] {
        // Geometry and limits come back from the device after a reconnect;
        // the quick-adjust list holds copies of its limits, so it is asked again.
        if (session_->state() == CameraState::Grabbing) {
            panel_->refresh();
            sliders_->rebuild();
            exposure_->refresh();
        }
        showStale();
        updateStatus();
    });
    showStale();
    connect(session_, &CameraSession::ratesUpdated, this, &CameraTab::updateStatus);
    updateStatus();
}

// The strip joins only frames that follow each other on the device.
QString CameraTab::whyNotJoined(const ImageProcessData& f, bool lostBefore) const
{
    if (f.productId <= 0)
        return tr("Not running: preview frames are thinned to one every 50 ms and do not join. "
                  "Tick \"running\" to stack consecutive frames.");
    if (lostBefore)
        return tr("Frames were lost before product %1 capture %2: the strip starts again here.")
            .arg(f.productId).arg(f.cycleCapture);
    return QString();
}

bool CameraTab::showingStrip() const
{
    return views_->currentWidget() == strip_;
}

void CameraTab::showStrip(bool on)
{
    if (!on)
        strip_->clear();
    QSignalBlocker block(stripButton_);
    stripButton_->setChecked(on);
    views_->setCurrentWidget(on ? static_cast<QWidget*>(strip_) : view_);
}

void CameraTab::draw()
{
    // A tab nobody sees draws nothing; its images stay "not shown".
    if (!isVisible() || !session_->gate().hasPending())
        return;
    shown_ = session_->gate().take();
    if (showingStrip()) {
        strip_->repaint();
    } else {
        view_->setImage(shown_.image);
        view_->repaint();
    }
    histogram_->setImage(shown_.image);
    updateStatus();
}

void CameraTab::showStale()
{
    const CameraState state = session_->state();
    const bool stale = CameraStateMachine::isDown(state) || state == CameraState::Closed;
    const QString mark = stale ? tr("%1 %2: last image, not live").arg(session_->serial(), stateText(state)) : QString();
    view_->setStale(mark);
    strip_->setStale(mark);
}

QString CameraTab::outageText() const
{
    const CameraStateMachine* m = session_->stateMachine();
    if (!m || m->outages() == 0)
        return tr("no outage");
    return tr("outages %1 (last %2 s, ended %3)")
        .arg(m->outages())
        .arg(m->lastOutageMs() / 1000.0, 0, 'f', 1)
        .arg(QDateTime::fromMSecsSinceEpoch(m->lastOutageEnd()).toString(QStringLiteral("HH:mm:ss")));
}

void CameraTab::updateStatus()
{
    const FrameAccounting& c = session_->accounting();
    const QString image = shown_.image.empty()
        ? tr("no image yet")
        : tr("product %1 · capture %2 · in cycle %3 · %4×%5")
              .arg(shown_.productId).arg(shown_.cycleCapture).arg(shown_.cycleProduct)
              .arg(shown_.image.cols).arg(shown_.image.rows);
    status_->setText(tr("%1 %2 · %3 | %4 · %5 | %6 shown/s of %7 received/s | received %8 · lost upstream %9 · misnumbered %10 · not shown %11")
                         .arg(session_->serial(), stateText(session_->state()), outageText(), image, session_->nextText())
                         .arg(session_->shownPerSecond(), 0, 'f', 1)
                         .arg(session_->receivedPerSecond(), 0, 'f', 1)
                         .arg(c.delivered()).arg(c.lostUpstream()).arg(c.misnumbered()).arg(session_->gate().notShownCount()));
}

QString CameraTab::statusText() const
{
    return status_->text();
}

bool CameraTab::saveShown(const QString& path, QString& error) const
{
    return imagedisplay::savePng(shown_.image, path, error);
}

void CameraTab::askAndSave()
{
    if (shown_.image.empty()) {
        emit message(tr("no image to save yet"));
        return;
    }
    const QString suggested = QStringLiteral("%1_p%2_c%3.png").arg(session_->serial()).arg(shown_.productId).arg(shown_.cycleCapture);
    const QString path = QFileDialog::getSaveFileName(this, tr("Save image"), suggested, tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    QString error;
    emit message(saveShown(path, error) ? tr("saved %1").arg(path) : error);
}
