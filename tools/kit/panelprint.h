// panelprint.h - a camera's parameter panel as a table a person can read.
#ifndef LORVEXHOST_PANELPRINT_H
#define LORVEXHOST_PANELPRINT_H

#include <QString>
#include <QVector>

class ParamWrap;

// One panel row, read through the item's type name and pointers.
struct PanelRow
{
    QString heading;  // the group heading the row is under
    QString label;
    QString kind;     // the item's type name
    QString value;
    QString limits;
    QString options;
};

QVector<PanelRow> describePanel(const QVector<ParamWrap*>& items);
QString formatPanel(const QVector<PanelRow>& rows);

#endif
