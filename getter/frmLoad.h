#pragma once

#include "engine/GetterSink.h"
#include "engine/GetterVars.h"
#include "engine/PageViewLinks.h"

#include <QMainWindow>

struct FrameInfo;
class FileDownloader;
class PageAnalyzer;
class RepaintPacer;
class TransferQueue;
class QSpinBox;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolBar;

// The file getter window, opened without blocking from the browser's "Fget".
// Its search and download are long calls that keep the window live; a close
// from the program's code during one of them hides the window at once and
// frees it only when the call has unwound.
class frmLoad : public QMainWindow, private GetterSink
{
    Q_OBJECT

public:
    explicit frmLoad(QWidget *parent = nullptr);
    ~frmLoad() override;

    // Opens the getter on TargetURL without blocking and returns it.
    static frmLoad *Open(QWidget *parent = nullptr);
    // The open getter window, or nullptr once it has unloaded.
    static frmLoad *Current();

    // Unload from the program's code (the browser's "Exit" and "Abort"): the
    // window closes at once; a running search or download unwinds safely.
    void Unload();

    // The toolbar command of the given key ("Exit", "Serch", "DownLoad", "Stop").
    void TB_ButtonClick(const QString &key);
    QAction *Button(const QString &key) const;

    // Whether a search or a download is running.
    bool IsRunning() const { return m_runDepth > 0; }

    GetterVars &Vars() { return m_vars; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildControls();
    void Form_Load();
    void Form_Unload();
    void LoadTempSettings();
    void ResetToIdle();
    void ReturnToIdle();
    void SetIdleCommon();
    void Serch();
    void DownLoad();
    void Stop();
    // True when the analysis of some page's text failed (and the search was
    // not stopped): the window then shows so when the search is over.
    bool AnalyzePages();
    // Frames whose location could be read, of a frame list read once.
    int CountReadableFrames(const QList<FrameInfo> &frames) const;
    // The browser view's live document for the element of PageURLs being
    // analysed: the page, or one of its frames.
    QList<kiro::LiveDocumentValue> ReadShownDocument(const QString &page) const;
    void RunDownload();
    void cmdAllChk_Click();
    void cmdRefresh_Click();
    void Timer_Timer();
    void PaintBlinker(bool yellow);
    void ClearSelection(QListWidget *list);

    // GetterSink
    void SetStatusText(const QString &text) override;
    void SetLabel(Label label, const QString &text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressValue(int value) override;
    int FileItemCount() const override;
    bool IsFileItemTicked(int i) const override;
    QString FileItemText(int i) const override;
    void SetFileItemText(int i, const QString &text) override;
    void SetCurrentFileItem(int i) override;

    QToolBar *TB = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *lblURL = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *lblDLDir = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *lblDLFname = nullptr;
    QLabel *lblKB = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *lblRight = nullptr;
    QLabel *lblNow = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *lblAll = nullptr;
    QProgressBar *PBar1 = nullptr;
    QListWidget *lstFile = nullptr;
    QPushButton *cmdAllChk = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *txtgrhkb = nullptr;
    QLabel *Label2 = nullptr;
    QCheckBox *ChkSubURL = nullptr;
    QCheckBox *ChkFileName = nullptr;
    QCheckBox *ChkPageView = nullptr;
    QLabel *lblFilesAtOnce = nullptr;
    QSpinBox *spnFilesAtOnce = nullptr;
    QListWidget *lstExtsn = nullptr;
    QPushButton *cmdRefresh = nullptr;
    QStatusBar *SB = nullptr;
    QTimer *Timer = nullptr;

    GetterVars m_vars;
    TransferQueue *Inet = nullptr;
    PageAnalyzer *m_analyzer = nullptr;
    FileDownloader *m_downloader = nullptr;
    RepaintPacer *m_pacer = nullptr;

    int BlinkState = 0;
    int AllChecked = 0;
    int m_runDepth = 0;
    qsizetype m_searchedPage = -1;   // the element of PageURLs being analysed
    bool m_scrollPending = false;
    bool m_unloaded = false;
};
