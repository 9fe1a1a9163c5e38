#include "frmLoad.h"

#include "engine/DownloadNaming.h"
#include "engine/FileDownloader.h"
#include "FileItemDelegate.h"
#include "engine/PageAnalyzer.h"
#include "RepaintPacer.h"
#include "engine/TransferQueue.h"
#include "browser/BrowserSession.h"
#include "browser/BrowserView.h"
#include "browser/ExtensionListWidget.h"
#include "browser/frmMain.h"
#include "core/EventPump.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "core/TextFile.h"
#include "resources/Resources.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEnginePage>

#include <utility>

using namespace kiro;

namespace {

QPointer<frmLoad> g_current;

const QString kTickAll = QStringLiteral("全てチェックをつける");
const QString kUntickAll = QStringLiteral("チェックを全てはずす");

QFont ListFont()
{
    // The closest to the classic Japanese monospace font that this desktop has.
    for (const QString &family : {QStringLiteral("Noto Sans Mono CJK JP"),
                                  QStringLiteral("Noto Sans CJK JP"),
                                  QStringLiteral("IPAGothic")}) {
        if (QFontDatabase::hasFamily(family)) {
            QFont font(family);
            font.setStyleHint(QFont::Monospace);
            return font;
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

QLabel *DisplayLabel(const QString &name, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *label = new QLabel;
    label->setObjectName(name);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(alignment);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(40);
    return label;
}

// The busy blinker: a small square painted in one colour. Changing the colour
// repaints only the square, and only when the colour is a different one.
class BlinkerLabel : public QLabel
{
public:
    BlinkerLabel()
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    void setColour(const QColor &colour)
    {
        if (colour == m_colour)
            return;
        m_colour = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_colour);
    }

private:
    QColor m_colour = Qt::black;
};

// lstFile. Its rows are all of one height and span the list's width, so a
// changed item text or tick never moves another row; the plain list view would
// lay out every row again for each such change, which a download makes once
// per file.
class FileList : public QListWidget
{
public:
    FileList()
    {
        setUniformItemSizes(true);
    }

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles) override
    {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    }
};

QLabel *Caption(const QString &name, const QString &text)
{
    auto *label = new QLabel(text);
    label->setObjectName(name);
    return label;
}

} // namespace

frmLoad::frmLoad(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmLoad"));
    setWindowTitle(QStringLiteral("ファイルのダウンロード"));
    setWindowIcon(KiroIcon(QStringLiteral("kiro")));
    // A top-level window of its own, even when the browser is its parent.
    setWindowFlag(Qt::Window);

    Inet = new TransferQueue(this);
    Inet->SetAbortCheck([] { return AbortFlag == 1; });
    if (frmMain *browser = frmMain::instance(); browser && browser->WB())
        Inet->SetSession(BrowserSessionOf(browser->WB()->page()->profile()));
    m_analyzer = new PageAnalyzer(m_vars, *this, *Inet);
    m_analyzer->SetLiveDocumentReader([this](const QString &page) { return ReadShownDocument(page); });
    m_downloader = new FileDownloader(m_vars, *this, *Inet);
    m_pacer = new RepaintPacer(this);
    m_pacer->BeforeFrame = [this] {
        if (std::exchange(m_scrollPending, false)) {
            if (QListWidgetItem *item = lstFile->currentItem())
                lstFile->scrollToItem(item);
        }
    };

    BuildControls();
    Form_Load();
}

frmLoad::~frmLoad()
{
    delete m_downloader;
    delete m_analyzer;
}

frmLoad *frmLoad::Open(QWidget *parent)
{
    auto *window = new frmLoad(parent);
    g_current = window;
    window->resize(760, 720);
    // Over the middle of the browser window, which stays usable beside it.
    if (parent) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(parent->window()->geometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    return window;
}

frmLoad *frmLoad::Current()
{
    return g_current;
}

void frmLoad::Unload()
{
    close();
}

QAction *frmLoad::Button(const QString &key) const
{
    return TB->findChild<QAction *>(key);
}

void frmLoad::BuildControls()
{
    TB = addToolBar(QStringLiteral("TB"));
    TB->setObjectName(QStringLiteral("TB"));
    TB->setMovable(false);
    TB->setIconSize(QSize(32, 32));
    struct ButtonDef { const char *key; const char *icon; const char *hint; };
    static const ButtonDef buttons[] = {
        {"Exit", "getter_exit", "終了"},
        {"Serch", "search", "ＵＲＬを解析し、ダウンロードできるファイルを抽出"},
        {"DownLoad", "download", "ファイルのダウンロードを開始"},
        {"Stop", "stop", "ダウンロードを中止"},
    };
    for (const ButtonDef &def : buttons) {
        const QString key = QLatin1String(def.key);
        QAction *action = TB->addAction(KiroIcon(QLatin1String(def.icon)), key);
        action->setObjectName(key);
        action->setToolTip(QString::fromUtf8(def.hint));
        connect(action, &QAction::triggered, this, [this, key] { TB_ButtonClick(key); });
    }

    auto *central = new QWidget;
    auto *grid = new QGridLayout(central);
    int row = 0;

    Label7 = Caption(QStringLiteral("Label7"), QStringLiteral("ＵＲＬ名"));
    lblURL = DisplayLabel(QStringLiteral("lblURL"));
    grid->addWidget(Label7, row, 0);
    grid->addWidget(lblURL, row++, 1, 1, 6);

    Label1 = Caption(QStringLiteral("Label1"), QStringLiteral("ダウンロード先"));
    lblDLDir = DisplayLabel(QStringLiteral("lblDLDir"));
    grid->addWidget(Label1, row, 0);
    grid->addWidget(lblDLDir, row++, 1, 1, 6);

    Label3 = Caption(QStringLiteral("Label3"), QStringLiteral("ダウンロードファイル名"));
    lblDLFname = DisplayLabel(QStringLiteral("lblDLFname"));
    lblKB = DisplayLabel(QStringLiteral("lblKB"), Qt::AlignRight | Qt::AlignVCenter);
    lblKB->setMinimumWidth(80);
    Label4 = Caption(QStringLiteral("Label4"), QStringLiteral("kb終了"));
    lblRight = new BlinkerLabel;
    lblRight->setObjectName(QStringLiteral("lblRight"));
    lblRight->setFixedSize(14, 14);
    grid->addWidget(Label3, row, 0);
    grid->addWidget(lblDLFname, row, 1, 1, 3);
    grid->addWidget(lblKB, row, 4);
    grid->addWidget(Label4, row, 5);
    grid->addWidget(lblRight, row++, 6);

    lblNow = DisplayLabel(QStringLiteral("lblNow"), Qt::AlignRight | Qt::AlignVCenter);
    Label5 = Caption(QStringLiteral("Label5"), QStringLiteral("／"));
    lblAll = DisplayLabel(QStringLiteral("lblAll"), Qt::AlignRight | Qt::AlignVCenter);
    PBar1 = new QProgressBar;
    PBar1->setObjectName(QStringLiteral("PBar1"));
    PBar1->setTextVisible(false);
    auto *counts = new QHBoxLayout;
    counts->addWidget(lblNow);
    counts->addWidget(Label5);
    counts->addWidget(lblAll);
    counts->addWidget(PBar1, 1);
    grid->addLayout(counts, row++, 0, 1, 7);

    lstFile = new FileList;
    lstFile->setObjectName(QStringLiteral("lstFile"));
    lstFile->setFont(ListFont());
    lstFile->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstFile->setItemDelegate(new FileItemDelegate(lstFile));
    grid->addWidget(lstFile, row++, 0, 1, 7);
    grid->setRowStretch(row - 1, 1);

    cmdAllChk = new QPushButton(QStringLiteral("全てチェックする"));
    cmdAllChk->setObjectName(QStringLiteral("cmdAllChk"));
    connect(cmdAllChk, &QPushButton::clicked, this, &frmLoad::cmdAllChk_Click);
    grid->addWidget(cmdAllChk, row++, 0, 1, 2, Qt::AlignLeft);

    Label6 = Caption(QStringLiteral("Label6"), QStringLiteral("【臨時設定】"));
    grid->addWidget(Label6, row++, 0, 1, 7);

    txtgrhkb = new QLineEdit;
    txtgrhkb->setObjectName(QStringLiteral("txtgrhkb"));
    txtgrhkb->setAlignment(Qt::AlignRight);
    txtgrhkb->setMaximumWidth(100);
    Label2 = Caption(QStringLiteral("Label2"), QStringLiteral("ｋｂ以下のファイルはダウンロードしない"));
    ChkSubURL = new QCheckBox(QStringLiteral("現在のページに記述されているＵＲＬからも収集する"));
    ChkSubURL->setObjectName(QStringLiteral("ChkSubURL"));
    ChkFileName = new QCheckBox(QStringLiteral("ダウンロードするファイル名にURL名を加える"));
    ChkFileName->setObjectName(QStringLiteral("ChkFileName"));
    ChkPageView = new QCheckBox(QStringLiteral("表示中のページからも収集する"));
    ChkPageView->setObjectName(QStringLiteral("ChkPageView"));
    spnFilesAtOnce = new QSpinBox;
    spnFilesAtOnce->setObjectName(QStringLiteral("spnFilesAtOnce"));
    spnFilesAtOnce->setRange(MinFilesAtOnce, MaxFilesAtOnce);
    lblFilesAtOnce = Caption(QStringLiteral("lblFilesAtOnce"), QStringLiteral("同時に取得するファイル数"));
    lblFilesAtOnce->setBuddy(spnFilesAtOnce);
    lstExtsn = new QListWidget;
    lstExtsn->setObjectName(QStringLiteral("lstExtsn"));
    lstExtsn->setMaximumHeight(120);
    cmdRefresh = new QPushButton(QStringLiteral("設定を元に戻す"));
    cmdRefresh->setObjectName(QStringLiteral("cmdRefresh"));
    connect(cmdRefresh, &QPushButton::clicked, this, &frmLoad::cmdRefresh_Click);

    auto *options = new QVBoxLayout;
    auto *threshold = new QHBoxLayout;
    threshold->addWidget(txtgrhkb);
    threshold->addWidget(Label2);
    threshold->addStretch();
    options->addLayout(threshold);
    options->addWidget(ChkSubURL);
    options->addWidget(ChkFileName);
    options->addWidget(ChkPageView);
    auto *filesAtOnce = new QHBoxLayout;
    filesAtOnce->addWidget(lblFilesAtOnce);
    filesAtOnce->addWidget(spnFilesAtOnce);
    filesAtOnce->addStretch();
    options->addLayout(filesAtOnce);
    options->addStretch();
    auto *extensions = new QVBoxLayout;
    extensions->addWidget(lstExtsn);
    extensions->addWidget(cmdRefresh);
    auto *temporary = new QHBoxLayout;
    temporary->addLayout(options, 3);
    temporary->addLayout(extensions, 1);
    grid->addLayout(temporary, row++, 0, 1, 7);
    grid->setColumnStretch(1, 1);

    setCentralWidget(central);

    SB = new QStatusBar;
    SB->setObjectName(QStringLiteral("SB"));
    setStatusBar(SB);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    // Each tick wakes the window thread and repaints the blinker: at 10 ms
    // that alone took 2 to 3.5 % of a core while a search only waited (about
    // 0.1 ms per wake and as much per repaint). 50 ms still flickers plainly
    // and costs a fifth of it.
    Timer->setInterval(50);
    connect(Timer, &QTimer::timeout, this, &frmLoad::Timer_Timer);
}

void frmLoad::Form_Load()
{
    lblURL->setText(TargetURL);
    Timer->stop();
    lstFile->clear();
    LoadTempSettings();
    ResetToIdle();
    // Each search pass sets its own pattern; matching is global and ignores case.
    m_vars.LinkRegExp = QRegularExpression(QString(), QRegularExpression::CaseInsensitiveOption);
}

void frmLoad::LoadTempSettings()
{
    ChkSubURL->setChecked(chkSubURL == 1);
    ChkFileName->setChecked(chkFileName == 1);
    ChkPageView->setChecked(chkPageView == 1);
    spnFilesAtOnce->setValue(FilesAtOnce);
    txtgrhkb->setText(QString::number(grhkb));

    EnsureFileExists(ExtsnFilePath());
    ShowExtensions(lstExtsn, ReadExtensionFile(ExtsnFilePath()));
    SetExtensionList(ExtensionsShown(lstExtsn));
    ClearSelection(lstExtsn);
}

void frmLoad::SetIdleCommon()
{
    lblDLDir->setText(FstDir);
    lblDLFname->clear();
    lblKB->clear();
    lblAll->clear();
    lblNow->clear();
    PaintBlinker(false);
    PBar1->setRange(0, 10);
    PBar1->setValue(0);
    SB->clearMessage();
    Button(QStringLiteral("Exit"))->setEnabled(true);
    Button(QStringLiteral("Serch"))->setEnabled(true);
    Button(QStringLiteral("Stop"))->setEnabled(false);
    lstExtsn->setEnabled(true);
    txtgrhkb->setEnabled(true);
    ChkSubURL->setEnabled(true);
    ChkFileName->setEnabled(true);
    ChkPageView->setEnabled(true);
    spnFilesAtOnce->setEnabled(true);
    cmdRefresh->setEnabled(true);
}

void frmLoad::ResetToIdle()
{
    SetIdleCommon();
    lstFile->clear();
    lstFile->setEnabled(false);
    cmdAllChk->setEnabled(false);
    Button(QStringLiteral("DownLoad"))->setEnabled(false);
}

void frmLoad::ReturnToIdle()
{
    SetIdleCommon();
    lstFile->setEnabled(true);
    cmdAllChk->setEnabled(true);
    Button(QStringLiteral("DownLoad"))->setEnabled(true);
}

void frmLoad::TB_ButtonClick(const QString &key)
{
    // The window stays alive while a command runs, even if it is unloaded
    // from inside it; it is freed once the outermost command has returned.
    QPointer<frmLoad> self(this);
    // A "Stop" inside a run re-enables "Serch" and "DownLoad" before the run
    // has unwound; a second run must not start nested inside the first.
    const bool startsRun = key == QLatin1String("Serch") || key == QLatin1String("DownLoad");
    if (startsRun && m_runDepth > 0)
        return;
    ++m_runDepth;
    // A run changes labels, texts and items thousands of times a second; the
    // screen shows them at a human rate.
    if (startsRun)
        m_pacer->Begin();
    if (key == QLatin1String("Exit")) {
        Timer->stop();
        AbortFlag = 1;
        SetStatusText(kiro::ClosingText);
        close();
    } else if (key == QLatin1String("Serch")) {
        Serch();
    } else if (key == QLatin1String("DownLoad")) {
        DownLoad();
    } else if (key == QLatin1String("Stop")) {
        Stop();
    }
    if (!self)
        return;
    if (startsRun)
        m_pacer->End();
    if (--m_runDepth == 0 && m_unloaded)
        deleteLater();
}

void frmLoad::Serch()
{
    // An empty box, or one that holds no number, is a threshold of 0.
    qint64 threshold = 0;
    grhkb = ParseNumber(txtgrhkb->text(), &threshold) ? threshold : 0;
    chkSubURL = ChkSubURL->isChecked() ? 1 : 0;
    chkFileName = ChkFileName->isChecked() ? 1 : 0;
    chkPageView = ChkPageView->isChecked() ? 1 : 0;
    FilesAtOnce = spnFilesAtOnce->value();
    // The settings dialog may have replaced the shared list since this
    // window loaded; the search uses the list shown here.
    if (lstExtsn->count() > 0)
        SetExtensionList(ExtensionsShown(lstExtsn));
    AbortFlag = 0;

    Button(QStringLiteral("Exit"))->setEnabled(false);
    Button(QStringLiteral("Serch"))->setEnabled(false);
    Button(QStringLiteral("DownLoad"))->setEnabled(false);
    Button(QStringLiteral("Stop"))->setEnabled(true);
    lstFile->setEnabled(true);
    lstFile->clear();
    cmdAllChk->setEnabled(true);
    lstExtsn->setEnabled(false);
    txtgrhkb->setEnabled(true);
    ChkSubURL->setEnabled(false);
    ChkFileName->setEnabled(false);
    ChkPageView->setEnabled(false);
    spnFilesAtOnce->setEnabled(false);
    cmdRefresh->setEnabled(false);

    BlinkState = 1;
    Timer->start();
    lblDLFname->setText(QStringLiteral("★★　ＨＴＭＬ読込中．★★"));
    lblKB->clear();

    const bool analysisFailed = AnalyzePages();

    Timer->stop();
    if (AbortFlag == 1) {
        ResetToIdle();
        // Returning to idle empties the status bar; this text must stay.
        if (analysisFailed)
            SetStatusText(kiro::AnalysisErrorText);
        return;
    }
    PaintBlinker(false);
    Button(QStringLiteral("Serch"))->setEnabled(false);
    Button(QStringLiteral("DownLoad"))->setEnabled(true);
    AllChecked = 0;
    cmdAllChk->setText(kTickAll);
    // All rows at once: one insertion for the view, not one per address.
    const int first = lstFile->count();
    lstFile->addItems(FileURLs);
    {
        // Nothing has seen the new rows yet: their tick boxes need no change
        // notice each.
        const QSignalBlocker quiet(lstFile->model());
        for (int i = first; i < lstFile->count(); ++i)
            lstFile->item(i)->setCheckState(Qt::Unchecked);
    }
    // Laid out now, so the listed state is drawn as the search returns.
    lstFile->doItemsLayout();
}

bool frmLoad::AnalyzePages()
{
    lblDLFname->setText(QStringLiteral("★★　ＨＴＭＬ解析中．★★"));
    m_vars.BaseURL = TargetURL;
    PageURLs = QStringList{TargetURL};

    frmMain *browser = frmMain::instance();
    if (!browser || !browser->WB()) {
        ShowMessage(QStringLiteral("ＵＲＬを取得できません。再起動してください。"), QStringLiteral("エラー"));
        AbortFlag = 1;
        return false;
    }

    QList<FrameInfo> frames;
    const bool readable = browser->WB()->ReadFrames(&frames, [] { return AbortFlag == 1; });
    if (readable && !frames.isEmpty() && CountReadableFrames(frames) > 0) {
        PageURLs[0] = browser->WB()->LocationURL();
        for (const FrameInfo &frame : std::as_const(frames)) {
            PumpEvents();
            if (AbortFlag == 1) {
                SetStatusText(kiro::AbortedText);
                break;
            }
            PageURLs.append(frame.readable ? frame.location : QString());
        }
    }

    m_vars.FoundCount = 0;
    m_vars.FoundFiles = QStringList{QString()};
    m_analyzer->BeginSearch();
    for (qsizetype i = 0; i < PageURLs.size(); ++i) {
        PumpEvents();
        if (AbortFlag == 1) {
            SetStatusText(kiro::AbortedText);
            break;
        }
        m_searchedPage = i;
        m_analyzer->AnalyzePage(PageURLs.at(i));
        if (m_analyzer->boundReached() != PageAnalyzer::Bound::None)
            break;
    }
    m_searchedPage = -1;

    lblDLFname->setText(QStringLiteral("★★　ＨＴＭＬ解析終了．★★"));
    // Later pages' transfer texts have covered it since; a stopped search
    // keeps its own text.
    const bool analysisFailed = m_analyzer->analysisFailed() && AbortFlag == 0;
    if (analysisFailed)
        SetStatusText(kiro::AnalysisErrorText);
    // What ended the search says so last.
    if (AbortFlag == 0 && m_analyzer->boundReached() == PageAnalyzer::Bound::SubPages)
        SetStatusText(kiro::SubPageBoundText);
    else if (AbortFlag == 0 && m_analyzer->boundReached() == PageAnalyzer::Bound::Links)
        SetStatusText(kiro::LinkBoundText);
    if (!m_analyzer->anyPageText() && AbortFlag == 0) {
        ShowMessage(QStringLiteral("ＨＴＭＬデータが取得できないため、解析できません。"));
        AbortFlag = 1;
    } else if (m_vars.FoundCount == 0 && AbortFlag == 0) {
        ShowMessage(QStringLiteral("対象ファイルが全くないか、ＨＴＭＬデータを取得できないため"
                                   "対象ファイルを見つけることができません"));
        AbortFlag = 1;
    }
    return analysisFailed;
}

int frmLoad::CountReadableFrames(const QList<FrameInfo> &frames) const
{
    int count = 0;
    for (const FrameInfo &frame : frames)
        count += frame.readable ? 1 : 0;
    return count;
}

QList<LiveDocumentValue> frmLoad::ReadShownDocument(const QString &page) const
{
    frmMain *browser = frmMain::instance();
    if (m_searchedPage < 0 || page.isEmpty() || !browser || !browser->WB())
        return {};
    // Element 0 is the page itself; the others are its frames in order.
    ShownDocument document;
    if (!browser->WB()->ReadDocument(int(m_searchedPage) - 1, &document,
                                     [] { return AbortFlag == 1; }))
        return {};
    // The view may have gone on to another page since the search began.
    if (!SameDocumentAddress(document.location, page))
        return {};
    return document.values;
}

void frmLoad::DownLoad()
{
    bool anyTicked = false;
    for (int i = 0; i < lstFile->count() && !anyTicked; ++i)
        anyTicked = lstFile->item(i)->checkState() == Qt::Checked;
    if (!anyTicked) {
        ShowMessage(QStringLiteral("ダウンロードするファイルが選択されていません"));
        return;
    }

    AbortFlag = 0;
    Button(QStringLiteral("Exit"))->setEnabled(true);
    Button(QStringLiteral("Serch"))->setEnabled(false);
    Button(QStringLiteral("DownLoad"))->setEnabled(false);
    Button(QStringLiteral("Stop"))->setEnabled(true);
    lstFile->setEnabled(true);
    cmdAllChk->setEnabled(false);
    lstExtsn->setEnabled(false);
    txtgrhkb->setEnabled(false);
    ChkSubURL->setEnabled(false);
    ChkFileName->setEnabled(false);
    ChkPageView->setEnabled(false);
    spnFilesAtOnce->setEnabled(false);
    cmdRefresh->setEnabled(false);

    BlinkState = 1;
    Timer->start();
    RunDownload();
    Timer->stop();
    if (AbortFlag == 0 && !m_unloaded) {
        // The final counts are on screen when the message appears.
        m_pacer->DrawNow();
        ShowMessage(QStringLiteral("ダウンロードが終了しました"));
    }
    ReturnToIdle();
}

void frmLoad::RunDownload()
{
    m_downloader->DownloadFiles();
    SetStatusText(QStringLiteral("★★　終了．★★"));
    PBar1->setValue(0);
    Inet->CancelAll();
}

void frmLoad::Stop()
{
    AbortFlag = 1;
    ReturnToIdle();
    cmdAllChk->setText(kTickAll);
    AllChecked = 0;
    BlinkState = 0;
    Timer->stop();
}

void frmLoad::cmdAllChk_Click()
{
    const Qt::CheckState state = AllChecked == 0 ? Qt::Checked : Qt::Unchecked;
    {
        // One notice for the whole list instead of one per item.
        const QSignalBlocker quiet(lstFile->model());
        for (int i = 0; i < lstFile->count(); ++i)
            lstFile->item(i)->setCheckState(state);
    }
    if (lstFile->count() > 0)
        Q_EMIT lstFile->model()->dataChanged(lstFile->model()->index(0, 0),
                                             lstFile->model()->index(lstFile->count() - 1, 0),
                                             {Qt::CheckStateRole});
    ClearSelection(lstFile);
    if (AllChecked == 0) {
        cmdAllChk->setText(kUntickAll);
        AllChecked = 1;
    } else {
        cmdAllChk->setText(kTickAll);
        AllChecked = 0;
    }
}

void frmLoad::cmdRefresh_Click()
{
    LoadSettings();
    LoadTempSettings();
}

void frmLoad::Timer_Timer()
{
    PaintBlinker(BlinkState == 1);
    BlinkState = BlinkState == 1 ? 0 : 1;
}

void frmLoad::PaintBlinker(bool yellow)
{
    static_cast<BlinkerLabel *>(lblRight)->setColour(yellow ? QColor(255, 255, 0) : QColor(0, 0, 0));
}

void frmLoad::ClearSelection(QListWidget *list)
{
    list->clearSelection();
    list->setCurrentItem(nullptr);
}

void frmLoad::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous()) {
        // The close box: only "Exit" ends this window.
        event->ignore();
        ShowMessage(CloseBoxRefusedText);
        return;
    }
    event->accept();
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (g_current == this)
        g_current = nullptr;
    Form_Unload();
    if (m_runDepth == 0)
        deleteLater();
}

void frmLoad::Form_Unload()
{
    if (frmMain *browser = frmMain::instance()) {
        if (QAction *fget = browser->Button(QStringLiteral("Fget")))
            fget->setEnabled(true);
    }
    Timer->stop();
}

// GetterSink -----------------------------------------------------------------

void frmLoad::SetStatusText(const QString &text)
{
    if (SB->currentMessage() != text) {
        if (text.isEmpty())
            SB->clearMessage();
        else
            SB->showMessage(text);
    }
}

void frmLoad::SetLabel(Label label, const QString &text)
{
    QLabel *target = nullptr;
    switch (label) {
    case Label::DLDir: target = lblDLDir; break;
    case Label::DLFname: target = lblDLFname; break;
    case Label::KB: target = lblKB; break;
    case Label::Now: target = lblNow; break;
    case Label::All: target = lblAll; break;
    }
    if (target && target->text() != text)
        target->setText(text);
}

void frmLoad::SetProgressRange(int minimum, int maximum)
{
    PBar1->setRange(minimum, maximum);
}

void frmLoad::SetProgressValue(int value)
{
    PBar1->setValue(value);
}

int frmLoad::FileItemCount() const
{
    return lstFile->count();
}

bool frmLoad::IsFileItemTicked(int i) const
{
    const QListWidgetItem *item = lstFile->item(i);
    return item && item->checkState() == Qt::Checked;
}

QString frmLoad::FileItemText(int i) const
{
    const QListWidgetItem *item = lstFile->item(i);
    return item ? item->text() : QString();
}

void frmLoad::SetFileItemText(int i, const QString &text)
{
    if (QListWidgetItem *item = lstFile->item(i)) {
        item->setText(text);
        FileItemDelegate::MarkResult(item);
    }
}

void frmLoad::SetCurrentFileItem(int i)
{
    QListWidgetItem *item = lstFile->item(i);
    if (!item)
        return;
    if (!m_pacer->IsActive()) {
        lstFile->setCurrentItem(item);
        return;
    }
    // The item is current at once; the list scrolls to it when the screen is
    // drawn, not once per file (each scroll also asks the display server
    // where the pointer is).
    const bool autoScroll = lstFile->hasAutoScroll();
    lstFile->setAutoScroll(false);
    lstFile->setCurrentItem(item);
    lstFile->setAutoScroll(autoScroll);
    m_scrollPending = true;
}
