#pragma once

#include <QMainWindow>
#include <QList>
#include <QString>

#include <functional>

class BrowserView;
class FindBar;
class PageDownloads;
class QAction;
class QKeySequence;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QStatusBar;
class QToolBar;

// The browser window: the program's start-up window and its main window.
//
// Used by the other windows:
//   frmMain::instance()      the one browser window (nullptr before it exists)
//   Button(key)              a toolbar button by its key ("Fget", "Abort", ...);
//                            the getter enables "Fget" again when it unloads
//   TURLBox()                the address box; its text is the current address
//   WB()                     the page view: LocationURL(), ReadFrames(...)
//   TURL_KeyPress(13)        navigates to what the address box holds
//
// Keys: Alt+Left and Alt+Right, F5 and Ctrl+R, Esc and Alt+Home run the
// toolbar commands "Back", "Forward", "Update", "Cancel" and "FstHP"; Ctrl+L
// and F6 select the address box; Ctrl+F opens the find bar (F3 and Shift+F3
// find again); Ctrl++, Ctrl+-, Ctrl+0 and Ctrl with the wheel zoom the page.
// Downloads the page view hands over go to the download folder, their
// progress to the status bar.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    static frmMain *instance();

    QAction *Button(const QString &key) const;
    QLineEdit *TURLBox() const { return TURL; }
    BrowserView *WB() const { return m_WB; }
    BrowserView *WB2() const { return m_WB2; }
    // The text of the status bar's first panel.
    QString StatusText() const;
    FindBar *FindBarWidget() const { return m_findBar; }
    PageDownloads *Downloads() const { return m_downloads; }

    // The toolbar command of the given key.
    void TB_ButtonClick(const QString &key);
    // A key typed in the address box; only Enter (13) acts.
    void TURL_KeyPress(int keyAscii);
    void Form_Resize();

    // The address the user asked for last, and whether a new window is awaited.
    QString PendingURL() const { return m_PendingURL; }
    int PopupPending() const { return m_PopupPending; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildControls();
    void BuildKeys();
    void BuildDownloads();
    QAction *AddKey(const QString &name, const QList<QKeySequence> &keys,
                    const std::function<void()> &command);
    void SelectAddressBox();
    void StopByKey();
    void ZoomBy(int direction);
    void ResetZoom();
    void Form_Load();
    void SetStatusText(const QString &text);
    int TwipsX(int twips) const;
    int TwipsY(int twips) const;

    void WB_StatusTextChange(const QString &text);
    void WB_NewWindow2(BrowserView **newView, bool *cancel);
    void WB_NavigateComplete2(BrowserView *view, const QString &url);
    void WB2_BeforeNavigate2(BrowserView *view, const QString &url, bool *cancel);

    QToolBar *TB = nullptr;
    QLabel *lblURL = nullptr;
    QLineEdit *TURL = nullptr;
    QFrame *Frame1 = nullptr;
    BrowserView *m_WB = nullptr;
    BrowserView *m_WB2 = nullptr;
    QStatusBar *SB = nullptr;
    QLabel *m_statusPanel = nullptr;
    QWidget *m_client = nullptr;
    FindBar *m_findBar = nullptr;
    QAction *m_escapeKey = nullptr;
    PageDownloads *m_downloads = nullptr;
    QLabel *m_downloadPanel = nullptr;
    QProgressBar *m_downloadProgress = nullptr;

    QString m_PendingURL;
    int m_PopupPending = 0;
    // Set by "Exit": the close that follows comes from the program.
    bool m_unloading = false;
    bool m_keepMaximized = false;
};
