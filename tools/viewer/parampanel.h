// parampanel.h - the camera's parameter panel, rendered from the items the
// plug-in describes: one control per item, in the items' order.
#ifndef LORVEXVIEWER_PARAMPANEL_H
#define LORVEXVIEWER_PARAMPANEL_H

#include <QSet>
#include <QVector>
#include <QWidget>

#include <functional>

class CameraInterface;
class ParamWrap;
class QFormLayout;
class QLabel;
class QVBoxLayout;

class ParamPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ParamPanel(CameraInterface* camera, QWidget* parent = nullptr);

    // Throws away every control and renders getParamItems() anew. Needed
    // whenever the camera replaced its items (the old ones must no longer be
    // touched).
    void rebuild();
    // Shows the values and limits the camera holds now.
    void refresh();

    // The control made for item `index` (for tests and the screenshot).
    QWidget* controlFor(int index) const;
    int itemCount() const { return controls_.size(); }

signals:
    // An edit reached the camera: written, paramsChanged() called, re-read.
    void edited();
    // For people: an edit the camera did not take.
    void message(const QString& text);

private:
    void addItem(ParamWrap* item);
    QWidget* addLineEdit(ParamWrap* item);
    QWidget* addOptions(ParamWrap* item, bool exclusive);
    QWidget* addCombo(ParamWrap* item);
    QFormLayout* currentForm();
    void commit(const std::function<void()>& write);
    // Which way a row's value goes, from the address it is bound to: a
    // tooltip line and a mark for its label.
    QString pathOf(const void* value) const;
    QString markOf(const void* value) const;
    QLabel* rowLabel(const QString& name, const QString& tip, const void* value);
    // Checks once the camera had time to apply an edit (its restart may run
    // on another thread) that `taken` holds; says so when it does not.
    void checkTaken(const QString& what, const std::function<bool()>& taken);

    CameraInterface* camera_;
    QVBoxLayout* outer_;
    QWidget* body_ = nullptr;
    QVBoxLayout* bodyLayout_ = nullptr;
    QFormLayout* form_ = nullptr;
    QVector<QWidget*> controls_;                 // one per item, by index
    QVector<std::function<void()>> showValues_;  // run with the camera's mutex held
    QSet<const void*> toDevice_;    // values the plug-in sends to the device (exposure times)
    QSet<const void*> fromDevice_;  // values it reads back from the device
    int generation_ = 0;            // counts rebuilds: a late check of old items is dropped
};

#endif
