#include "BrowserTestBase.h"

#include "core/CommandLine.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "getter/frmLoad.h"
#include "resources/Resources.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <functional>

namespace {

// Once the event loop runs inside a modal dialog: records the dialog's class,
// lets inside act on it, and closes it unanswered.
void closeNextDialog(QObject *context, QString *className, std::function<void()> inside = {})
{
    QTimer::singleShot(0, context, [className, inside] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *className = QString::fromLatin1(dialog->metaObject()->className());
        if (inside)
            inside();
        dialog->done(QDialog::Rejected);
    });
}

} // namespace

// The browser window: start-up, toolbar commands, address box, layout and
// the refusal of the close box.
class FrmMainTest : public BrowserTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void startUp();
    void toolbarButtons();
    void enterLoadsAndAddressFollows_data();
    void enterLoadsAndAddressFollows();
    void otherKeysDoNotNavigate();
    void backForwardHome();
    void commandLineAddressReplacesStartPage();
    void emptyStartPageIsBlank();
    void statusTextAndPendingURL_data();
    void statusTextAndPendingURL();
    void closeBoxRefused();
    void exitEndsWithoutQuestion();
    void fgetAndAbort();
    void favoritesHandBackAnAddress_data();
    void favoritesHandBackAnAddress();
    void settingsDialogIsModal();
    void layoutFillsTheWindow();
};

void FrmMainTest::initTestCase()
{
    InitKiroResources();
    QVERIFY2(m_server.isListening(), qPrintable(m_server.errorString()));
    QVERIFY(m_appDir.isValid());
    m_server.addPage("/start.html", "<html><body><p>start</p></body></html>");
    m_server.addPage("/", "<html><body><p>root</p></body></html>");
    for (const char *page : {"/a.html", "/b.html", "/c.html", "/dir/page.html", "/never.html"})
        m_server.addPage(QString::fromLatin1(page), QByteArray("<html><body>") + page + "</body></html>");
    m_server.addRedirect("/old.html", "/dir/page.html?moved=1");
    m_server.addPage("/dir/page.html?moved=1", "<html><body>moved</body></html>");
}

void FrmMainTest::cleanup()
{
    closeWindow();
}

void FrmMainTest::startUp()
{
    // Values a previous run could have left behind.
    kiro::AbortFlag = 1;
    kiro::TargetURL = QStringLiteral("left over");
    QFile::remove(m_appDir.filePath(QStringLiteral("Extsn.fil")));

    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    QCOMPARE(frmMain::instance(), w);
    QCOMPARE(w->objectName(), QStringLiteral("frmMain"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Ｗｅｂブラウザ"));
    QVERIFY(!w->windowIcon().isNull());
    QVERIFY(w->windowState() & Qt::WindowMaximized);

    QCOMPARE(kiro::AbortFlag, 0);
    QCOMPARE(kiro::TargetURL, QString());
    QVERIFY(kiro::AppDir.startsWith(QDir::toNativeSeparators(m_appDir.path())));
    QCOMPARE(kiro::FstHpAdrs, url("/start.html"));
    QVERIFY(QFile::exists(m_appDir.filePath(QStringLiteral("Extsn.fil"))));
    QCOMPARE(kiro::ExtNames.size(), 14);
    QCOMPARE(kiro::ExtNames.value(13), QStringLiteral("zip"));

    QCOMPARE(w->WB()->LocationURL(), url("/start.html"));
    QCOMPARE(w->TURLBox()->text(), url("/start.html"));
    QCOMPARE(w->PendingURL(), url("/start.html"));
    QVERIFY(!w->Button("Abort")->isEnabled());
    QVERIFY(w->Button("Fget")->isEnabled());

    for (const char *name : {"TB", "lblURL", "TURL", "Frame1", "WB", "WB2", "SB"})
        QVERIFY2(w->findChild<QWidget *>(QString::fromLatin1(name)), name);
    QCOMPARE(w->findChild<QLabel *>("lblURL")->text(), QStringLiteral("ＵＲＬ"));
    QVERIFY(w->WB()->isVisible());
    QVERIFY(!w->WB2()->isVisible());
    QCOMPARE(w->WB2()->LocationURL(), QString());
    QCOMPARE(m_messages.size(), 0);
}

void FrmMainTest::toolbarButtons()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    auto *tb = w->findChild<QToolBar *>("TB");
    QVERIFY(tb);

    const QStringList expected = {
        "Exit:終了", "|", "Back:戻る (Alt+←)", "Forward:進む (Alt+→)", "Update:更新 (F5)",
        "Cancel:中止 (Esc)", "FstHP:ホーム (Alt+Home)", "MyFav:お気に入り", "Utl:設定", "|",
        "Fget:ファイルダウンロード画面へ", "Abort:ファイルダウンロードの中止"};
    QStringList actual;
    for (QAction *action : tb->actions()) {
        if (action->isSeparator()) {
            actual << "|";
            continue;
        }
        actual << action->objectName() + ':' + action->toolTip();
        QVERIFY2(!action->icon().isNull(), qPrintable(action->objectName()));
        QVERIFY(!action->icon().pixmap(24, 24).isNull());
        QCOMPARE(w->Button(action->objectName()), action);
        if (action->objectName() != QLatin1String("Abort"))
            QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));
    }
    QCOMPARE(actual, expected);
}

void FrmMainTest::enterLoadsAndAddressFollows_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");

    // The typed text is filled in by the test with the server's address.
    QTest::newRow("page") << "BASE/a.html" << "BASE/a.html";
    QTest::newRow("redirected page") << "BASE/old.html" << "BASE/dir/page.html?moved=1";
    QTest::newRow("bare host") << "BASE" << "BASE/";
    QTest::newRow("no scheme") << "HOST/b.html" << "BASE/b.html";
}

void FrmMainTest::enterLoadsAndAddressFollows()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    const QString host = QStringLiteral("127.0.0.1:%1").arg(m_server.port());
    typed.replace("BASE", m_server.baseUrl()).replace("HOST", host);
    shown.replace("BASE", m_server.baseUrl());

    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    QVERIFY(typeAndEnter(typed));
    QCOMPARE(w->PendingURL(), typed);
    QCOMPARE(w->WB()->LocationURL(), shown);
    QCOMPARE(w->TURLBox()->text(), shown);
}

void FrmMainTest::otherKeysDoNotNavigate()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    w->TURLBox()->setText(url("/never.html"));
    w->TURL_KeyPress('a');
    w->TURL_KeyPress(27);
    QVERIFY(typeAndEnter(url("/a.html")));
    QCOMPARE(w->WB()->LocationURL(), url("/a.html"));
    QCOMPARE(m_server.requestCount("/never.html"), 0);
}

void FrmMainTest::backForwardHome()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    // Going back with no history does nothing, silently.
    w->TB_ButtonClick("Back");
    QVERIFY(typeAndEnter(url("/a.html")));
    QVERIFY(typeAndEnter(url("/b.html")));

    w->TB_ButtonClick("Back");
    QVERIFY(waitForPage(url("/a.html")));
    QTRY_COMPARE(w->TURLBox()->text(), url("/a.html"));
    w->TB_ButtonClick("Back");
    QVERIFY(waitForPage(url("/start.html")));
    w->TB_ButtonClick("Forward");
    QVERIFY(waitForPage(url("/a.html")));
    QTRY_COMPARE(w->TURLBox()->text(), url("/a.html"));

    const int before = m_server.requestCount("/a.html");
    w->TB_ButtonClick("Update");
    QTRY_COMPARE(m_server.requestCount("/a.html"), before + 1);

    // Home goes to the start page as it is set now.
    kiro::FstHpAdrs = url("/c.html");
    w->TB_ButtonClick("FstHP");
    QCOMPARE(w->TURLBox()->text(), url("/c.html"));
    QCOMPARE(w->PendingURL(), url("/c.html"));
    QVERIFY(waitForPage(url("/c.html")));
    QCOMPARE(m_messages.size(), 0);
}

void FrmMainTest::commandLineAddressReplacesStartPage()
{
    m_server.clearRequestLog();
    kiro::SetCommandLineAddress(kiro::ReadCommandLine({"-reverse", url("/a.html")}, QString()).address);
    frmMain *w = openWindow(url("/start.html"));
    kiro::SetCommandLineAddress(QString());
    QVERIFY(w);
    QCOMPARE(w->WB()->LocationURL(), url("/a.html"));
    QCOMPARE(w->TURLBox()->text(), url("/a.html"));
    QCOMPARE(m_server.requestCount("/start.html"), 0);
    // Only the start-up's address changed: the start page is still the home.
    QCOMPARE(kiro::FstHpAdrs, url("/start.html"));
    w->TB_ButtonClick("FstHP");
    QVERIFY(waitForPage(url("/start.html")));
}

void FrmMainTest::emptyStartPageIsBlank()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    kiro::FstHpAdrs.clear();
    const int requests = m_server.totalRequests();
    w->TB_ButtonClick("FstHP");
    QVERIFY(waitForPage(QStringLiteral("about:blank")));
    QCOMPARE(m_server.totalRequests(), requests);
}

void FrmMainTest::statusTextAndPendingURL_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("pending");

    QTest::newRow("plain link") << "BASE/a.html" << "BASE/a.html";
    // Loopback only: the pointer never opens the link.
    QTest::newRow("https link") << "https://127.0.0.1:9/x.html" << "https://127.0.0.1:9/x.html";
    QTest::newRow("jump link") << "BASE/jump.cgi?url=BASE/c.html" << "BASE/c.html";
    QTest::newRow("encoded jump link") << "BASE/jump.cgi?url=ENCBASE%2Fc.html" << "BASE/c.html";
    QTest::newRow("not a web address") << "mailto:someone@example.invalid" << "KEEP";
}

void FrmMainTest::statusTextAndPendingURL()
{
    QFETCH(QString, href);
    QFETCH(QString, pending);
    QString encodedBase = QString::fromLatin1(QUrl::toPercentEncoding(m_server.baseUrl()));
    href.replace("ENCBASE", encodedBase).replace("BASE", m_server.baseUrl());
    pending.replace("BASE", m_server.baseUrl());

    m_server.addPage("/hover.html", linkPage(href));
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    QVERIFY(typeAndEnter(url("/hover.html")));
    if (pending == QLatin1String("KEEP"))
        pending = w->PendingURL();

    QVERIFY(hoverLink(LinkPoint, href.left(6)));
    QCOMPARE(w->StatusText(), href);
    QCOMPARE(w->PendingURL(), pending);

    // Leaving the link empties the status bar and keeps what the user pointed at.
    pointAt(w->WB(), OffLinkPoint);
    QTRY_COMPARE(w->StatusText(), QString());
    QCOMPARE(w->PendingURL(), pending);

    w->TB_ButtonClick("Cancel");
    QCOMPARE(w->PendingURL(), QString());
}

void FrmMainTest::closeBoxRefused()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    // The window system's close request, as the close box delivers it.
    QVERIFY(w->windowHandle());
    QCloseEvent request;
    QSpontaneKeyEvent::setSpontaneous(&request);
    QCoreApplication::sendEvent(w->windowHandle(), &request);

    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.at(0).first, QStringLiteral("このボタンでは終了できません。"));
    QCOMPARE(m_messages.at(0).second, QStringLiteral("確認"));
    QVERIFY(w->isVisible());
    QCOMPARE(kiro::AbortFlag, 0);

    // The window still works.
    QVERIFY(typeAndEnter(url("/a.html")));
    QCOMPARE(w->TURLBox()->text(), url("/a.html"));

    // A close from the program's code goes ahead.
    QVERIFY(w->close());
    QVERIFY(!w->isVisible());
    QCOMPARE(m_messages.size(), 1);
}

void FrmMainTest::exitEndsWithoutQuestion()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    w->TB_ButtonClick("Fget");
    QTRY_VERIFY(frmLoad::Current());
    QVERIFY(!w->Button("Fget")->isEnabled());

    w->TB_ButtonClick("Exit");
    QCOMPARE(kiro::AbortFlag, 1);
    QVERIFY(w->Button("Fget")->isEnabled());
    QVERIFY(!w->Button("Abort")->isEnabled());
    QCOMPARE(w->StatusText(), QStringLiteral("終了処理が完了するまで、しばらくお待ち下さい。"));
    QVERIFY(!w->isVisible());
    QTRY_VERIFY(!frmLoad::Current() || !frmLoad::Current()->isVisible());
    QCOMPARE(m_messages.size(), 0);
}

void FrmMainTest::fgetAndAbort()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    QVERIFY(typeAndEnter(url("/b.html")));

    w->TB_ButtonClick("Fget");
    QCOMPARE(kiro::TargetURL, url("/b.html"));
    QCOMPARE(kiro::AbortFlag, 0);
    QVERIFY(!w->Button("Fget")->isEnabled());
    QVERIFY(w->Button("Abort")->isEnabled());
    QTRY_VERIFY(frmLoad::Current() && frmLoad::Current()->isVisible());
    // The browser stays usable while the getter is open.
    QVERIFY(!frmLoad::Current()->isModal());
    QVERIFY(typeAndEnter(url("/c.html")));

    w->TB_ButtonClick("Abort");
    QCOMPARE(kiro::AbortFlag, 1);
    QTRY_VERIFY(!frmLoad::Current() || !frmLoad::Current()->isVisible());
    QVERIFY(w->Button("Abort")->isEnabled());

    // With no getter open, Abort only raises the flag.
    kiro::AbortFlag = 0;
    w->TB_ButtonClick("Abort");
    QCOMPARE(kiro::AbortFlag, 1);
    QVERIFY(w->isVisible());
}

void FrmMainTest::favoritesHandBackAnAddress_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::newRow("closed without a choice") << QString();
    QTest::newRow("entry chosen") << "/c.html";
}

void FrmMainTest::favoritesHandBackAnAddress()
{
    QFETCH(QString, chosen);
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    QVERIFY(typeAndEnter(url("/a.html")));

    QString seenFavAdrs;
    QString modalClass;
    closeNextDialog(this, &modalClass, [&] {
        seenFavAdrs = kiro::FavAdrs;
        if (!chosen.isEmpty())
            kiro::FavAdrs = url(chosen);
    });
    QSignalSpy completed(w->WB(), &BrowserView::NavigateComplete2);
    w->TB_ButtonClick("MyFav");
    QCOMPARE(modalClass, QStringLiteral("frmFav"));
    QCOMPARE(seenFavAdrs, url("/a.html"));
    if (chosen.isEmpty()) {
        QCOMPARE(w->TURLBox()->text(), url("/a.html"));
        QCOMPARE(w->PendingURL(), QString());
    } else {
        QCOMPARE(w->PendingURL(), url(chosen));
        QVERIFY(completed.wait(20000));
        QCOMPARE(w->WB()->LocationURL(), url(chosen));
        QCOMPARE(w->TURLBox()->text(), url(chosen));
    }
}

void FrmMainTest::settingsDialogIsModal()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    QString modalClass;
    closeNextDialog(this, &modalClass);
    w->TB_ButtonClick("Utl");
    QCOMPARE(modalClass, QStringLiteral("frmUtl"));
    QCOMPARE(w->WB()->LocationURL(), url("/start.html"));
}

void FrmMainTest::layoutFillsTheWindow()
{
    frmMain *w = openWindow(url("/start.html"));
    QVERIFY(w);
    auto *frame = w->findChild<QFrame *>("Frame1");
    auto *box = w->TURLBox();
    auto *label = w->findChild<QLabel *>("lblURL");
    QWidget *client = w->centralWidget();

    const auto check = [&] {
        QCOMPARE(box->geometry().right(), client->width() - 1);
        QVERIFY(label->geometry().right() < box->geometry().left());
        QCOMPARE(frame->geometry().right(), client->width() - 1);
        QVERIFY(frame->geometry().top() > box->geometry().bottom());
        QVERIFY(frame->geometry().bottom() < client->height() - 1);
        QCOMPARE(w->WB()->geometry(), QRect(QPoint(0, 0), frame->size()));
        QCOMPARE(w->WB2()->pos(), QPoint(0, 0));
    };
    check();

    w->showNormal();
    w->resize(900, 500);
    QTRY_COMPARE(w->width(), 900);
    check();

    // A window too small for the page view leaves it empty, not negative.
    w->resize(120, 90);
    QTRY_VERIFY(w->width() < 900);
    QVERIFY(frame->width() >= 0 && frame->height() >= 0);
    QVERIFY(box->width() >= 0);
}

QTEST_MAIN(FrmMainTest)
#include "tst_frmmain.moc"
