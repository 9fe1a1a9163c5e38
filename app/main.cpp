#include "browser/MessageBoxHandler.h"
#include "core/Settings.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KIRO"));
    InstallMessageBoxHandler();
    kiro::SetAppDirFromProgram();
    kiro::LoadSettings();
    kiro::CreateDefaultExtsnFile();
    kiro::LoadExtensionList();
    QMainWindow window;
    window.showMaximized();
    return app.exec();
}
