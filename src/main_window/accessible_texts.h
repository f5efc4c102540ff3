#pragma once

#include <QString>

class QWidget;
class frmAddEdit;
class frmMain;

// What assistive technology (a screen reader, a voice tool that clicks by name) is told about
// the windows beyond their captions. Nothing here changes what the screen shows.

// Names the main window's unlabelled controls after their labels, describes the Listen/Stop
// button, and keeps the pair lists' rows described as their pairs change.
void describeMainWindow(frmMain& window);
// Names the editor's text boxes after their prompts and describes the window style options.
void describePairEditor(frmAddEdit& editor);

// A window style in plain words, from its decimal text as the pair table holds it.
QString styleInWords(const QString& styleText);

// Called for every logged message: brings the Listen/Stop description up to date and, for a
// message the user caused or needs to know, puts it into the log list's description, which
// assistive technology hears as a change, also when the same message comes again.
void noteLogged(frmMain& window, const QString& message);

// Gives the focus back to the opener each time the dialog is hidden.
void returnFocusWhenHidden(QWidget* dialog, QWidget* opener);
