#include "MessageBoxHandler.h"

#include "core/MessageSeam.h"

#include <QApplication>
#include <QMessageBox>

void InstallMessageBoxHandler()
{
    kiro::SetMessageHandler([](const QString &text, const QString &title) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    });
}
