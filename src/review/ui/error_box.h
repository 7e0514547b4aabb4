#pragma once

#include <QString>

class QWidget;

// The program's error box: the same title and look from every window, as
// the one error handler of the application would show it.
void showErrorBox(QWidget* parent, const QString& message);
