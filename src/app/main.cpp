#include <QApplication>

#include "app/main_window.h"

// zelvic [FOLDER]: the main window; FOLDER, when given, is selected at start.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Lets a Wayland desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.zelvic.Zelvic"));
    MainWindowSetup setup;
    if (argc > 1)
        setup.initialFolder = argv[1]; // raw bytes, as the file system names it
    MainWindow window(std::move(setup));
    window.show();
    return app.exec();
}
