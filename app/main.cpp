#include "browser/MessageBoxHandler.h"
#include "browser/frmMain.h"
#include "core/CommandLine.h"
#include "core/Installation.h"
#include "core/JapaneseTexts.h"
#include "resources/Resources.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The page views share their drawing context with the windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KIRO"));
    QGuiApplication::setDesktopFileName(kiro::ApplicationId);
    // Qt has taken its own options out; an address left over replaces the start page.
    kiro::UseCommandLine(QCoreApplication::arguments().mid(1));
    InitKiroResources();
    // Before the first page view: the page engine takes its language then.
    kiro::InstallJapaneseTexts();
    InstallMessageBoxHandler();

    // The browser window does the whole start-up and shows itself maximized;
    // closing it through "Exit" ends the program.
    frmMain window;
    window.show();
    return app.exec();
}
