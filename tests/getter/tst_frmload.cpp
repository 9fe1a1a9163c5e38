// The getter window over the browser window, against the loopback server:
// its states and enabled controls through search, stop and download, its
// messages, the temporary settings, framesets, and closing it while a search
// or a download still runs.
#include "browser/BrowserView.h"
#include "browser/frmMain.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "getter/engine/DownloadNaming.h"
#include "getter/FileItemDelegate.h"
#include "getter/engine/Inet.h"
#include "getter/engine/LinkExtraction.h"
#include "getter/engine/TransferQueue.h"
#include "getter/frmLoad.h"

#include "GetterTexts.h"
#include "GetterWindowTestBase.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(TestResponse)

using namespace kiro;

namespace {

const QString NothingTicked = QStringLiteral("ダウンロードするファイルが選択されていません");
const QString NoText = QStringLiteral("ＨＴＭＬデータが取得できないため、解析できません。");
const QString NoFiles = QStringLiteral("対象ファイルが全くないか、ＨＴＭＬデータを取得できないため"
                                       "対象ファイルを見つけることができません");
const QString CloseRefused = QStringLiteral("このボタンでは終了できません。");
const QString TickAll = QStringLiteral("全てチェックをつける");
const QString UntickAll = QStringLiteral("チェックを全てはずす");

// The enabled controls of each state, in the order enabledControls() lists them.
const QString IdleEmpty = QStringLiteral(
        "Exit Serch lstExtsn ChkSubURL ChkFileName ChkPageView cmdRefresh txtgrhkb");
const QString IdleKept = QStringLiteral(
        "Exit Serch DownLoad lstFile cmdAllChk lstExtsn ChkSubURL ChkFileName ChkPageView cmdRefresh "
        "txtgrhkb");
const QString Searching = QStringLiteral("Stop lstFile cmdAllChk txtgrhkb Timer");
const QString Listed = QStringLiteral("DownLoad Stop lstFile cmdAllChk txtgrhkb");
const QString Downloading = QStringLiteral("Exit Stop lstFile Timer");

// Extsn.fil as the tests' program folder holds it, deliberately unsorted.
const QByteArray ExtsnContent = "\"jpg\",1\r\n\"ZIP\",1\r\n\"gif\",1\r\n\"Bmp\",0\r\n\"png\",1\r\n";

// The colour the blinker shows on screen.
QColor blinkerColour(frmLoad *w)
{
    QLabel *blinker = control<QLabel>(w, "lblRight");
    return blinker->grab().toImage().pixelColor(blinker->width() / 2, blinker->height() / 2);
}

QListWidget *fileList(frmLoad *w)
{
    return control<QListWidget>(w, "lstFile");
}

QList<bool> ticks(QListWidget *list)
{
    QList<bool> out;
    for (int i = 0; i < list->count(); ++i)
        out << (list->item(i)->checkState() == Qt::Checked);
    return out;
}

void tickWhere(QListWidget *list, const std::function<bool(const QString &)> &pick)
{
    for (int i = 0; i < list->count(); ++i) {
        if (pick(list->item(i)->text()))
            list->item(i)->setCheckState(Qt::Checked);
    }
}

// A page whose text the expression engine gives up on, once the test has
// made it do so on texts that carry this mark.
const QString EngineGivesUpMark = QStringLiteral("<!-- the engine gives up here -->");

QByteArray brokenPage(const QByteArray &html)
{
    return EngineGivesUpMark.toLatin1() + html;
}

QByteArray framesetPage(const QString &left, const QString &right)
{
    return QStringLiteral("<html><frameset cols=\"50%,50%\"><frame src=\"%1\"><frame src=\"%2\">"
                          "</frameset></html>").arg(left, right).toUtf8();
}

} // namespace

class FrmLoadTest : public GetterWindowTestBase
{
    Q_OBJECT

public:
    FrmLoadTest() : GetterWindowTestBase(ExtsnContent, 1) {}

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void formLoad();
    void searchStopDownload();
    void downloadFromListedAndTickAll();
    void searchWithoutResult_data();
    void searchWithoutResult();
    void interruptSearch_data();
    void interruptSearch();
    void interruptDownload_data();
    void interruptDownload();
    void temporarySettings_data();
    void temporarySettings();
    void settingsSavedDuringASearch();
    void missingExtensionFile();
    void framesets_data();
    void framesets();
    void longAddressShownWhole();
    void analysisErrorShown_data();
    void analysisErrorShown();
    void pageShownByScript_data();
    void pageShownByScript();
    void forgedFrameReport();

private:
    QString pageFolder(const QString &path) const
    {
        return QDir(m_dlDir).filePath(DownloadSubDirName(url(path)));
    }
    frmLoad *openGetter(const QString &path);
    // Runs action once, nested inside the running command, when the server
    // has received a request for target.
    void onRequest(const QString &target, std::function<void()> action);
    void addGallery();

    TestServer m_otherSite;
};

void FrmLoadTest::initTestCase()
{
    QVERIFY2(m_otherSite.isListening(), qPrintable(m_otherSite.errorString()));
    QVERIFY(prepare());
    QVERIFY(showWindow());
    QCOMPARE(FstDir, m_dlDir);
}

void FrmLoadTest::init()
{
    QVERIFY(startCase());
}

void FrmLoadTest::cleanup()
{
    QVERIFY(closeGetter());
    QVERIFY(m_window->Button(QStringLiteral("Fget"))->isEnabled());
    m_server.releaseStalled();
    m_otherSite.releaseStalled();
    SetEngineGivesUpOn({});
}

void FrmLoadTest::cleanupTestCase()
{
    m_window.reset();
}

frmLoad *FrmLoadTest::openGetter(const QString &path)
{
    return showPage(path) ? clickFget() : nullptr;
}

void FrmLoadTest::onRequest(const QString &target, std::function<void()> action)
{
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(&m_server, &TestServer::requestReceived, this,
                          [connection, target, action](const QString &received) {
        if (received != target)
            return;
        QObject::disconnect(*connection);
        action();
    });
}

// A page with a thumbnail linking to its picture, an archive and a picture
// too small to keep.
void FrmLoadTest::addGallery()
{
    m_server.addPage("/gallery.html",
                     "<html><body><a href=\"img/a.jpg\"><img src=\"img/t_a.gif\"></a>"
                     "<a href=\"b.zip\">archive</a> <a href=\"small.jpg\">small</a>"
                     "<a href=\"notes.txt\">notes</a></body></html>");
    m_server.addRoute("/img/a.jpg", TestResponse::bytes(QByteArray(37000, 'a'), "image/jpeg"));
    m_server.addRoute("/img/t_a.gif", TestResponse::bytes(QByteArray(3000, 't'), "image/gif"));
    m_server.addRoute("/b.zip", TestResponse::bytes(QByteArray(51000, 'b'), "application/zip"));
    m_server.addRoute("/small.jpg", TestResponse::bytes(QByteArray(500, 's'), "image/jpeg"));
}

void FrmLoadTest::formLoad()
{
    addGallery();
    frmLoad *w = openGetter(QStringLiteral("/gallery.html"));
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QStringLiteral("ファイルのダウンロード"));
    QVERIFY(!w->isModal());
    QVERIFY(!m_window->Button(QStringLiteral("Fget"))->isEnabled());
    QCOMPARE(control<QLabel>(w, "lblURL")->text(), url("/gallery.html"));
    QCOMPARE(control<QLabel>(w, "lblDLDir")->text(), m_dlDir);
    QCOMPARE(enabledControls(w), IdleEmpty);

    const QList<QPair<const char *, const char *>> hints = {
        {"Exit", "終了"},
        {"Serch", "ＵＲＬを解析し、ダウンロードできるファイルを抽出"},
        {"DownLoad", "ファイルのダウンロードを開始"},
        {"Stop", "ダウンロードを中止"},
    };
    for (const auto &[key, hint] : hints) {
        QAction *button = w->Button(QLatin1String(key));
        QVERIFY2(button, key);
        QCOMPARE(button->toolTip(), QString::fromUtf8(hint));
        QVERIFY2(!button->icon().isNull(), key);
    }
    const QList<QPair<const char *, const char *>> texts = {
        {"Label7", "ＵＲＬ名"}, {"Label1", "ダウンロード先"}, {"Label3", "ダウンロードファイル名"},
        {"Label4", "kb終了"}, {"Label5", "／"}, {"Label6", "【臨時設定】"},
        {"Label2", "ｋｂ以下のファイルはダウンロードしない"},
    };
    for (const auto &[name, text] : texts)
        QCOMPARE(control<QLabel>(w, name)->text(), QString::fromUtf8(text));
    QCOMPARE(control<QPushButton>(w, "cmdAllChk")->text(), QStringLiteral("全てチェックする"));
    QCOMPARE(control<QPushButton>(w, "cmdRefresh")->text(), QStringLiteral("設定を元に戻す"));
    QCOMPARE(control<QCheckBox>(w, "ChkSubURL")->text(),
             QStringLiteral("現在のページに記述されているＵＲＬからも収集する"));
    QCOMPARE(control<QCheckBox>(w, "ChkFileName")->text(),
             QStringLiteral("ダウンロードするファイル名にURL名を加える"));
    QCOMPARE(control<QCheckBox>(w, "ChkPageView")->text(), QStringLiteral("表示中のページからも収集する"));
    for (const char *name : {"lblDLFname", "lblKB", "lblRight", "lblNow", "lblAll", "PBar1", "SB"})
        QVERIFY2(w->findChild<QWidget *>(QLatin1String(name)), name);

    // The saved settings, with the extensions in order of their text, letter
    // case ignored, and none of them highlighted.
    QCOMPARE(control<QLineEdit>(w, "txtgrhkb")->text(), QStringLiteral("1"));
    QVERIFY(!control<QCheckBox>(w, "ChkSubURL")->isChecked());
    QVERIFY(!control<QCheckBox>(w, "ChkPageView")->isChecked());
    auto *extensions = control<QListWidget>(w, "lstExtsn");
    QCOMPARE(itemTexts(extensions), QStringList({"Bmp", "gif", "jpg", "png", "ZIP"}));
    QCOMPARE(ticks(extensions), QList<bool>({false, true, true, true, true}));
    QVERIFY(extensions->selectedItems().isEmpty());
    QCOMPARE(ExtNames, QStringList({"", "Bmp", "gif", "jpg", "png", "ZIP"}));
    QCOMPARE(ExtChecks, QList<int>({0, 0, 1, 1, 1, 1}));

    // The close box is refused; the window stays and still works.
    QCloseEvent request;
    QSpontaneKeyEvent::setSpontaneous(&request);
    QCoreApplication::sendEvent(w->windowHandle(), &request);
    QCOMPARE(m_messages, QList<Message>({{CloseRefused, Confirm}}));
    QVERIFY(w->isVisible());
    QCOMPARE(frmLoad::Current(), w);
}

// Idle, empty → Searching → Listed → (Stop) Idle, list kept → Downloading →
// Idle, list kept, with the enabled controls of each state also seen from
// inside the running command.
void FrmLoadTest::searchStopDownload()
{
    addGallery();
    QPointer<frmLoad> w = openGetter(QStringLiteral("/gallery.html"));
    QVERIFY(w);
    QCOMPARE(enabledControls(w), IdleEmpty);

    QString whileSearching;
    QString phaseWhileSearching;
    QTimer::singleShot(0, w, [&] {
        whileSearching = enabledControls(w);
        phaseWhileSearching = control<QLabel>(w, "lblDLFname")->text();
    });
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(whileSearching, Searching);
    QVERIFY(phaseWhileSearching.startsWith(QStringLiteral("★★　ＨＴＭＬ")));
    QCOMPARE(m_messages, QList<Message>());
    QCOMPARE(enabledControls(w), Listed);
    QCOMPARE(control<QLabel>(w, "lblDLFname")->text(), QStringLiteral("★★　ＨＴＭＬ解析終了．★★"));
    QCOMPARE(control<QPushButton>(w, "cmdAllChk")->text(), TickAll);

    QListWidget *list = fileList(w);
    QStringList found = itemTexts(list);
    found.sort();
    QCOMPARE(found, QStringList({url("/b.zip"), url("/img/a.jpg"), url("/img/t_a.gif"),
                                 url("/small.jpg")}));
    QCOMPARE(itemTexts(list), FileURLs);
    QCOMPARE(ticks(list), QList<bool>(4, false));

    w->TB_ButtonClick(QStringLiteral("Stop"));
    QCOMPARE(enabledControls(w), IdleKept);
    QCOMPARE(list->count(), 4);
    QCOMPARE(AbortFlag, 1);

    // Download of all but the thumbnail; the close box is tried meanwhile and
    // the download goes on.
    tickWhere(list, [](const QString &text) { return !text.endsWith(QLatin1String(".gif")); });
    QString whileDownloading;
    QTimer::singleShot(0, w, [&] {
        whileDownloading = enabledControls(w);
        QCloseEvent request;
        QSpontaneKeyEvent::setSpontaneous(&request);
        QCoreApplication::sendEvent(w->windowHandle(), &request);
    });
    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(whileDownloading, Downloading);
    QCOMPARE(m_messages, QList<Message>({{CloseRefused, Confirm}, {Finished, Confirm}}));
    QVERIFY(w && w->isVisible());
    QCOMPARE(enabledControls(w), IdleKept);
    QCOMPARE(control<QStatusBar>(w, "SB")->currentMessage(), QString());

    for (int i = 0; i < list->count(); ++i) {
        const QString text = list->item(i)->text();
        const QString address = text.left(FileItemTextWidth).trimmed();
        QString result;
        if (address == url("/img/a.jpg"))
            result = QStringLiteral(" 37kb");
        else if (address == url("/b.zip"))
            result = QStringLiteral(" 50kb");
        else if (address == url("/small.jpg"))
            result = QStringLiteral(" 指定容量以下");
        if (result.isEmpty())
            QCOMPARE(text, url("/img/t_a.gif"));
        else
            QVERIFY2(text.endsWith(result) && text.size() == FileItemTextWidth + result.size(),
                     qPrintable(text));
    }
    const QString sub = DownloadSubDirName(url("/gallery.html"));
    QCOMPARE(TreeListing(m_dlDir), QStringList({sub + "/", sub + "/a.jpg", sub + "/b.zip"}));
    QCOMPARE(FileBytes(pageFolder("/gallery.html") + "/a.jpg"), QByteArray(37000, 'a'));
}

// Listed → Downloading directly; "DownLoad" with nothing ticked; the tick-all
// button pressed twice, and its caption after a new search.
void FrmLoadTest::downloadFromListedAndTickAll()
{
    addGallery();
    QPointer<frmLoad> w = openGetter(QStringLiteral("/gallery.html"));
    QVERIFY(w);
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(enabledControls(w), Listed);
    QListWidget *list = fileList(w);
    QCOMPARE(list->count(), 4);

    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(m_messages, QList<Message>({{NothingTicked, Confirm}}));
    QCOMPARE(enabledControls(w), Listed);
    QCOMPARE(TreeListing(m_dlDir), QStringList());
    m_messages.clear();

    auto *allChk = control<QPushButton>(w, "cmdAllChk");
    list->setCurrentRow(2);
    QTest::mouseClick(allChk, Qt::LeftButton);
    QCOMPARE(ticks(list), QList<bool>(4, true));
    QCOMPARE(allChk->text(), UntickAll);
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(!list->currentItem());
    list->setCurrentRow(1);
    QTest::mouseClick(allChk, Qt::LeftButton);
    QCOMPARE(ticks(list), QList<bool>(4, false));
    QCOMPARE(allChk->text(), TickAll);
    QVERIFY(list->selectedItems().isEmpty());

    // Ticked once more after a new search, the next press ticks all again.
    QTest::mouseClick(allChk, Qt::LeftButton);
    QCOMPARE(allChk->text(), UntickAll);
    w->TB_ButtonClick(QStringLiteral("Stop"));
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(allChk->text(), TickAll);
    QTest::mouseClick(allChk, Qt::LeftButton);
    QCOMPARE(ticks(list), QList<bool>(4, true));

    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(m_messages, QList<Message>({{Finished, Confirm}}));
    QCOMPARE(enabledControls(w), IdleKept);
    const QString sub = DownloadSubDirName(url("/gallery.html"));
    const QStringList downloaded{sub + "/", sub + "/a.jpg", sub + "/b.zip", sub + "/t_a.gif"};
    QCOMPARE(TreeListing(m_dlDir), downloaded);
    m_messages.clear();

    // A second search after it: a fresh list, nothing ticked and no results,
    // and a second download that finds every kept file there already.
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(enabledControls(w), Listed);
    QCOMPARE(itemTexts(list), FileURLs);
    QCOMPARE(ticks(list), QList<bool>(4, false));
    QCOMPARE(allChk->text(), TickAll);
    for (int i = 0; i < list->count(); ++i)
        QCOMPARE(SplitFileItemText(list->item(i)->text(), false).address, FileURLs.at(i));
    QTest::mouseClick(allChk, Qt::LeftButton);
    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(m_messages, QList<Message>({{Finished, Confirm}}));
    for (int i = 0; i < list->count(); ++i) {
        const QString text = list->item(i)->text();
        const bool small = FileURLs.at(i) == url("/small.jpg");
        QVERIFY2(text.endsWith(small ? QStringLiteral(" 指定容量以下") : QStringLiteral(" 既に登録あり")),
                 qPrintable(text));
    }
    QCOMPARE(TreeListing(m_dlDir), downloaded);
}

void FrmLoadTest::searchWithoutResult_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<TestResponse>("searched");
    QTest::addColumn<QString>("message");

    QTest::newRow("page not found") << "/gone.html" << TestResponse::status(404, "<p>gone</p>")
                                    << NoText;
    QTest::newRow("server error") << "/broken.html" << TestResponse::status(500, "<p>x</p>")
                                  << NoText;
    QTest::newRow("page cut short") << "/cut.html"
                                    << TestResponse::page(QByteArray(4000, ' ')).resetAfter(100)
                                    << NoText;
    QTest::newRow("no files on the page")
            << "/plain.html"
            << TestResponse::page("<html><body><a href=\"x.txt\">x</a><img src=\"y.svg\"></body></html>")
            << NoFiles;
}

// The page the browser shows answers the getter with searched.
void FrmLoadTest::searchWithoutResult()
{
    QFETCH(QString, path);
    QFETCH(TestResponse, searched);
    QFETCH(QString, message);
    m_server.addPage(path, "<html><body><a href=\"a.jpg\">a</a></body></html>");
    QPointer<frmLoad> w = openGetter(path);
    QVERIFY(w);
    m_server.addRoute(path, searched);

    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(m_messages, QList<Message>({{message, Confirm}}));
    QCOMPARE(enabledControls(w), IdleEmpty);
    QCOMPARE(fileList(w)->count(), 0);
    QCOMPARE(control<QLabel>(w, "lblDLFname")->text(), QString());
    QCOMPARE(AbortFlag, 1);
}

void FrmLoadTest::interruptSearch_data()
{
    QTest::addColumn<bool>("browserAbort");
    QTest::newRow("Stop in the getter") << false;
    QTest::newRow("Abort in the browser") << true;
}

// A search waiting on a page that never comes, interrupted from inside. The
// browser stays usable meanwhile.
void FrmLoadTest::interruptSearch()
{
    QFETCH(bool, browserAbort);
    m_server.addPage("/stalled.html", "<html><body><a href=\"a.jpg\">a</a></body></html>");
    m_server.addPage("/elsewhere.html", "<html><body>elsewhere</body></html>");
    QPointer<frmLoad> w = openGetter(QStringLiteral("/stalled.html"));
    QVERIFY(w);
    m_server.addRoute(QStringLiteral("/stalled.html"), TestResponse::page("<html>").stallAfter(0));

    QString whileSearching;
    bool browserUsable = false;
    bool blinked = false;
    bool hiddenAtOnce = false;
    bool fgetEnabledAtOnce = false;
    onRequest(QStringLiteral("/stalled.html"), [&] {
        whileSearching = enabledControls(w);
        blinked = QTest::qWaitFor([&] { return blinkerColour(w) == QColor(Qt::yellow); }, 5000)
                && QTest::qWaitFor([&] { return blinkerColour(w) == QColor(Qt::black); }, 5000);
        browserUsable = showPage(QStringLiteral("/elsewhere.html"));
        if (browserAbort) {
            m_window->Button(QStringLiteral("Abort"))->trigger();
            hiddenAtOnce = w && w->isHidden() && !frmLoad::Current();
            fgetEnabledAtOnce = m_window->Button(QStringLiteral("Fget"))->isEnabled();
        } else {
            QVERIFY(w->Button(QStringLiteral("Stop"))->isEnabled());
            w->Button(QStringLiteral("Stop"))->trigger();
            // Pressed at once again, before the search has unwound: no second
            // search starts inside the first.
            w->Button(QStringLiteral("Serch"))->trigger();
        }
    });
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(whileSearching, Searching);
    QVERIFY(blinked);
    QVERIFY(browserUsable);
    QCOMPARE(m_messages, QList<Message>());
    QCOMPARE(AbortFlag, 1);
    // The window outlives the call it was closed from.
    QVERIFY(w);

    if (browserAbort) {
        QVERIFY(hiddenAtOnce);
        QVERIFY(fgetEnabledAtOnce);
        QTRY_VERIFY(w.isNull());
        QVERIFY(m_window->Button(QStringLiteral("Fget"))->isEnabled());
        QVERIFY(m_window->Button(QStringLiteral("Abort"))->isEnabled());
    } else {
        QCOMPARE(enabledControls(w), IdleEmpty);
        QCOMPARE(fileList(w)->count(), 0);
        QCOMPARE(control<QStatusBar>(w, "SB")->currentMessage(), QString());
        QCOMPARE(blinkerColour(w), QColor(Qt::black));
        QTest::qWait(0);
        QVERIFY(w && w->isVisible());
    }
}

void FrmLoadTest::interruptDownload_data()
{
    QTest::addColumn<bool>("exit");
    QTest::newRow("Stop") << false;
    QTest::newRow("Exit") << true;
}

// A download interrupted while the second file is half received: the first
// file stays, nothing of the second remains.
void FrmLoadTest::interruptDownload()
{
    QFETCH(bool, exit);
    m_server.addPage("/two.html",
                     "<html><body><a href=\"one.jpg\">1</a><a href=\"slow.zip\">2</a></body></html>");
    m_server.addRoute("/one.jpg", TestResponse::bytes(QByteArray(37000, '1'), "image/jpeg"));
    m_server.addRoute("/slow.zip",
                      TestResponse::bytes(QByteArray(400 * 1024, '2'), "application/zip").slow(4096, 100));
    QPointer<frmLoad> w = openGetter(QStringLiteral("/two.html"));
    QVERIFY(w);
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QListWidget *list = fileList(w);
    QCOMPARE(itemTexts(list), QStringList({url("/one.jpg"), url("/slow.zip")}));
    QTest::mouseClick(control<QPushButton>(w, "cmdAllChk"), Qt::LeftButton);

    bool partReceived = false;
    bool hiddenAtOnce = false;
    onRequest(QStringLiteral("/slow.zip"), [&] {
        // Some of the file is on its way to the disk when the user acts.
        partReceived = QTest::qWaitFor([&] {
            return control<QLabel>(w, "lblKB")->text().toInt() >= 8;
        }, 20000);
        const QString key = exit ? QStringLiteral("Exit") : QStringLiteral("Stop");
        QVERIFY(w->Button(key)->isEnabled());
        w->Button(key)->trigger();
        hiddenAtOnce = w->isHidden() && !frmLoad::Current()
                && m_window->Button(QStringLiteral("Fget"))->isEnabled();
        // A "DownLoad" pressed before the stopped one has unwound does nothing.
        if (!exit)
            w->Button(QStringLiteral("DownLoad"))->trigger();
    });
    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QVERIFY(partReceived);
    QCOMPARE(m_messages, QList<Message>());
    QVERIFY(w);
    QVERIFY(list->item(0)->text().endsWith(QLatin1String(" 37kb")));
    QCOMPARE(list->item(1)->text(), url("/slow.zip"));

    if (exit) {
        QVERIFY(hiddenAtOnce);
        QTRY_VERIFY(w.isNull());
        QVERIFY(m_window->Button(QStringLiteral("Fget"))->isEnabled());
    } else {
        QVERIFY(!hiddenAtOnce);
        QCOMPARE(enabledControls(w), IdleKept);
        QCOMPARE(control<QStatusBar>(w, "SB")->currentMessage(), QString());
        QCOMPARE(control<QPushButton>(w, "cmdAllChk")->text(), TickAll);
    }
    const QString sub = DownloadSubDirName(url("/two.html"));
    QCOMPARE(TreeListing(m_dlDir), QStringList({sub + "/", sub + "/one.jpg"}));
}

void FrmLoadTest::temporarySettings_data()
{
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("not a number") << "abc" << qint64(0);
    QTest::newRow("half goes to even, down") << "12.5" << qint64(12);
    QTest::newRow("half goes to even, up") << "13.5" << qint64(14);
    QTest::newRow("large") << "40" << qint64(40);
    // Read as the settings dialog reads it.
    QTest::newRow("full-width digits") << QStringLiteral("\uFF14\uFF10") << qint64(40);
}

// Temporary settings reach the search and the download that follows, never
// the files, and "設定を元に戻す" brings the saved ones back.
void FrmLoadTest::temporarySettings()
{
    QFETCH(QString, threshold);
    QFETCH(qint64, expected);
    addGallery();
    QPointer<frmLoad> w = openGetter(QStringLiteral("/gallery.html"));
    QVERIFY(w);
    const QString iniPath = m_appDir.filePath(QStringLiteral("KIRO.ini"));
    const QString extsnPath = m_appDir.filePath(QStringLiteral("Extsn.fil"));
    const QByteArray iniBefore = FileBytes(iniPath);
    const QByteArray extsnBefore = FileBytes(extsnPath);

    auto *box = control<QLineEdit>(w, "txtgrhkb");
    box->clear();
    box->insert(threshold);   // as typed, or committed by an input method
    for (const char *name : {"ChkSubURL", "ChkFileName", "ChkPageView"}) {
        auto *option = control<QCheckBox>(w, name);
        // On the box itself: the widget may be wider than its text.
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
        QVERIFY(option->isChecked());
    }
    auto *extensions = control<QListWidget>(w, "lstExtsn");
    extensions->item(1)->setCheckState(Qt::Unchecked);   // gif
    extensions->item(0)->setCheckState(Qt::Checked);      // Bmp
    // The settings dialog, opened from the browser meanwhile, saved a shorter
    // list; the search still uses the one shown here.
    SetExtensionList({{QStringLiteral("jpg"), 1}});

    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(grhkb, expected);
    QCOMPARE(chkSubURL, 1);
    QCOMPARE(chkFileName, 1);
    QCOMPARE(chkPageView, 1);
    QCOMPARE(ExtNames, QStringList({"", "Bmp", "gif", "jpg", "png", "ZIP"}));
    QCOMPARE(ExtChecks, QList<int>({0, 1, 0, 1, 1, 1}));
    QStringList found = itemTexts(fileList(w));
    found.sort();
    QCOMPARE(found, QStringList({url("/b.zip"), url("/img/a.jpg"), url("/small.jpg")}));

    // An edit after the search does not reach the download.
    box->setText(QStringLiteral("1000"));
    tickWhere(fileList(w), [&](const QString &text) { return text == url("/img/a.jpg"); });
    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(m_messages, QList<Message>({{Finished, Confirm}}));
    const QString sub = DownloadSubDirName(url("/gallery.html"));
    const QString kept = sub + "/" + SaveNameFor(url("/img/a.jpg"), 1);
    QCOMPARE(TreeListing(m_dlDir), 37000 > expected * 1024 ? QStringList({sub + "/", kept})
                                                       : QStringList({sub + "/"}));

    QCOMPARE(FileBytes(iniPath), iniBefore);
    QCOMPARE(FileBytes(extsnPath), extsnBefore);

    QTest::mouseClick(control<QPushButton>(w, "cmdRefresh"), Qt::LeftButton);
    QCOMPARE(box->text(), QStringLiteral("1"));
    QCOMPARE(grhkb, qint64(1));
    QVERIFY(!control<QCheckBox>(w, "ChkSubURL")->isChecked());
    QVERIFY(!control<QCheckBox>(w, "ChkFileName")->isChecked());
    QVERIFY(!control<QCheckBox>(w, "ChkPageView")->isChecked());
    QCOMPARE(chkPageView, 0);
    QCOMPARE(ticks(extensions), QList<bool>({false, true, true, true, true}));
    QCOMPARE(ExtChecks, QList<int>({0, 0, 1, 1, 1, 1}));
    QVERIFY(extensions->selectedItems().isEmpty());
}

// The settings dialog, opened from the browser and saved while a search
// runs, changes nothing of that search.
void FrmLoadTest::settingsSavedDuringASearch()
{
    addGallery();
    const QByteArray page = "<html><body><a href=\"img/a.jpg\">a</a> <a href=\"sub.html\">more</a>"
                            "</body></html>";
    m_server.addSequence("/withsub.html", {TestResponse::page(page), TestResponse::page(page).slow(16, 60)});
    m_server.addPage("/sub.html", "<html><body><a href=\"b.zip\">b</a></body></html>");
    QPointer<frmLoad> w = openGetter(QStringLiteral("/withsub.html"));
    QVERIFY(w);

    bool saved = false;
    onRequest(QStringLiteral("/withsub.html"), [&] {
        QTimer::singleShot(0, m_window.get(), [&] {
            QTimer::singleShot(0, m_window.get(), [&] {
                auto *dialog = m_window->findChild<QDialog *>(QStringLiteral("frmUtl"));
                QVERIFY(dialog && dialog->isVisible());
                control<QLineEdit>(dialog, "txtgrhkb")->setText(QStringLiteral("1000"));
                control<QCheckBox>(dialog, "ChkSubURL")->setChecked(true);
                const QList<QListWidgetItem *> jpg =
                        control<QListWidget>(dialog, "lstExtsn")->findItems(QStringLiteral("jpg"), Qt::MatchExactly);
                QCOMPARE(jpg.size(), 1);
                jpg.first()->setCheckState(Qt::Unchecked);
                QTest::mouseClick(control<QPushButton>(dialog, "cmdEnd"), Qt::LeftButton);
                saved = !dialog->isVisible();
            });
            m_window->TB_ButtonClick(QStringLiteral("Utl"));
        });
    });
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QVERIFY(saved);
    QCOMPARE(chkSubURL, 1);
    QCOMPARE(grhkb, qint64(1000));
    // The jpg still kept, the sub-page not followed.
    QCOMPARE(itemTexts(fileList(w)), QStringList({url("/img/a.jpg")}));
    QCOMPARE(m_server.requestCount("/sub.html"), 0);
    QCOMPARE(m_messages, QList<Message>());
}

void FrmLoadTest::missingExtensionFile()
{
    addGallery();
    const QString extsnPath = m_appDir.filePath(QStringLiteral("Extsn.fil"));
    QVERIFY(QFile::remove(extsnPath));
    QPointer<frmLoad> w = openGetter(QStringLiteral("/gallery.html"));
    QVERIFY(w);
    QVERIFY(QFile::exists(extsnPath));
    QCOMPARE(QFileInfo(extsnPath).size(), 0);
    QCOMPARE(control<QListWidget>(w, "lstExtsn")->count(), 0);
    QCOMPARE(ExtNames, QStringList({""}));

    // With no extension, nothing can be found.
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(ExtNames, QStringList({""}));
    QCOMPARE(m_messages, QList<Message>({{NoFiles, Confirm}}));
    QCOMPARE(enabledControls(w), IdleEmpty);
}

void FrmLoadTest::framesets_data()
{
    QTest::addColumn<QString>("rightFrame");     // "other" = a frame of another site
    QTest::addColumn<QStringList>("searchedPages");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("two readable frames")
            << "right.html" << QStringList({"/frames/index.html", "/frames/left.html", "/frames/right.html"})
            << QStringList({"/frames/l.jpg", "/frames/r.zip"});
    // A server error may pass: the frame is asked three times.
    QTest::newRow("last frame fails when searched")
            << "failing.html"
            << QStringList({"/frames/index.html", "/frames/left.html", "/frames/failing.html",
                            "/frames/failing.html", "/frames/failing.html"})
            << QStringList({"/frames/l.jpg"});
    QTest::newRow("last frame of another site")
            << "other" << QStringList({"/frames/index.html", "/frames/left.html"})
            << QStringList({"/frames/l.jpg"});
}

// Each readable frame is searched as a page of its own, once; a frame that
// cannot be read or fetched takes nothing away from the others.
void FrmLoadTest::framesets()
{
    QFETCH(QString, rightFrame);
    QFETCH(QStringList, searchedPages);
    QFETCH(QStringList, files);

    m_otherSite.addPage("/other.html", "<html><body><a href=\"o.jpg\">o</a></body></html>");
    const QString right = rightFrame == QLatin1String("other")
            ? m_otherSite.baseUrl() + "/other.html" : rightFrame;
    m_server.addPage("/frames/index.html", framesetPage(QStringLiteral("left.html"), right));
    m_server.addPage("/frames/left.html", "<html><body><a href=\"l.jpg\">l</a></body></html>");
    m_server.addPage("/frames/right.html", "<html><body><a href=\"r.zip\">r</a></body></html>");
    m_server.addPage("/frames/failing.html", "<html><body><a href=\"f.jpg\">f</a></body></html>");
    QVERIFY(showPage(QStringLiteral("/frames/index.html")));
    // Both frames are loaded before the getter opens.
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/frames/left.html")) > 0
                             && (rightFrame == QLatin1String("other")
                                 ? m_otherSite.requestCount(QStringLiteral("/other.html")) > 0
                                 : m_server.requestCount("/frames/" + rightFrame) > 0), 20000);
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        QList<FrameInfo> frames;
        return m_window->WB()->ReadFrames(&frames) && frames.size() == 2
                && frames.at(0).location.endsWith(QLatin1String("left.html"));
    }(), 20000);
    QPointer<frmLoad> w = openGetter(QStringLiteral("/frames/index.html"));
    QVERIFY(w);
    m_server.addRoute(QStringLiteral("/frames/failing.html"), TestResponse::status(500));
    m_server.clearRequestLog();
    m_otherSite.clearRequestLog();

    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(m_messages, QList<Message>());
    QCOMPARE(enabledControls(w), Listed);
    QStringList searched;
    for (const TestRequest &request : m_server.requestLog())
        searched << request.target;
    searched.sort();
    searchedPages.sort();
    QCOMPARE(searched, searchedPages);
    QCOMPARE(m_otherSite.totalRequests(), 0);
    QStringList expected;
    for (const QString &file : std::as_const(files))
        expected << url(file);
    QStringList found = itemTexts(fileList(w));
    found.sort();
    QCOMPARE(found, expected);
    QCOMPARE(PageURLs.size(), 3);
    QCOMPARE(PageURLs.at(0), url("/frames/index.html"));
}

// An address longer than the item's fixed width is drawn whole until its
// download puts a result behind it.
void FrmLoadTest::longAddressShownWhole()
{
    const QString name = QString(200, QLatin1Char('x')) + QStringLiteral(".jpg");
    m_server.addPage("/long.html", "<html><body><a href=\"" + name.toLatin1() + "\">x</a></body></html>");
    m_server.addRoute("/" + name, TestResponse::bytes(QByteArray(37000, 'x'), "image/jpeg"));
    QPointer<frmLoad> w = openGetter(QStringLiteral("/long.html"));
    QVERIFY(w);
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QListWidget *list = fileList(w);
    QCOMPARE(itemTexts(list), QStringList{url("/" + name)});
    QVERIFY(url("/" + name).size() > FileItemTextWidth + 1);
    FileItemParts shown = FileItemDelegate::PartsOf(list->model()->index(0, 0));
    QCOMPARE(shown.address, url("/" + name));
    QCOMPARE(shown.result, QString());

    list->item(0)->setCheckState(Qt::Checked);
    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(m_messages, QList<Message>({{Finished, Confirm}}));
    shown = FileItemDelegate::PartsOf(list->model()->index(0, 0));
    QCOMPARE(shown.address, url("/" + name).left(FileItemTextWidth));
    QCOMPARE(shown.result, QStringLiteral("37kb"));
}

void FrmLoadTest::analysisErrorShown_data()
{
    QTest::addColumn<bool>("framed");
    QTest::newRow("first frame, then a frame with files") << true;
    QTest::newRow("nothing found") << false;
}

// When the analysis of some text failed, the user sees it once the search is
// over, whatever came after it.
void FrmLoadTest::analysisErrorShown()
{
    QFETCH(bool, framed);
    const QString analysisError = QStringLiteral("ＨＴＭＬの解析中にエラーが発生しました．");
    const QByteArray plain = "<html><body><a href=\"b.jpg\">b</a></body></html>";
    m_server.addPage("/err/index.html", framesetPage(QStringLiteral("broken.html"), QStringLiteral("good.html")));
    m_server.addPage("/err/broken.html", plain);
    m_server.addPage("/err/good.html", "<html><body><a href=\"g.jpg\">g</a></body></html>");
    const QString shown = framed ? QStringLiteral("/err/index.html") : QStringLiteral("/err/broken.html");
    QVERIFY(showPage(shown));
    if (framed) {
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            QList<FrameInfo> frames;
            return m_window->WB()->ReadFrames(&frames) && frames.size() == 2;
        }(), 20000);
    }
    QPointer<frmLoad> w = openGetter(shown);
    QVERIFY(w);
    m_server.addRoute(QStringLiteral("/err/broken.html"), TestResponse::page(brokenPage(plain), "text/html"));
    SetEngineGivesUpOn([](const QString &text) { return text.contains(EngineGivesUpMark); });

    QStringList statusAtMessage;
    m_onMessage = [&](const QString &) {
        statusAtMessage << control<QStatusBar>(w, "SB")->currentMessage();
    };
    w->TB_ButtonClick(QStringLiteral("Serch"));
    m_onMessage = nullptr;

    QCOMPARE(control<QStatusBar>(w, "SB")->currentMessage(), analysisError);
    if (framed) {
        QCOMPARE(m_messages, QList<Message>());
        QCOMPARE(enabledControls(w), Listed);
        QCOMPARE(itemTexts(fileList(w)), QStringList{url("/err/g.jpg")});
    } else {
        QCOMPARE(m_messages, QList<Message>({{NoFiles, Confirm}}));
        QCOMPARE(statusAtMessage, QStringList{analysisError});
        QCOMPARE(enabledControls(w), IdleEmpty);
    }
}

void FrmLoadTest::pageShownByScript_data()
{
    QTest::addColumn<QString>("shown");          // the page the browser shows
    QTest::addColumn<QString>("handedOver");     // the address box when "Fget" is pressed
    QTest::addColumn<bool>("pageView");
    QTest::addColumn<QStringList>("searchedPages");
    QTest::addColumn<QStringList>("files");      // empty: nothing is found

    const QStringList gallery = {"/show/big/p1.jpg", "/show/thumb/t1.gif", "/show/thumb/t1-2x.gif",
                                 "/show/big/p2.jpg", "/show/thumb/t2.gif", "/show/thumb/t2-2x.gif",
                                 "/show/bg/hero.jpg"};
    QTest::newRow("gallery, option off")
            << "/show/gallery.html" << "" << false << QStringList{"/show/gallery.html"} << QStringList{};
    QTest::newRow("gallery, option on")
            << "/show/gallery.html" << "" << true << QStringList{"/show/gallery.html"} << gallery;
    const QStringList framePages = {"/show/frames.html", "/show/gallery.html", "/show/plain.html"};
    QTest::newRow("frames, option off")
            << "/show/frames.html" << "" << false << framePages << QStringList{"/show/plain.jpg"};
    QTest::newRow("frames, option on")
            << "/show/frames.html" << "" << true << framePages
            << gallery + QStringList{"/show/plain.jpg"};
    // The view shows another document than the one searched: it adds nothing.
    QTest::newRow("another address handed over, option on")
            << "/show/gallery.html" << "/show/plain.html" << true << QStringList{"/show/plain.html"}
            << QStringList{"/show/plain.jpg"};
}

// A gallery that a script builds once the page has loaded is found only with
// the option on, from the document the browser view shows, in its order; the
// pages asked for are the same either way.
void FrmLoadTest::pageShownByScript()
{
    QFETCH(QString, shown);
    QFETCH(QString, handedOver);
    QFETCH(bool, pageView);
    QFETCH(QStringList, searchedPages);
    QFETCH(QStringList, files);

    m_server.addPage("/show/gallery.html",
                     "<html><head><style>.hero { width: 20px; height: 20px; }</style></head><body>"
                     "<div id=\"g\"></div><script>"
                     "window.addEventListener('load', function () { setTimeout(function () {"
                     "  var g = document.getElementById('g');"
                     "  for (var i = 1; i <= 2; ++i) {"
                     "    var a = document.createElement('a');"
                     "    a.setAttribute('hr' + 'ef', ['big/p', i, '.j', 'pg'].join(''));"
                     "    var img = document.createElement('img');"
                     "    img.setAttribute('sr' + 'cset', ['thumb/t', i, '-2x.g', 'if 2x'].join(''));"
                     "    img.setAttribute('sr' + 'c', ['thumb/t', i, '.g', 'if'].join(''));"
                     "    a.appendChild(img); g.appendChild(a);"
                     "  }"
                     "  var hero = document.createElement('div'); hero.className = 'hero';"
                     "  hero.style.backgroundImage = 'ur' + 'l(bg/hero.j' + 'pg)'; g.appendChild(hero);"
                     "  document.body.setAttribute('data-built', '1');"
                     "}, 50); });"
                     "</script></body></html>");
    m_server.addPage("/show/plain.html", "<html><body><img src=\"plain.jpg\"></body></html>");
    m_server.addPage("/show/frames.html", framesetPage(QStringLiteral("gallery.html"), QStringLiteral("plain.html")));
    const QByteArray gif = QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7");
    for (const char *name : {"/show/thumb/t1.gif", "/show/thumb/t2.gif", "/show/thumb/t1-2x.gif",
                             "/show/thumb/t2-2x.gif"})
        m_server.addRoute(QLatin1String(name), TestResponse::bytes(gif, "image/gif"));

    QVERIFY(showPage(shown));
    // The gallery has been built, in its frame too.
    const int galleryFrame = shown == QLatin1String("/show/frames.html") ? 0 : -1;
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        ShownDocument document;
        if (!m_window->WB()->ReadDocument(galleryFrame, &document))
            return false;
        for (const LiveDocumentValue &value : std::as_const(document.values)) {
            if (value.kind == LiveDocumentValue::Css)
                return true;
        }
        return false;
    }(), 20000);
    if (!handedOver.isEmpty())
        m_window->TURLBox()->setText(url(handedOver));
    m_window->TB_ButtonClick(QStringLiteral("Fget"));
    QPointer<frmLoad> w = frmLoad::Current();
    QVERIFY(w && QTest::qWaitForWindowExposed(w));
    if (pageView)
        control<QCheckBox>(w, "ChkPageView")->setChecked(true);
    m_server.clearRequestLog();

    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(chkPageView, pageView ? 1 : 0);
    QStringList searched;
    for (const TestRequest &request : m_server.requestLog())
        searched << request.target;
    QCOMPARE(searched, searchedPages);
    if (files.isEmpty()) {
        QCOMPARE(m_messages, QList<Message>({{NoFiles, Confirm}}));
        QCOMPARE(enabledControls(w), IdleEmpty);
        return;
    }
    QCOMPARE(m_messages, QList<Message>());
    QCOMPARE(enabledControls(w), Listed);
    QStringList expected;
    for (const QString &file : std::as_const(files))
        expected << url(file);
    QCOMPARE(itemTexts(fileList(w)), expected);
}

// A page that prints what a frame's report used to look like, fakes a frame's
// load and reaches for the channel: the address box keeps the page's own
// address, and the search's requests carry no header the page wrote.
void FrmLoadTest::forgedFrameReport()
{
    const QString forged = url("/img/a.jpg") + "\\r\\nX-Injected: 1\\r\\nCookie: stolen=1";
    m_server.addPage("/forge/frame.html", "<html><body><a href=\"f.jpg\">f</a></body></html>");
    m_server.addPage("/forge/index.html", QStringLiteral(
            "<html><body><a href=\"a.jpg\">a</a><iframe src=\"frame.html\"></iframe><script>"
            "var forged = '%1', mark = '\\u0001kiro-frame\\u0001';"
            "console.log(mark + '1\\u0001' + forged);"
            "setTimeout(function () {"
            "  console.log(mark + '0\\u0001' + forged);"
            "  document.querySelector('iframe').dispatchEvent(new Event('load'));"
            "  if (typeof qt !== 'undefined') document.title = 'reached';"
            "}, 300);"
            "</script></body></html>").arg(forged).toUtf8());
    QSignalSpy completed(m_window->WB(), &BrowserView::NavigateComplete2);
    QVERIFY(showPage(QStringLiteral("/forge/index.html")));
    QTest::qWait(800);
    for (const QList<QVariant> &report : std::as_const(completed))
        QVERIFY2(!report.at(1).toString().contains(QLatin1String("X-Injected")),
                 qPrintable(report.at(1).toString()));
    QCOMPARE(m_window->TURLBox()->text(), url("/forge/frame.html"));
    QVERIFY(m_window->WB()->title() != QLatin1String("reached"));

    QPointer<frmLoad> w = clickFget();
    QVERIFY(w);
    m_server.clearRequestLog();
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QVERIFY(m_server.totalRequests() > 0);
    for (const TestRequest &request : m_server.requestLog()) {
        QCOMPARE(request.header("X-Injected"), QByteArray());
        QVERIFY(!request.header("Cookie").contains("stolen"));
        QVERIFY(!request.header("Referer").contains("X-Injected"));
    }
}

QTEST_MAIN(FrmLoadTest)
#include "tst_frmload.moc"
