#include "review/ui/error_box.h"

#include <QMessageBox>

#include "review/error_messages.h"

void showErrorBox(QWidget* parent, const QString& message)
{
    QMessageBox::critical(parent, QString::fromUtf8(kErrorBoxTitle), message);
}
