// mainwindow.cpp
#include "mainwindow.h"

#include "camerasession.h"
#include "cameratab.h"
#include "notopened.h"
#include "pluginwarnings.h"
#include "viewerhost.h"

#include <QDockWidget>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { kSerial, kState, kPlugin };
constexpr int kListEveryMs = 500;

} // namespace

// A camera that is not open: attached, or one the plug-in cannot open.
QString MainWindow::attachedText(const QString& serial)
{
    return pluginwarnings::serialRefusal(serial).isEmpty() ? tr("attached") : tr("cannot be opened");
}

MainWindow::MainWindow(ViewerHost* host, bool running, QWidget* parent)
    : QMainWindow(parent), host_(host), running_(running)
{
    setWindowTitle(tr("lorvexviewer"));
    centre_ = new QStackedWidget(this);
    tabs_ = new QTabWidget(centre_);
    tabs_->setTabsClosable(true);
    tabs_->setDocumentMode(true);
    tiles_ = new QSplitter(Qt::Vertical, centre_);
    centre_->addWidget(tabs_);
    centre_->addWidget(tiles_);
    setCentralWidget(centre_);
    connect(tabs_, &QTabWidget::tabCloseRequested, this, &MainWindow::closeTab);

    auto* dock = new QDockWidget(tr("Cameras"), this);
    dock->setFeatures(QDockWidget::DockWidgetMovable);
    auto* side = new QWidget(dock);
    auto* sideLayout = new QVBoxLayout(side);
    list_ = new QTreeWidget(side);
    list_->setHeaderLabels({tr("Serial"), tr("State"), tr("Plug-in")});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (const QString& s : host_->serials()) {
        auto* row = new QTreeWidgetItem(list_, {s, attachedText(s), host_->pluginNameOf(s)});
        const QString refusal = pluginwarnings::serialRefusal(s);
        row->setToolTip(kSerial, refusal.isEmpty() ? tr("Double-click to open") : refusal);
        row->setToolTip(kState, refusal);
    }
    auto* open = new QPushButton(tr("Open"), side);
    tile_ = new QPushButton(tr("Side by side"), side);
    auto* tile = tile_;
    tile->setCheckable(true);
    tile->setToolTip(tr("Show every open camera at once instead of one tab each"));
    connect(tile, &QPushButton::toggled, this, &MainWindow::setTiled);
    sideLayout->addWidget(list_);
    sideLayout->addWidget(open);
    sideLayout->addWidget(tile);
    dock->setWidget(side);
    side->setMinimumWidth(250);
    addDockWidget(Qt::LeftDockWidgetArea, dock);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { openCamera(item->text(kSerial)); });
    connect(open, &QPushButton::clicked, this, [this] {
        for (QTreeWidgetItem* item : list_->selectedItems())
            openCamera(item->text(kSerial));
    });

    listTimer_ = new QTimer(this);
    connect(listTimer_, &QTimer::timeout, this, &MainWindow::updateList);
    listTimer_->start(kListEveryMs);
    say(tr("%1 camera(s) attached: double-click one on the left to open it (settings in %2)")
            .arg(host_->serials().size()).arg(host_->settingsStore().folder()));
}

MainWindow::~MainWindow()
{
    listTimer_->stop();
    const QVector<CameraTab*> tabs = open_;
    open_.clear();
    for (CameraTab* t : tabs)
        t->session()->close();
}

CameraTab* MainWindow::openCamera(const QString& serial)
{
    for (CameraTab* t : open_) {
        if (t->session()->serial() == serial) {
            if (!tiled())
                tabs_->setCurrentWidget(t);
            return t;
        }
    }
    // Listed, but the plug-in never opens it: no session, and no loss to show.
    if (!pluginwarnings::serialRefusal(serial).isEmpty()) {
        say(whyNotOpened(serial, 0).text);
        return nullptr;
    }
    auto* session = new CameraSession(host_, serial, nextIndex_++, running_);
    for (const QString& m : session->messages())
        say(m);
    if (!session->valid()) {
        delete session;
        return nullptr;
    }
    auto* tab = new CameraTab(session, host_, tabs_);
    connect(tab, &CameraTab::message, this, &MainWindow::say);
    open_ << tab;
    if (tiled())
        tiles_->addWidget(tab);
    else
        tabs_->setCurrentIndex(tabs_->addTab(tab, serial));
    updateList();
    return tab;
}

QVector<CameraTab*> MainWindow::tabs() const
{
    return open_;
}

bool MainWindow::tiled() const
{
    return centre_->currentWidget() == tiles_;
}

void MainWindow::setTiled(bool on)
{
    if (on == tiled())
        return;
    // Moves the same camera widgets between the two layouts.
    for (CameraTab* t : open_) {
        if (on) {
            tabs_->removeTab(tabs_->indexOf(t));
            tiles_->addWidget(t);
            t->show();
        } else {
            tabs_->addTab(t, t->session()->serial());
        }
    }
    centre_->setCurrentWidget(on ? static_cast<QWidget*>(tiles_) : tabs_);
    QSignalBlocker block(tile_);
    tile_->setChecked(on);
}

void MainWindow::say(const QString& text)
{
    statusBar()->showMessage(text);
}

void MainWindow::closeTab(int index)
{
    auto* t = qobject_cast<CameraTab*>(tabs_->widget(index));
    tabs_->removeTab(index);
    open_.removeAll(t);
    if (t) {
        t->setEnabled(false);  // nothing may reach the camera while it stops
        t->session()->close();
        delete t;
    }
    updateList();
}

void MainWindow::updateList()
{
    const QVector<CameraTab*> open = tabs();
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list_->topLevelItem(i);
        QString state = attachedText(row->text(kSerial));
        for (CameraTab* t : open)
            if (t->session()->serial() == row->text(kSerial))
                state = stateText(t->session()->state());
        row->setText(kState, state);
    }
}
