#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// The program's message box: the caption given ("Error", "Warning"), the warning icon
// and one OK button, the default, so that Return closes it. The parent owns it.
QMessageBox* MakeWarningBox(const QString& caption, const QString& text, QWidget* parent);

// The same box, shown modally until the user closes it.
void ShowWarningBox(const QString& caption, const QString& text, QWidget* parent);
