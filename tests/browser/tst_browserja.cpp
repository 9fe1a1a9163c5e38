// The browser window as a Japanese-speaking user meets it: Japanese menus,
// error pages and requests, downloads started in the page, the keys, the find
// bar and the zoom. Driven by key and pointer events through the window.
#include "BrowserTestBase.h"
#include "TestFiles.h"

#include "browser/FindBar.h"
#include "browser/PageDownloads.h"
#include "core/MessageSeam.h"
#include "core/Shared.h"
#include "resources/Resources.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWheelEvent>
#include <QWindow>

#include <memory>

namespace {

// The test page: two links to files, a picture, a few words and room.
const QPoint ZipLink{100, 40};
const QPoint BrokenLink{100, 140};
const QPoint Picture{50, 250};
const QPoint SlowLink{420, 40};
const QPoint TextField{650, 40};
const QPoint EmptySpot{700, 250};

QByteArray DownloadPage()
{
    return QStringLiteral(
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>ダウンロード試験</title></head>"
            "<body style=\"margin:0\">"
            "<a href=\"/files/a.zip\" style=\"position:absolute;left:0;top:0;width:300px;height:80px;"
            "display:block;background:#ddd\">a.zip</a>"
            "<a href=\"/files/broken.zip\" style=\"position:absolute;left:0;top:100px;width:300px;"
            "height:80px;display:block;background:#ddd\">broken.zip</a>"
            "<a href=\"/files/slow.zip\" style=\"position:absolute;left:320px;top:0;width:200px;"
            "height:80px;display:block;background:#ddd\">slow.zip</a>"
            "<input type=\"text\" value=\"入力欄\" style=\"position:absolute;left:560px;top:20px;"
            "width:200px;height:40px\">"
            "<img src=\"/files/pic.png\" style=\"position:absolute;left:0;top:200px;width:100px;"
            "height:100px\">"
            "<p style=\"position:absolute;left:0;top:320px\">apple pie, apple tart, apple juice</p>"
            "</body></html>").toUtf8();
}

QByteArray ZipBytes()
{
    QByteArray bytes("PK\x03\x04", 4);
    for (int i = 0; i < 70000; ++i)
        bytes.append(char((i * 7) & 0xff));
    return bytes;
}

QByteArray PngBytes()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A menu entry as the user reads it: no mnemonic, no key.
QString EntryText(const QAction *action)
{
    QString text = action->text();
    text = text.left(text.indexOf(QLatin1Char('\t')) < 0 ? text.size() : text.indexOf(QLatin1Char('\t')));
    static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)"));
    text.remove(mnemonic);
    text.remove(QLatin1Char('&'));
    return text;
}

bool IsJapanese(const QString &text)
{
    static const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30FF}\\x{4E00}-\\x{9FFF}]"));
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    return text.contains(japanese) && !text.contains(latin);
}

QStringList EntriesOf(const QMenu *menu)
{
    QStringList entries;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        entries << EntryText(action);
        if (action->menu())
            entries << EntriesOf(action->menu());
    }
    return entries;
}

} // namespace

class BrowserJaTest : public BrowserTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void contextMenusAreJapanese_data();
    void contextMenusAreJapanese();
    void errorPageIsJapanese();
    void pagesAskedForInJapanese();
    void pageDialogsAreJapanese();

    void clickedLinkDownloads();
    void progressInTheStatusBar();
    void failedDownloadLeavesNoFile();
    void savedFromTheMenu_data();
    void savedFromTheMenu();
    void downloadsThePageStartsAsk_data();
    void downloadsThePageStartsAsk();
    void downloadsNeverAmongTheProgramsFiles();
    void dialogLoopCanBeSilenced();
    void localPageReadsNoOtherLocalFile();
    void viewSourceInTheOneWindow();

    void historyAndHomeKeys();
    void reloadKeys_data();
    void reloadKeys();
    void escapeStops();
    void escapeStillReachesThePage();
    void addressBoxKeys_data();
    void addressBoxKeys();
    void findBar();
    void zoomKeysAndWheel();

private:
    frmMain *openOn(const QString &path);
    QWindow *window() const { return m_window->windowHandle(); }
    QPoint inWindow(QWidget *widget, QPoint pos) const { return widget->mapTo(m_window.get(), pos); }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void click(QPoint pagePos, Qt::MouseButton button = Qt::LeftButton);
    QMenu *rightClickMenu(QWidget *widget, QPoint pos);
    void chooseEntry(QMenu *menu, const QString &entry);
    bool waitForMessages(int count);
    // Waits until count downloads have told their end in the status bar.
    bool waitForEnds(int count);

    QTemporaryDir m_down;
    QStringList m_ends;
};

void BrowserJaTest::initTestCase()
{
    InitKiroResources();
    QVERIFY2(m_server.isListening(), qPrintable(m_server.errorString()));
    QVERIFY(m_appDir.isValid());
    m_server.addPage("/start.html", "<html><body>start</body></html>");
    m_server.addPage("/a.html", "<html><body>a</body></html>");
    m_server.addPage("/b.html", "<html><body>b</body></html>");
    m_server.addPage("/downloads.html", DownloadPage());
    m_server.addRoute("/files/a.zip", TestResponse::bytes(ZipBytes(), "application/zip"));
    m_server.addRoute("/files/broken.zip",
                      TestResponse::generated(2 * 1024 * 1024, "application/zip").resetAfter(300000));
    m_server.addRoute("/files/pic.png", TestResponse::bytes(PngBytes(), "image/png"));
    m_server.addRoute("/files/slow.zip",
                      TestResponse::generated(400 * 1024, "application/zip").slow(16 * 1024, 100));
    m_server.addRoute("/slow.html", TestResponse::page("<html><body>slow").stallAfter(0));
    m_server.addPage("/keys.html",
                     "<html><head><title>keys</title></head><body style=\"height:2000px\">"
                     "<script>document.addEventListener('keydown', e => {"
                     "  if (e.key === 'Escape') document.title = 'escape seen'; });</script>"
                     "keys</body></html>");
    // A page that starts downloads by itself as soon as it is shown.
    m_server.addPage("/auto.html",
                     "<html><body><a id=\"z\" href=\"/files/a.zip\">a.zip</a>"
                     "<a id=\"i\" href=\"/files/KIRO.ini\" download=\"KIRO.ini\">ini</a>"
                     "<script>setTimeout(function () { document.getElementById('z').click(); }, 200);"
                     "</script></body></html>");
    m_server.addPage("/auto-again.html",
                     "<html><body><a id=\"z\" href=\"/files/a.zip\">a.zip</a>"
                     "<script>setTimeout(function () { document.getElementById('z').click(); }, 200);"
                     "</script></body></html>");
    m_server.addPage("/plant.html",
                     "<html><body><a id=\"i\" href=\"/files/KIRO.ini\" download=\"KIRO.ini\">ini</a>"
                     "<a id=\"q\" href=\"/files/qt.conf\" download=\"QT.CONF\">conf</a>"
                     "<script>setTimeout(function () { document.getElementById('i').click();"
                     " document.getElementById('q').click(); }, 200);</script></body></html>");
    m_server.addRoute("/files/KIRO.ini", TestResponse::bytes("[KIRO.set]\r\nFstHpAdrs=http://evil/\r\n"));
    m_server.addRoute("/files/qt.conf", TestResponse::bytes("[Paths]\r\nPrefix=/nowhere\r\n"));
    m_server.addPage("/alerts.html",
                     "<html><head><meta charset=\"utf-8\"><title>alerts</title></head>"
                     "<body style=\"margin:0\"><div style=\"width:400px;height:200px\" onclick=\""
                     "for (var i = 0; i < 200; ++i) { alert('loop ' + i); confirm('again?'); }"
                     " document.title = 'done';\">click</div></body></html>");
    m_server.addPage("/alert.html",
                     "<html><head><meta charset=\"utf-8\"></head>"
                     "<body style=\"margin:0\"><div id=\"d\" style=\"width:400px;height:200px\""
                     " onclick=\"alert('こんにちは')\">click</div></body></html>");
}

void BrowserJaTest::init()
{
    QVERIFY(m_down.isValid());
    for (const QString &name : FolderEntries(m_down.path()))
        QVERIFY(QFile::remove(m_down.filePath(name)));
}

void BrowserJaTest::cleanup()
{
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    closeWindow();
}

frmMain *BrowserJaTest::openOn(const QString &path)
{
    frmMain *w = openWindow(url("/start.html"));
    if (!w)
        return nullptr;
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        return nullptr;
    kiro::FstDir = QDir::toNativeSeparators(m_down.path());
    m_ends.clear();
    connect(w->Downloads(), &PageDownloads::ProgressChanged, this, [this](const QString &text, int percent) {
        if (percent == -2)
            m_ends.append(text);
    });
    if (path != QLatin1String("/start.html") && !typeAndEnter(url(path)))
        return nullptr;
    // The page gets the focus, as a user's click in it would give it.
    w->WB()->setFocus();
    return w;
}

void BrowserJaTest::key(Qt::Key k, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(window(), k, modifiers);
}

void BrowserJaTest::click(QPoint pagePos, Qt::MouseButton button)
{
    const QPoint pos = inWindow(m_window->WB(), pagePos);
    QTest::mouseMove(window(), pos);
    QTest::mouseClick(window(), button, Qt::NoModifier, pos);
}

QMenu *BrowserJaTest::rightClickMenu(QWidget *widget, QPoint pos)
{
    const QPoint at = inWindow(widget, pos);
    QTest::mouseMove(window(), at);
    QTest::mouseClick(window(), Qt::RightButton, Qt::NoModifier, at);
    QMenu *menu = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        return menu && menu->isVisible();
    }, 10000);
    return shown ? menu : nullptr;
}

void BrowserJaTest::chooseEntry(QMenu *menu, const QString &entry)
{
    for (QAction *action : menu->actions()) {
        if (EntryText(action) == entry) {
            QVERIFY(menu->windowHandle());
            QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              menu->actionGeometry(action).center());
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no entry %1 in %2").arg(entry, EntriesOf(menu).join(u'|'))));
}

bool BrowserJaTest::waitForMessages(int count)
{
    return QTest::qWaitFor([&] { return m_messages.size() >= count; }, 30000);
}

bool BrowserJaTest::waitForEnds(int count)
{
    return QTest::qWaitFor([&] { return m_ends.size() >= count; }, 30000);
}

void BrowserJaTest::contextMenusAreJapanese_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("page") << "page" << QStringList{"戻る", "進む", "更新", "ページを保存", "ページのソースを表示"};
    QTest::newRow("link") << "link" << QStringList{"リンクを開く", "リンクのアドレスをコピー", "リンク先を保存"};
    QTest::newRow("picture") << "picture" << QStringList{"画像を保存", "画像をコピー", "画像のアドレスをコピー"};
    QTest::newRow("text field") << "field"
                                << QStringList{"元に戻す", "やり直し", "切り取り", "コピー", "貼り付け", "すべて選択"};
    QTest::newRow("address box") << "address"
                                 << QStringList{"元に戻す", "やり直す", "切り取り", "コピー", "貼り付け",
                                                "削除", "すべてを選択"};
}

void BrowserJaTest::contextMenusAreJapanese()
{
    QFETCH(QString, where);
    QFETCH(QStringList, expected);

    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    QMenu *menu = nullptr;
    if (where == QLatin1String("address")) {
        w->TURLBox()->selectAll();
        menu = rightClickMenu(w->TURLBox(), QPoint(20, w->TURLBox()->height() / 2));
    } else {
        const QPoint pos = where == QLatin1String("link") ? ZipLink
                         : where == QLatin1String("picture") ? Picture
                         : where == QLatin1String("field") ? TextField : EmptySpot;
        menu = rightClickMenu(w->WB(), pos);
    }
    QVERIFY(menu);
    const QStringList entries = EntriesOf(menu);
    for (const QString &entry : entries)
        QVERIFY2(IsJapanese(entry), qPrintable(entries.join(u'|')));
    for (const QString &entry : expected)
        QVERIFY2(entries.contains(entry), qPrintable(entry + " in " + entries.join(u'|')));
    // One window: nothing offers a new window or tab.
    for (const QString &entry : entries)
        QVERIFY2(!entry.contains(QStringLiteral("新しい")), qPrintable(entry));
    menu->close();
}

void BrowserJaTest::errorPageIsJapanese()
{
    // A port nobody listens on.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
    probe.close();

    frmMain *w = openOn("/start.html");
    QVERIFY(w);
    QSignalSpy loaded(w->WB()->page(), &QWebEnginePage::loadFinished);
    w->TURLBox()->setFocus();
    w->TURLBox()->setText(address);
    QTest::keyClick(window(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 20000);
    // The answer may come after this test: it lands in a text of its own.
    auto text = std::make_shared<QString>();
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
        w->WB()->page()->toPlainText([text](const QString &t) { *text = t; });
        return text->contains(QStringLiteral("このサイトにアクセスできません"));
    }()), 20000);
    QVERIFY2(!text->contains(QStringLiteral("This site can")), qPrintable(*text));
}

void BrowserJaTest::pagesAskedForInJapanese()
{
    frmMain *w = openOn("/a.html");
    QVERIFY(w);
    for (const char *page : {"/start.html", "/a.html"}) {
        const QByteArray language = m_server.lastRequestHeader(QString::fromLatin1(page), "Accept-Language");
        QVERIFY2(language.startsWith("ja"), language.constData());
        QCOMPARE(language, kiro::AcceptLanguage);
    }
}

void BrowserJaTest::pageDialogsAreJapanese()
{
    frmMain *w = openOn("/alert.html");
    QVERIFY(w);
    QString title;
    QString text;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    poll.start(50);
    click(QPoint(100, 100));
    QTRY_VERIFY_WITH_TIMEOUT(!title.isEmpty(), 20000);
    QCOMPARE(title, QStringLiteral("127.0.0.1 からのメッセージ"));
    QCOMPARE(text, QStringLiteral("こんにちは"));
}

void BrowserJaTest::clickedLinkDownloads()
{
    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    QSignalSpy progress(w->Downloads(), &PageDownloads::ProgressChanged);

    click(ZipLink);
    QVERIFY(waitForEnds(1));
    const QString first = m_down.filePath(QStringLiteral("a.zip"));
    QCOMPARE(FolderEntries(m_down.path()), QStringList{"a.zip"});
    QCOMPARE(FileBytes(first), ZipBytes());
    // Told in the status bar, in no box.
    QCOMPARE(m_messages, QList<Message>());
    QCOMPARE(m_ends.at(0), QStringLiteral("ダウンロードが完了しました：") + QDir::toNativeSeparators(first));
    QVERIFY(!progress.isEmpty());
    QVERIFY2(progress.first().at(0).toString().startsWith(QStringLiteral("ダウンロード中：a.zip")),
             qPrintable(progress.first().at(0).toString()));
    QCOMPARE(w->findChild<QLabel *>("SBDownload")->text(), m_ends.at(0));
    QVERIFY(w->findChild<QLabel *>("SBDownload")->isVisible());
    QVERIFY(!w->findChild<QProgressBar *>("SBDownloadProgress")->isVisible());
    // The page stays.
    QCOMPARE(w->WB()->LocationURL(), url("/downloads.html"));

    const QDateTime firstWritten = QFileInfo(first).lastModified();
    // A second click is a second request of the user's: nothing is asked.
    click(ZipLink);
    QVERIFY(waitForEnds(2));
    QCOMPARE(FolderEntries(m_down.path()), (QStringList{"a (2).zip", "a.zip"}));
    QCOMPARE(FileBytes(m_down.filePath(QStringLiteral("a (2).zip"))), ZipBytes());
    QVERIFY(m_ends.at(1).contains(QDir::toNativeSeparators(m_down.filePath("a (2).zip"))));
    QCOMPARE(m_messages, QList<Message>());
    QCOMPARE(FileBytes(first), ZipBytes());
    QCOMPARE(QFileInfo(first).lastModified(), firstWritten);
}

void BrowserJaTest::progressInTheStatusBar()
{
    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    auto *panel = w->findChild<QLabel *>("SBDownload");
    auto *bar = w->findChild<QProgressBar *>("SBDownloadProgress");
    QVERIFY(panel && bar);
    QVERIFY(!panel->isVisible() && !bar->isVisible());

    click(SlowLink);
    // Part of the file has come, not all of it.
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible() && bar->value() > 0 && bar->value() < 100, 20000);
    QVERIFY(panel->isVisible());
    QVERIFY2(panel->text().startsWith(QStringLiteral("ダウンロード中：slow.zip")), qPrintable(panel->text()));
    QVERIFY2(panel->text().contains(QStringLiteral(" / 400.0 KB（")), qPrintable(panel->text()));
    QCOMPARE(w->Downloads()->runningCount(), 1);

    QVERIFY(waitForEnds(1));
    QVERIFY(panel->isVisible() && !bar->isVisible());
    QVERIFY2(panel->text().startsWith(QStringLiteral("ダウンロードが完了しました：")), qPrintable(panel->text()));
    QCOMPARE(FolderEntries(m_down.path()), QStringList{"slow.zip"});
    QCOMPARE(FileBytes(m_down.filePath(QStringLiteral("slow.zip"))), TestServer::generatedBody(400 * 1024));
}

void BrowserJaTest::failedDownloadLeavesNoFile()
{
    // A file of that name was there before: it is not the download's to remove.
    {
        QFile before(m_down.filePath(QStringLiteral("broken.zip")));
        QVERIFY(before.open(QIODevice::WriteOnly));
        before.write("keep");
    }
    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    click(BrokenLink);
    QVERIFY(waitForEnds(1));
    QCOMPARE(m_messages, QList<Message>());
    const QString message = m_ends.at(0);
    QVERIFY2(message.startsWith(QStringLiteral("ダウンロードに失敗しました：")), qPrintable(message));
    QVERIFY(message.contains(url("/files/broken.zip")));
    QVERIFY(message.endsWith(QStringLiteral("ファイルは保存されていません。")));
    QVERIFY2(IsJapanese(message.section(QStringLiteral("原因："), 1).section(u'）', 0, 0)),
             qPrintable(message));
    QCOMPARE(FolderEntries(m_down.path()), QStringList{"broken.zip"});
    // Nothing the engine still does afterwards brings a partial file back.
    QTest::qWait(1000);
    QCOMPARE(FolderEntries(m_down.path()), QStringList{"broken.zip"});
    QCOMPARE(FileBytes(m_down.filePath(QStringLiteral("broken.zip"))), QByteArray("keep"));
    QCOMPARE(w->Downloads()->runningCount(), 0);
}

void BrowserJaTest::savedFromTheMenu_data()
{
    QTest::addColumn<QPoint>("where");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("link") << ZipLink << "リンク先を保存" << "a.zip" << ZipBytes();
    QTest::newRow("picture") << Picture << "画像を保存" << "pic.png" << PngBytes();
    // The page as one file that holds its parts.
    QTest::newRow("page") << EmptySpot << "ページを保存" << "ダウンロード試験.mhtml" << QByteArray();
}

void BrowserJaTest::savedFromTheMenu()
{
    QFETCH(QPoint, where);
    QFETCH(QString, entry);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);

    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    QMenu *menu = rightClickMenu(w->WB(), where);
    QVERIFY(menu);
    chooseEntry(menu, entry);
    QVERIFY(waitForEnds(1));
    QCOMPARE(m_messages, QList<Message>());
    QVERIFY2(m_ends.at(0).startsWith(QStringLiteral("ダウンロードが完了しました：")), qPrintable(m_ends.at(0)));
    QCOMPARE(FolderEntries(m_down.path()), QStringList{fileName});
    const QByteArray saved = FileBytes(m_down.filePath(fileName));
    if (content.isEmpty())
        QVERIFY(saved.contains("apple pie") && saved.contains("multipart/related"));
    else
        QCOMPARE(saved, content);
}

void BrowserJaTest::viewSourceInTheOneWindow()
{
    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    const int windowsBefore = int(QApplication::topLevelWidgets().size());
    QMenu *menu = rightClickMenu(w->WB(), EmptySpot);
    QVERIFY(menu);
    chooseEntry(menu, QStringLiteral("ページのソースを表示"));
    QVERIFY(waitForPage("view-source:" + url("/downloads.html")));
    QTRY_COMPARE(w->TURLBox()->text(), "view-source:" + url("/downloads.html"));
    QCOMPARE(w->WB2()->LocationURL(), QString());
    int visibleWindows = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        visibleWindows += top->isVisible() && !qobject_cast<QMenu *>(top);
    QCOMPARE(visibleWindows, 1);
    QVERIFY(int(QApplication::topLevelWidgets().size()) <= windowsBefore + 1);
}

void BrowserJaTest::historyAndHomeKeys()
{
    frmMain *w = openOn("/a.html");
    QVERIFY(w);
    QVERIFY(typeAndEnter(url("/b.html")));
    w->WB()->setFocus();

    key(Qt::Key_Left, Qt::AltModifier);
    QVERIFY(waitForPage(url("/a.html")));
    // A toolbar command: what the user asked for last is forgotten.
    QCOMPARE(w->PendingURL(), QString());
    key(Qt::Key_Right, Qt::AltModifier);
    QVERIFY(waitForPage(url("/b.html")));

    // From the address box too.
    w->TURLBox()->setFocus();
    key(Qt::Key_Home, Qt::AltModifier);
    QVERIFY(waitForPage(url("/start.html")));
    QCOMPARE(w->TURLBox()->text(), url("/start.html"));
    QCOMPARE(w->PendingURL(), url("/start.html"));
    QCOMPARE(m_messages.size(), 0);
}

void BrowserJaTest::reloadKeys_data()
{
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("F5") << int(Qt::Key_F5) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+R") << int(Qt::Key_R) << int(Qt::ControlModifier);
}

void BrowserJaTest::reloadKeys()
{
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);
    frmMain *w = openOn("/a.html");
    QVERIFY(w);
    const int before = m_server.requestCount("/a.html");
    key(Qt::Key(keyCode), Qt::KeyboardModifiers(modifiers));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/a.html"), before + 1, 20000);
    QCOMPARE(w->WB()->LocationURL(), url("/a.html"));
}

void BrowserJaTest::escapeStops()
{
    frmMain *w = openOn("/a.html");
    QVERIFY(w);
    QSignalSpy finished(w->WB()->page(), &QWebEnginePage::loadFinished);
    const int before = m_server.requestCount("/slow.html");
    w->TURLBox()->setText(url("/slow.html"));
    w->TURL_KeyPress(13);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/slow.html"), before + 1, 20000);
    QVERIFY(finished.isEmpty());

    w->WB()->setFocus();
    key(Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 10000);
    QCOMPARE(finished.last().at(0).toBool(), false);
    QCOMPARE(w->PendingURL(), QString());
    m_server.releaseStalled();
}

void BrowserJaTest::escapeStillReachesThePage()
{
    frmMain *w = openOn("/keys.html");
    QVERIFY(w);
    click(QPoint(200, 200));
    QTRY_VERIFY(w->WB()->hasFocus() || w->WB()->isAncestorOf(QApplication::focusWidget()));
    key(Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(w->WB()->page()->title(), QStringLiteral("escape seen"), 10000);
}

void BrowserJaTest::addressBoxKeys_data()
{
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl+L") << int(Qt::Key_L) << int(Qt::ControlModifier);
    QTest::newRow("F6") << int(Qt::Key_F6) << int(Qt::NoModifier);
}

void BrowserJaTest::addressBoxKeys()
{
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);
    frmMain *w = openOn("/a.html");
    QVERIFY(w);
    click(QPoint(200, 200));
    QTRY_VERIFY(!w->TURLBox()->hasFocus());

    key(Qt::Key(keyCode), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(w->TURLBox()->hasFocus());
    QCOMPARE(w->TURLBox()->selectedText(), url("/a.html"));
    // Typing replaces the address, and Enter goes there.
    QTest::keyClick(window(), 'x');
    QCOMPARE(w->TURLBox()->text(), QStringLiteral("x"));
}

void BrowserJaTest::findBar()
{
    frmMain *w = openOn("/downloads.html");
    QVERIFY(w);
    FindBar *bar = w->FindBarWidget();
    QVERIFY(bar->isHidden());

    key(Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QTRY_VERIFY(bar->textBox()->hasFocus());
    QCOMPARE(bar->findChild<QLabel *>("lblFind")->text(), QStringLiteral("ページ内検索："));
    QCOMPARE(bar->findChild<QWidget *>("cmdFindNext")->property("text").toString(), QStringLiteral("次へ"));
    QCOMPARE(bar->findChild<QWidget *>("cmdFindPrevious")->property("text").toString(),
             QStringLiteral("前へ"));

    for (char c : QByteArray("apple"))
        QTest::keyClick(window(), c);
    QTRY_COMPARE_WITH_TIMEOUT(bar->countText(), QStringLiteral("3 件中 1 件目"), 10000);
    key(Qt::Key_Return);
    QTRY_COMPARE(bar->countText(), QStringLiteral("3 件中 2 件目"));
    key(Qt::Key_F3);
    QTRY_COMPARE(bar->countText(), QStringLiteral("3 件中 3 件目"));
    key(Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(bar->countText(), QStringLiteral("3 件中 2 件目"));

    QTest::keyClick(window(), 'z');
    QTRY_COMPARE(bar->countText(), QStringLiteral("見つかりません"));

    // Esc closes the bar and stops nothing.
    const int requests = m_server.totalRequests();
    key(Qt::Key_Escape);
    QVERIFY(bar->isHidden());
    QCOMPARE(m_server.totalRequests(), requests);
    QCOMPARE(w->WB()->LocationURL(), url("/downloads.html"));
}

void BrowserJaTest::zoomKeysAndWheel()
{
    frmMain *w = openOn("/a.html");
    QVERIFY(w);
    BrowserView *view = w->WB();
    const auto zoomIs = [view](double factor) {
        return QTest::qWaitFor([&] { return qFuzzyCompare(view->zoomFactor(), factor); }, 5000);
    };

    key(Qt::Key_Plus, Qt::ControlModifier);
    QVERIFY(zoomIs(1.1));
    QCOMPARE(w->StatusText(), QStringLiteral("表示倍率 110%"));
    // "+" typed with Shift, as on a Japanese keyboard, and "=" under it.
    key(Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(zoomIs(1.25));
    key(Qt::Key_Equal, Qt::ControlModifier);
    QVERIFY(zoomIs(1.5));
    key(Qt::Key_Minus, Qt::ControlModifier);
    QVERIFY(zoomIs(1.25));
    key(Qt::Key_0, Qt::ControlModifier);
    QVERIFY(zoomIs(1.0));
    QCOMPARE(w->StatusText(), QStringLiteral("表示倍率 100%"));
    key(Qt::Key_Minus, Qt::ControlModifier);
    QVERIFY(zoomIs(0.9));

    // Ctrl with the wheel over the page, as the window receives it.
    const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
        const QPointF pos = inWindow(view, QPoint(200, 200));
        QWheelEvent event(pos, window()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window(), &event);
    };
    wheel(120, Qt::ControlModifier);
    QVERIFY(zoomIs(1.0));
    wheel(120, Qt::ControlModifier);
    QVERIFY(zoomIs(1.1));
    wheel(-120, Qt::ControlModifier);
    QVERIFY(zoomIs(1.0));
    // Without Ctrl the wheel scrolls and leaves the zoom alone.
    wheel(-120, Qt::NoModifier);
    QTest::qWait(200);
    QVERIFY(qFuzzyCompare(view->zoomFactor(), 1.0));
}

void BrowserJaTest::downloadsThePageStartsAsk_data()
{
    QTest::addColumn<int>("answer");   // index of the choice: 0 ブロック, 1 許可
    QTest::newRow("blocked") << 0;
    QTest::newRow("allowed") << 1;
}

// A page that clicks a download link by itself: nothing is written before
// the user's answer, and the answer holds for the site.
void BrowserJaTest::downloadsThePageStartsAsk()
{
    QFETCH(int, answer);

    QStringList asked;
    QStringList filesWhenAsked;
    const kiro::QuestionHandler previous = kiro::SetQuestionHandler(
            [&](const QString &text, const QString &title, const QStringList &choices) {
        asked << text + u'|' + title + u'|' + choices.join(u',');
        filesWhenAsked = FolderEntries(m_down.path());
        return answer;
    });
    const auto restore = qScopeGuard([&] { kiro::SetQuestionHandler(previous); });

    frmMain *w = openOn("/auto.html");
    QVERIFY(w);
    QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, 20000);
    QCOMPARE(asked.at(0), QStringLiteral("このサイトは複数のファイルをダウンロードしようとしています。|確認|ブロック,許可"));
    QCOMPARE(filesWhenAsked, QStringList());
    QVERIFY(waitForEnds(1));
    if (answer == 0) {
        QCOMPARE(m_ends.at(0), QStringLiteral("ダウンロードをブロックしました：") + url("/files/a.zip"));
        QTest::qWait(500);
        QCOMPARE(FolderEntries(m_down.path()), QStringList());
    } else {
        QCOMPARE(FolderEntries(m_down.path()), QStringList{"a.zip"});
    }

    // The page shown again: the site's answer holds, nobody is asked.
    QVERIFY(typeAndEnter(url("/auto-again.html")));
    QVERIFY(waitForEnds(2));
    QCOMPARE(asked.size(), 1);
    QCOMPARE(FolderEntries(m_down.path()),
             answer == 0 ? QStringList() : QStringList({"a (2).zip", "a.zip"}));
    QCOMPARE(m_messages, QList<Message>());
}

// Downloads into the program's folder go into a sub-folder of it, and never
// under the name of one of the program's files, wherever they go.
void BrowserJaTest::downloadsNeverAmongTheProgramsFiles()
{
    const kiro::QuestionHandler previous = kiro::SetQuestionHandler(
            [](const QString &, const QString &, const QStringList &) { return 1; });
    const auto restore = qScopeGuard([&] { kiro::SetQuestionHandler(previous); });

    frmMain *w = openOn("/start.html");
    QVERIFY(w);
    const QString program = m_appDir.path();
    const QByteArray iniBefore = FileBytes(QDir(program).filePath(QStringLiteral("KIRO.ini")));
    const QStringList programFilesBefore = FolderEntries(program);
    kiro::FstDir = QDir::toNativeSeparators(program + u'/');
    QVERIFY(typeAndEnter(url("/plant.html")));
    QVERIFY(waitForEnds(1));
    QTRY_COMPARE(w->Downloads()->runningCount(), 0);
    QTRY_COMPARE(FolderEntries(QDir(program).filePath(QStringLiteral("ダウンロード"))).size(), 2);
    const QString sub = QDir(program).filePath(QStringLiteral("ダウンロード"));
    QCOMPARE(FolderEntries(sub), (QStringList{"_KIRO.ini", "_QT.CONF"}));
    QCOMPARE(FileBytes(QDir(program).filePath(QStringLiteral("KIRO.ini"))), iniBefore);
    QStringList expected = programFilesBefore + QStringList{"ダウンロード"};
    expected.sort();
    QStringList after = FolderEntries(program);
    after.sort();
    QCOMPARE(after, expected);
}

// A page that shows dialog after dialog: from the second one on, the user can
// silence the rest, and the window is the user's again.
void BrowserJaTest::dialogLoopCanBeSilenced()
{
    frmMain *w = openOn("/alerts.html");
    QVERIFY(w);
    int shown = 0;
    int offered = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        ++shown;
        if (QCheckBox *silence = box->checkBox()) {
            QCOMPARE(silence->text(), QStringLiteral("このページでこれ以上ダイアログを表示しない"));
            ++offered;
            silence->setChecked(true);
        }
        box->accept();
    });
    poll.start(20);
    click(QPoint(100, 100));
    QTRY_COMPARE_WITH_TIMEOUT(w->WB()->title(), QStringLiteral("done"), 20000);
    QCOMPARE(shown, 2);
    QCOMPARE(offered, 1);

    // The next document is heard again.
    shown = 0;
    QVERIFY(typeAndEnter(url("/alert.html")));
    click(QPoint(100, 100));
    QTRY_COMPARE_WITH_TIMEOUT(shown, 1, 20000);
}

void BrowserJaTest::localPageReadsNoOtherLocalFile()
{
    QTemporaryDir local;
    QVERIFY(local.isValid());
    QVERIFY(WriteFile(local.filePath(QStringLiteral("secret.txt")), "the user's secret"));
    QVERIFY(WriteFile(local.filePath(QStringLiteral("page.html")),
                      "<html><head><title>waiting</title></head><body><script>"
                      "var x = new XMLHttpRequest();"
                      "x.onload = function () { document.title = 'read: ' + x.responseText; };"
                      "x.onerror = function () { document.title = 'refused'; };"
                      "try { x.open('GET', 'secret.txt'); x.send(); } catch (e) { document.title = 'refused'; }"
                      "</script></body></html>"));
    frmMain *w = openOn("/start.html");
    QVERIFY(w);
    QVERIFY(typeAndEnter(QUrl::fromLocalFile(local.filePath(QStringLiteral("page.html"))).toString()));
    QTRY_VERIFY_WITH_TIMEOUT(w->WB()->title() != QLatin1String("waiting"), 20000);
    QCOMPARE(w->WB()->title(), QStringLiteral("refused"));
}

QTEST_MAIN(BrowserJaTest)
#include "tst_browserja.moc"
