#include "review/ui/window_look.h"

#include <QString>
#include <QWidget>

QFont gothicFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    return font;
}

QFont gothicFont(int pixelSize)
{
    QFont font = gothicFont();
    font.setPixelSize(pixelSize);
    return font;
}

void dressWindow(QWidget& window, const char* formName, const QFont& font)
{
    window.setObjectName(QString::fromLatin1(formName));
    window.setWindowTitle(QStringLiteral("Zelvic\u3000Ver\u30000.9"));
    window.setFont(font);
}
