#include "ProgramClosedDialog.h"

#include "core/MessageSeam.h"


#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>

ProgramClosedDialog::ProgramClosedDialog(QWidget *parent)
    : QDialog(parent)
{
    setModal(true);
}

QPushButton *ProgramClosedDialog::MakeButton(const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setMinimumWidth(96);
    return button;
}

bool ProgramClosedDialog::CloseAllowed() const
{
    return m_programClose || (qGuiApp && qGuiApp->isSavingSession())
            || QCoreApplication::closingDown();
}

void ProgramClosedDialog::CloseByProgram(int result)
{
    m_programClose = true;
    done(result);
}

void ProgramClosedDialog::reject()
{
    if (CloseAllowed())
        QDialog::reject();
}

void ProgramClosedDialog::closeEvent(QCloseEvent *event)
{
    if (CloseAllowed()) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    kiro::ShowMessage(kiro::CloseBoxRefusedText, QStringLiteral("確認"));
}

void ProgramClosedDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}
