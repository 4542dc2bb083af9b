// wheelguard.h - the mouse wheel over a column of controls scrolls the
// column; it edits a control only once the user has clicked (or tabbed) into
// it. A wheel that changed whatever field it passed over would send camera
// values nobody meant to set.
#ifndef LORVEXVIEWER_WHEELGUARD_H
#define LORVEXVIEWER_WHEELGUARD_H

class QWidget;

// Guards every spin box, combo box and slider under `root`, including ones
// added later by a rebuild, if this is called again after it. GUI thread.
void guardWheel(QWidget* root);

#endif
