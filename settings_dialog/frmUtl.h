#pragma once

#include "browser/ProgramClosedDialog.h"

#include <functional>

class DirListBox;
class DriveListBox;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

// The settings dialog, shown modally from the browser's "Utl". It loads the
// stored settings when it is created and leaves only through "終了", which
// saves every setting and the extension list; when the files cannot be
// written, the user may try again or leave without saving.
class frmUtl : public ProgramClosedDialog
{
    Q_OBJECT

public:
    explicit frmUtl(QWidget *parent = nullptr);
    ~frmUtl() override;

    // Where "現在のページを使用" takes the address of the page the browser
    // shows. By default it asks the browser window.
    using CurrentPageProvider = std::function<QString()>;
    void setCurrentPageProvider(CurrentPageProvider provider);

public Q_SLOTS:
    void cmdSet1_Click();
    void cmdSet2_Click();
    void cmdSet3_Click();
    void cmdAdd_Click();
    void cmdDel_Click();
    void cmdEnd_Click();
    // The folder open in DirLB changed.
    void DirLB_Change();
    // The user picked the volume at index in Drive.
    void Drive_Change(int index);

private:
    void BuildControls();
    void Form_Load();
    // Opens folder in DirLB and selects its volume in Drive without touching
    // FstDir; falls back to the nearest folder that can be opened.
    void ShowFolder(const QString &folder);
    bool ExtensionAcceptable(const QString &name);
    enum class SaveOutcome {
        Saved,        // both files written, the settings loaded again
        Refused,      // a value cannot be stored; the user was told why
        NotWritten,   // a file could not be written; nothing was changed
    };
    SaveOutcome SaveSettings(QString *failedPath);
    void ShowStartPage();

    CurrentPageProvider m_currentPage;

    QGroupBox *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *lblHP = nullptr;
    QPushButton *cmdSet1 = nullptr;
    QPushButton *cmdSet2 = nullptr;
    QPushButton *cmdSet3 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *lblFstDir = nullptr;
    DriveListBox *Drive = nullptr;
    DirListBox *DirLB = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label6 = nullptr;
    QListWidget *lstExtsn = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *txtExtsn = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdDel = nullptr;
    QLineEdit *txtgrhkb = nullptr;
    QLabel *Label3 = nullptr;
    QCheckBox *ChkSubURL = nullptr;
    QCheckBox *ChkFileName = nullptr;
    QCheckBox *chkPageView = nullptr;
    QSpinBox *spnFilesAtOnce = nullptr;
    QLabel *lblFilesAtOnce = nullptr;
    QLabel *Label7 = nullptr;
    QFrame *Line1 = nullptr;
    QFrame *Line2 = nullptr;
    QPushButton *cmdEnd = nullptr;
};
