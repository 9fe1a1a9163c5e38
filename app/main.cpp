#include "browser/MessageBoxHandler.h"
#include "browser/frmMain.h"
#include "resources/Resources.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The page views share their drawing context with the windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KIRO"));
    InitKiroResources();
    InstallMessageBoxHandler();

    // The browser window does the whole start-up and shows itself maximized;
    // closing it through "Exit" ends the program.
    frmMain window;
    window.show();
    return app.exec();
}
