// mainwindow.h - the attached cameras with their state, and one tab per
// opened camera.
#ifndef LORVEXVIEWER_MAINWINDOW_H
#define LORVEXVIEWER_MAINWINDOW_H

#include <QMainWindow>
#include <QVector>

class CameraTab;
class ViewerHost;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QTreeWidget;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `running`: cameras are opened with the running flag set.
    MainWindow(ViewerHost* host, bool running, QWidget* parent = nullptr);
    // Closes every camera while the window is still whole.
    ~MainWindow() override;

    // Opens the camera in a new tab (or shows its tab). Null when no
    // plug-in lists it.
    CameraTab* openCamera(const QString& serial);
    QVector<CameraTab*> tabs() const;
    void say(const QString& text);
    // All open cameras side by side (true) or one tab each (false).
    void setTiled(bool on);
    bool tiled() const;

private:
    void closeTab(int index);
    void updateList();
    static QString attachedText(const QString& serial);

    ViewerHost* host_;
    bool running_;
    int nextIndex_ = 0;
    QTreeWidget* list_;
    QStackedWidget* centre_;
    QTabWidget* tabs_;
    QSplitter* tiles_;
    QPushButton* tile_;
    QTimer* listTimer_;
    QVector<CameraTab*> open_;  // in opening order
};

#endif
