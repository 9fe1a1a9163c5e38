#include "MessageBoxHandler.h"

#include "core/MessageSeam.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

void InstallMessageBoxHandler()
{
    kiro::SetMessageHandler([](const QString &text, const QString &title) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    });
    // No button is an escape button, so the box is closed only by a choice.
    kiro::SetQuestionHandler([](const QString &text, const QString &title,
                                const QStringList &choices) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::NoButton,
                        QApplication::activeWindow());
        QList<QAbstractButton *> buttons;
        for (const QString &choice : choices)
            buttons.append(box.addButton(choice, QMessageBox::ActionRole));
        if (!buttons.isEmpty())
            box.setDefaultButton(static_cast<QPushButton *>(buttons.first()));
        box.exec();
        return int(buttons.indexOf(box.clickedButton()));
    });
}
