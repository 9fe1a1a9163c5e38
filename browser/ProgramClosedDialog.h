#pragma once

#include <QDialog>

class QPushButton;

// A modal window of KIRO that only the program closes: its own close box is
// refused with a message, Esc does nothing, and Enter presses the focused
// button only (no button is a default that Enter would press by accident).
// A close asked for by the system ending the session goes ahead.
class ProgramClosedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProgramClosedDialog(QWidget *parent = nullptr);

public Q_SLOTS:
    void reject() override;

protected:
    // A push button named name that Enter presses only when it has the focus.
    QPushButton *MakeButton(const char *name, const QString &caption);

    // Closes the dialog from its own code ("終了" and the like).
    void CloseByProgram(int result = QDialog::Accepted);

    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool CloseAllowed() const;

    bool m_programClose = false;
};
