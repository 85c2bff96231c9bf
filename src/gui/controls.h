#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QAbstractItemView;
class QDateEdit;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace ondrel {

// The font of the layouts; "MS PGothic" is mapped to the installed IPA font.
QFont WindowsFont(double points);

// A label named as the layout names it, placed in twips.
QLabel* TwipsLabel(QWidget* parent, const QString& text, const QString& name, int index,
                   QRect twips);

// The captionless frame (picGroup(0)) that groups a dialog's inputs.
QFrame* GroupFrame(QWidget* parent, QRect twips);

// A member of a window's cmdProcess button array, placed in twips. Enter on it
// moves on as Tab does, so it never acts as a default button.
QPushButton* CommandButton(QWidget* parent, int index, const QString& caption, QRect twips);

// A date picker with a calendar popup, wide enough for the whole date in the
// IPA font, which runs wider than the Windows one.
QDateEdit* DatePicker(QWidget* parent, const QString& name, int index,
                      const QString& accessibleName, QRect twips);

// Up or Down typed in a box above a list moves the list's current row, as in
// any search field; false for any other key or an empty list.
bool StepListFromBox(QAbstractItemView& list, int key);

}  // namespace ondrel
