#include "app/folder_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace folder_icons {

namespace {

const QColor kOutline(90, 70, 20);
const QColor kFolderBack(230, 180, 60);
const QColor kFolderFront(250, 215, 100);
const QColor kCase(170, 170, 175);
const QColor kCaseDark(95, 95, 100);
const QColor kLamp(60, 200, 60);

void drawClosedFolder(QPainter& p)
{
    p.setPen(kOutline);
    p.setBrush(kFolderBack);
    p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(6, 3), QPoint(7, 5), QPoint(14, 5), QPoint(14, 13), QPoint(1, 13)}));
    p.setBrush(kFolderFront);
    p.drawRect(1, 6, 13, 7);
}

void drawOpenFolder(QPainter& p)
{
    p.setPen(kOutline);
    p.setBrush(kFolderBack);
    p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(6, 3), QPoint(7, 5), QPoint(13, 5), QPoint(13, 13), QPoint(1, 13)}));
    p.setBrush(kFolderFront);
    p.drawPolygon(QPolygon({QPoint(4, 7), QPoint(15, 7), QPoint(12, 13), QPoint(1, 13)}));
}

void drawDriveCase(QPainter& p, int top, int height)
{
    p.setPen(kCaseDark);
    p.setBrush(kCase);
    p.drawRect(1, top, 13, height);
}

void drawRemovable(QPainter& p)
{
    // A memory stick: body and plug.
    p.setPen(kCaseDark);
    p.setBrush(QColor(70, 110, 190));
    p.drawRect(2, 6, 9, 6);
    p.setBrush(kCase);
    p.drawRect(11, 7, 3, 4);
    p.setPen(Qt::white);
    p.drawPoint(4, 9);
}

void drawFixedDisk(QPainter& p)
{
    drawDriveCase(p, 5, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(kLamp);
    p.drawRect(11, 9, 2, 1);
}

void drawNetwork(QPainter& p)
{
    drawDriveCase(p, 2, 6);
    p.setPen(kCaseDark);
    p.drawLine(7, 9, 7, 12);
    p.drawLine(2, 13, 13, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(kLamp);
    p.drawRect(11, 6, 2, 1);
}

void drawOptical(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shine(QPointF(8, 8), 7);
    shine.setColorAt(0, QColor(240, 240, 250));
    shine.setColorAt(1, QColor(150, 170, 210));
    p.setPen(kCaseDark);
    p.setBrush(shine);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(6, 6, 4, 4));
}

} // namespace

QPixmap pixmap(TreeIcon which)
{
    QPixmap result(kIconSize, kIconSize);
    result.fill(Qt::transparent);
    QPainter p(&result);
    switch (which) {
    case TreeIcon::ClosedFolder:
        drawClosedFolder(p);
        break;
    case TreeIcon::OpenFolder:
        drawOpenFolder(p);
        break;
    case TreeIcon::Removable:
        drawRemovable(p);
        break;
    case TreeIcon::FixedDisk:
        drawFixedDisk(p);
        break;
    case TreeIcon::Network:
        drawNetwork(p);
        break;
    case TreeIcon::Optical:
        drawOptical(p);
        break;
    }
    return result;
}

QIcon folderIcon()
{
    QIcon icon;
    icon.addPixmap(pixmap(TreeIcon::ClosedFolder), QIcon::Normal);
    icon.addPixmap(pixmap(TreeIcon::OpenFolder), QIcon::Selected);
    return icon;
}

QIcon volumeIcon(TreeIcon which)
{
    QIcon icon;
    icon.addPixmap(pixmap(which), QIcon::Normal);
    icon.addPixmap(pixmap(which), QIcon::Selected);
    return icon;
}

} // namespace folder_icons
