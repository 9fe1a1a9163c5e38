#include "frmMain.h"

#include "AddressText.h"
#include "BrowserSession.h"
#include "BrowserView.h"
#include "FindBar.h"
#include "PageDownloadFile.h"
#include "PageDownloads.h"
#include "PageViewText.h"
#include "core/CommandLine.h"
#include "core/EmbeddedUrl.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "favorites/frmFav.h"
#include "getter/frmLoad.h"
#include "resources/Resources.h"
#include "settings_dialog/frmUtl.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>

namespace {

frmMain *g_instance = nullptr;

struct ToolbarButton
{
    const char *key;
    const char *picture;
    const char *tooltip;
    // The key that runs the command too, as the tooltip names it.
    const char *keyText;
    bool separatorAfter;
};

const ToolbarButton ToolbarButtons[] = {
    {"Exit", "exit", "終了", "", true},
    {"Back", "back", "戻る", "Alt+←", false},
    {"Forward", "forward", "進む", "Alt+→", false},
    {"Update", "update", "更新", "F5", false},
    {"Cancel", "cancel", "中止", "Esc", false},
    {"FstHP", "home", "ホーム", "Alt+Home", false},
    {"MyFav", "favorites", "お気に入り", "", false},
    {"Utl", "settings", "設定", "", true},
    {"Fget", "fget", "ファイルダウンロード画面へ", "", false},
    {"Abort", "abort", "ファイルダウンロードの中止", "", false},
};

constexpr int KeyEnter = 13;
// How long after the first show the window insists on starting maximized.
constexpr int StartStateGraceMs = 3000;

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent)
{
    g_instance = this;
    BuildControls();
    // The getter's requests carry the page view's cookies from its first page on.
    BrowserSessionOf(m_WB->page()->profile());
    Form_Load();
}

frmMain::~frmMain()
{
    if (g_instance == this)
        g_instance = nullptr;
}

frmMain *frmMain::instance()
{
    return g_instance;
}

void frmMain::BuildControls()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Ｗｅｂブラウザ"));
    setWindowIcon(KiroIcon(QStringLiteral("kiro")));

    TB = new QToolBar(this);
    TB->setObjectName(QStringLiteral("TB"));
    TB->setMovable(false);
    TB->setFloatable(false);
    TB->setContextMenuPolicy(Qt::PreventContextMenu);
    TB->setToolButtonStyle(Qt::ToolButtonIconOnly);
    TB->setIconSize(QSize(24, 24));
    for (const ToolbarButton &button : ToolbarButtons) {
        const QString key = QString::fromLatin1(button.key);
        QAction *action = TB->addAction(KiroIcon(QString::fromLatin1(button.picture)), QString());
        action->setObjectName(key);
        action->setToolTip(kiro::TooltipWithKey(QString::fromUtf8(button.tooltip),
                                                QString::fromUtf8(button.keyText)));
        action->setText(QString::fromUtf8(button.tooltip));
        connect(action, &QAction::triggered, this, [this, key] { TB_ButtonClick(key); });
        if (button.separatorAfter)
            TB->addSeparator();
    }
    addToolBar(Qt::TopToolBarArea, TB);

    // The controls below the toolbar are placed by Form_Resize, not by a layout.
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("frmMainClient"));
    setCentralWidget(m_client);
    m_client->installEventFilter(this);

    lblURL = new QLabel(QStringLiteral("ＵＲＬ"), m_client);
    lblURL->setObjectName(QStringLiteral("lblURL"));

    TURL = new QLineEdit(m_client);
    TURL->setObjectName(QStringLiteral("TURL"));
    connect(TURL, &QLineEdit::returnPressed, this, [this] { TURL_KeyPress(KeyEnter); });

    Frame1 = new QFrame(m_client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::NoFrame);

    m_WB = new BrowserView(Frame1);
    m_WB->setObjectName(QStringLiteral("WB"));
    m_WB2 = new BrowserView(Frame1);
    m_WB2->setObjectName(QStringLiteral("WB2"));
    m_WB2->hide();

    SB = new QStatusBar(this);
    SB->setObjectName(QStringLiteral("SB"));
    SB->setSizeGripEnabled(true);
    m_statusPanel = new QLabel(SB);
    m_statusPanel->setObjectName(QStringLiteral("SBPanel1"));
    // A long address in the panel must not widen the window.
    m_statusPanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_statusPanel->setMinimumWidth(1);
    SB->addWidget(m_statusPanel, 1);
    setStatusBar(SB);

    connect(m_WB, &BrowserView::StatusTextChange, this, &frmMain::WB_StatusTextChange);
    connect(m_WB, &BrowserView::NewWindow2, this, &frmMain::WB_NewWindow2);
    connect(m_WB, &BrowserView::NavigateComplete2, this, &frmMain::WB_NavigateComplete2);
    connect(m_WB2, &BrowserView::BeforeNavigate2, this, &frmMain::WB2_BeforeNavigate2);

    m_findBar = new FindBar(m_WB, this);
    addToolBar(Qt::BottomToolBarArea, m_findBar);
    BuildKeys();
    BuildDownloads();
}

QAction *frmMain::AddKey(const QString &name, const QList<QKeySequence> &keys,
                         const std::function<void()> &command)
{
    auto *action = new QAction(this);
    action->setObjectName(name);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, command);
    addAction(action);
    return action;
}

void frmMain::BuildKeys()
{
    // Keys of toolbar commands run the command itself, with its rules.
    const auto command = [this](const char *key) {
        return [this, key] { TB_ButtonClick(QString::fromLatin1(key)); };
    };
    AddKey(QStringLiteral("keyBack"), {QKeySequence(Qt::ALT | Qt::Key_Left)}, command("Back"));
    AddKey(QStringLiteral("keyForward"), {QKeySequence(Qt::ALT | Qt::Key_Right)},
           command("Forward"));
    AddKey(QStringLiteral("keyUpdate"),
           {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}, command("Update"));
    m_escapeKey = AddKey(QStringLiteral("keyCancel"), {QKeySequence(Qt::Key_Escape)},
                         [this] { StopByKey(); });
    AddKey(QStringLiteral("keyFstHP"), {QKeySequence(Qt::ALT | Qt::Key_Home)}, command("FstHP"));

    AddKey(QStringLiteral("keyAddress"),
           {QKeySequence(Qt::CTRL | Qt::Key_L), QKeySequence(Qt::Key_F6)},
           [this] { SelectAddressBox(); });
    AddKey(QStringLiteral("keyFind"), {QKeySequence(Qt::CTRL | Qt::Key_F)},
           [this] { m_findBar->Open(); });
    AddKey(QStringLiteral("keyFindNext"), {QKeySequence(Qt::Key_F3)}, [this] {
        if (m_findBar->isHidden())
            m_findBar->Open();
        m_findBar->FindNext();
    });
    AddKey(QStringLiteral("keyFindPrevious"), {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] {
        if (m_findBar->isHidden())
            m_findBar->Open();
        m_findBar->FindPrevious();
    });

    // "+" needs Shift on many keyboards (the Japanese one among them).
    AddKey(QStringLiteral("keyZoomIn"),
           {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus),
            QKeySequence(Qt::CTRL | Qt::Key_Equal)},
           [this] { ZoomBy(1); });
    AddKey(QStringLiteral("keyZoomOut"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)},
           [this] { ZoomBy(-1); });
    AddKey(QStringLiteral("keyZoomReset"), {QKeySequence(Qt::CTRL | Qt::Key_0)},
           [this] { ResetZoom(); });
    connect(m_WB, &BrowserView::ZoomWheel, this, &frmMain::ZoomBy);
}

void frmMain::BuildDownloads()
{
    m_downloadPanel = new QLabel(SB);
    m_downloadPanel->setObjectName(QStringLiteral("SBDownload"));
    // A long path is cut, not the window widened; its tip shows it whole.
    m_downloadPanel->setMaximumWidth(480);
    m_downloadProgress = new QProgressBar(SB);
    m_downloadProgress->setObjectName(QStringLiteral("SBDownloadProgress"));
    m_downloadProgress->setMaximumWidth(160);
    m_downloadProgress->setTextVisible(false);
    SB->addPermanentWidget(m_downloadPanel);
    SB->addPermanentWidget(m_downloadProgress);
    m_downloadPanel->hide();
    m_downloadProgress->hide();

    m_downloads = new PageDownloads(m_WB->page()->profile(), m_WB, this);
    connect(m_downloads, &PageDownloads::ProgressChanged, this,
            [this](const QString &text, int percent) {
        m_downloadPanel->setText(text);
        m_downloadPanel->setToolTip(text);
        m_downloadPanel->setVisible(!text.isEmpty());
        // An unknown size shows as a busy bar; an ended download as none.
        m_downloadProgress->setRange(0, percent == -1 ? 0 : 100);
        m_downloadProgress->setValue(std::max(percent, 0));
        m_downloadProgress->setVisible(!text.isEmpty() && percent != -2);
    });
}

void frmMain::SelectAddressBox()
{
    TURL->setFocus(Qt::ShortcutFocusReason);
    TURL->selectAll();
}

void frmMain::StopByKey()
{
    TB_ButtonClick(QStringLiteral("Cancel"));
    // A page may use Esc itself (to close its own dialogs): it still gets it.
    QWidget *focus = QApplication::focusWidget();
    if (focus && (focus == m_WB || m_WB->isAncestorOf(focus))) {
        // A key sent by the program is matched against the shortcuts first:
        // this one must not take it again.
        m_escapeKey->setEnabled(false);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(focus, &escape);
        m_escapeKey->setEnabled(true);
    }
}

void frmMain::ZoomBy(int direction)
{
    const double factor = kiro::NextZoomFactor(m_WB->zoomFactor(), direction);
    m_WB->setZoomFactor(factor);
    SetStatusText(kiro::ZoomText(factor));
}

void frmMain::ResetZoom()
{
    m_WB->setZoomFactor(1.0);
    SetStatusText(kiro::ZoomText(1.0));
}

void frmMain::Form_Load()
{
    kiro::TargetURL.clear();
    kiro::AbortFlag = 0;
    Button(QStringLiteral("Abort"))->setEnabled(false);
    kiro::SetAppDirFromProgram();
    kiro::LoadSettings();
    // What a crash left of earlier page downloads; an hour's grace for those
    // that another KIRO may still be writing.
    kiro::RemoveLeftoverParts(kiro::PageDownloadFolder(kiro::FstDir), 3600);
    kiro::CreateDefaultExtsnFile();
    kiro::LoadExtensionList();
    // Its size when the user restores it from maximized.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        resize(screen->availableGeometry().size() * 3 / 4);
    setWindowState(windowState() | Qt::WindowMaximized);
    m_keepMaximized = true;
    TURL->setText(kiro::StartUpAddress());
    TURL_KeyPress(KeyEnter);
}

QAction *frmMain::Button(const QString &key) const
{
    return TB->findChild<QAction *>(key, Qt::FindDirectChildrenOnly);
}

QString frmMain::StatusText() const
{
    return m_statusPanel->text();
}

void frmMain::SetStatusText(const QString &text)
{
    m_statusPanel->setText(text);
}

int frmMain::TwipsX(int twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0);
}

int frmMain::TwipsY(int twips) const
{
    return qRound(twips * logicalDpiY() / 1440.0);
}

void frmMain::Form_Resize()
{
    if (isMinimized())
        return;
    // The toolbar and the status bar are docked by the main window; the
    // client area is what lies between them, so the toolbar's height is
    // already taken off every position here.
    const int width = m_client->width();
    const int height = m_client->height();

    const int boxTop = TwipsY(100);
    const int boxHeight = TURL->sizeHint().height();
    const QSize labelSize = lblURL->sizeHint();
    const int labelWidth = std::max(TwipsX(405), labelSize.width());
    lblURL->setGeometry(TwipsX(90), boxTop + (boxHeight - labelSize.height()) / 2,
                        labelWidth, labelSize.height());
    // The label's text may be wider than its designed box in this font.
    const int boxLeft = std::max(TwipsX(600), lblURL->geometry().right() + 1 + TwipsX(60));
    TURL->setGeometry(boxLeft, boxTop, std::max(0, width - boxLeft), boxHeight);

    const int frameTop = boxTop + boxHeight + TwipsY(150);
    const int frameLeft = TwipsX(100);
    const int frameHeight = std::max(0, height - frameTop - TwipsY(100));
    const int frameWidth = std::max(0, width - frameLeft);
    Frame1->setGeometry(frameLeft, frameTop, frameWidth, frameHeight);
    m_WB->setGeometry(0, 0, frameWidth, frameHeight);
    m_WB2->move(0, 0);
}

void frmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_keepMaximized)
        QTimer::singleShot(StartStateGraceMs, this, [this] { m_keepMaximized = false; });
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // The first page view makes Qt create the window anew just after it is
    // shown, and the window system then reports it as no longer maximized.
    const Qt::WindowStates kept = Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen;
    if (event->type() == QEvent::WindowStateChange && m_keepMaximized && !(windowState() & kept)) {
        m_keepMaximized = false;
        QTimer::singleShot(0, this, [this] { setWindowState(windowState() | Qt::WindowMaximized); });
    }
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The window's own close box (a close the window system asks for) is
    // refused; a close from the program's code goes ahead.
    if (!m_unloading && event->spontaneous()) {
        event->ignore();
        kiro::ShowMessage(kiro::CloseBoxRefusedText, QStringLiteral("確認"));
        return;
    }
    event->accept();
}

void frmMain::TB_ButtonClick(const QString &key)
{
    m_PendingURL.clear();
    // A view call that cannot be done does nothing, and the command goes on.
    if (key == QLatin1String("Back")) {
        m_WB->GoBack();
    } else if (key == QLatin1String("Forward")) {
        m_WB->GoForward();
    } else if (key == QLatin1String("Update")) {
        m_WB->Refresh();
    } else if (key == QLatin1String("Cancel")) {
        m_WB->Stop();
    } else if (key == QLatin1String("Exit")) {
        kiro::AbortFlag = 1;
        Button(QStringLiteral("Fget"))->setEnabled(true);
        Button(QStringLiteral("Abort"))->setEnabled(false);
        SetStatusText(kiro::ClosingText);
        if (frmLoad *getter = frmLoad::Current())
            getter->Unload();
        m_unloading = true;
        close();
    } else if (key == QLatin1String("FstHP")) {
        TURL->setText(kiro::FstHpAdrs);
        TURL_KeyPress(KeyEnter);
    } else if (key == QLatin1String("MyFav")) {
        kiro::FavAdrs = TURL->text();
        {
            frmFav favorites(this);
            favorites.exec();
        }
        // The favorites window hands back the entry to show through FavAdrs.
        if (TURL->text() != kiro::FavAdrs) {
            TURL->setText(kiro::FavAdrs);
            TURL_KeyPress(KeyEnter);
        }
    } else if (key == QLatin1String("Utl")) {
        frmUtl settings(this);
        settings.exec();
    } else if (key == QLatin1String("Fget")) {
        kiro::TargetURL = TURL->text();
        kiro::AbortFlag = 0;
        Button(QStringLiteral("Fget"))->setEnabled(false);
        Button(QStringLiteral("Abort"))->setEnabled(true);
        frmLoad::Open(this);
    } else if (key == QLatin1String("Abort")) {
        kiro::AbortFlag = 1;
        if (frmLoad *getter = frmLoad::Current())
            getter->Unload();
    }
}

void frmMain::TURL_KeyPress(int keyAscii)
{
    if (keyAscii != KeyEnter)
        return;
    m_PendingURL = TURL->text();
    m_WB->Navigate(m_PendingURL);
}

void frmMain::WB_StatusTextChange(const QString &text)
{
    SetStatusText(text);
    if (kiro::ContainsWebAddress(text)) {
        QString address = text;
        kiro::DecodePercent(address);
        m_PendingURL = kiro::ExtractEmbeddedURL(address);
    }
}

void frmMain::WB_NewWindow2(BrowserView **newView, bool *)
{
    m_PopupPending = -1;
    // The new window's navigation goes to the hidden view, which never loads it.
    *newView = m_WB2;
}

void frmMain::WB2_BeforeNavigate2(BrowserView *, const QString &url, bool *cancel)
{
    QString decoded = url;
    kiro::DecodePercent(decoded);
    *cancel = true;
    if (m_PopupPending == 0)
        return;
    const QString target = kiro::ExtractEmbeddedURL(decoded);
    if (target != m_PendingURL)
        return;
    // Decoding served the comparison only: the pop-up's own address is loaded
    // as the page gave it, so that escapes such as %26 or %23 keep their
    // meaning. A target taken out of a jump link is loaded as extracted.
    m_WB->Navigate2(target == decoded ? url : target);
    m_PopupPending = 0;
}

void frmMain::WB_NavigateComplete2(BrowserView *, const QString &url)
{
    const QString loc = m_WB->LocationURL();
    TURL->setText(loc);
    // A page with no frame or one frame that navigates within the page's own
    // folder shows the frame's address; a frameset keeps its own.
    const int frames = m_WB->KnownFrameCount();
    if (frames >= 0 && frames <= 1 && url != loc
            && kiro::FolderPart(url) == kiro::FolderPart(loc))
        TURL->setText(url);
    TURL->setCursorPosition(0);
    Form_Resize();
}
