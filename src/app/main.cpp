#include <QApplication>
#include <QWidget>

// Placeholder main window until the application shell lands.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Zelvic Ver 0.9"));
    window.resize(550, 548);
    window.show();
    return app.exec();
}
