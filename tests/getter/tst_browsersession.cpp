// The getter fetches what the user sees: the browser view's cookies (a login
// on an earlier page) go with the getter's search and download, as does its
// User-Agent and the searched page as Referer, and cookies that the getter's
// answers set come back to the browser.
#include "browser/BrowserSession.h"
#include "browser/BrowserView.h"
#include "browser/frmMain.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "getter/engine/DownloadNaming.h"
#include "getter/engine/Session.h"
#include "getter/frmLoad.h"

#include "GetterTexts.h"
#include "GetterWindowTestBase.h"
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <memory>

using namespace kiro;

class BrowserSessionTest : public GetterWindowTestBase
{
    Q_OBJECT

public:
    BrowserSessionTest() : GetterWindowTestBase("\"jpg\",1\r\n\"zip\",1\r\n", 0) {}

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void loggedInPagesAndFiles();
};

void BrowserSessionTest::initTestCase()
{
    QVERIFY(prepare());
    QVERIFY(showWindow());
}

void BrowserSessionTest::cleanupTestCase()
{
    QVERIFY(closeGetter());
    m_window.reset();
}

void BrowserSessionTest::loggedInPagesAndFiles()
{
    const QByteArray gallery = url("/members/gallery.html").toUtf8();
    m_server.addRoute("/login.html", TestResponse::page("<html><body>welcome</body></html>")
                                         .withHeader("Set-Cookie", "member=yes; Path=/; HttpOnly"));
    m_server.addRoute("/members/gallery.html",
                      TestResponse::page("<html><body><a href=\"a.jpg\">a</a> <a href=\"b.zip\">b</a>"
                                         "</body></html>")
                          .requiringHeader("Cookie", "member=yes"));
    m_server.addRoute("/members/a.jpg", TestResponse::bytes(QByteArray(3000, 'a'), "image/jpeg")
                                            .requiringHeader("Cookie", "member=yes")
                                            .requiringHeader("Referer", gallery)
                                            .withHeader("Set-Cookie", "fetched=a; Path=/"));
    m_server.addRoute("/members/b.zip", TestResponse::bytes(QByteArray(4000, 'b'))
                                            .requiringHeader("Cookie", "member=yes"));
    m_server.addPage("/check.html", "<html><body>check</body></html>");

    // The user logs in, then goes to the members' page.
    QVERIFY(showPage(QStringLiteral("/login.html")));
    QWebEngineProfile *profile = m_window->WB()->page()->profile();
    Session *session = BrowserSessionOf(profile);
    QVERIFY(session);
    QTRY_VERIFY(session->CookieHeaderFor(QUrl(url("/members/"))).contains("member=yes"));
    QVERIFY(showPage(QStringLiteral("/members/gallery.html")));
    const int pageRequests = m_server.requestCount("/members/gallery.html");

    QPointer<frmLoad> w = clickFget();
    QVERIFY(w);
    w->TB_ButtonClick(QStringLiteral("Serch"));
    QCOMPARE(m_server.requestCount("/members/gallery.html"), pageRequests + 1);
    QCOMPARE(m_server.lastRequestHeader("/members/gallery.html", "User-Agent"),
             profile->httpUserAgent().toUtf8());
    QCOMPARE(m_server.lastRequestHeader("/members/gallery.html", "Accept-Language"), AcceptLanguage);

    QStringList found = itemTexts(control<QListWidget>(w, "lstFile"));
    found.sort();
    QCOMPARE(found, QStringList({url("/members/a.jpg"), url("/members/b.zip")}));

    QStringList storeGot;
    connect(profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
            [&](const QNetworkCookie &c) { storeGot << QString::fromUtf8(c.name() + '=' + c.value()); });
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("cmdAllChk")), Qt::LeftButton);
    w->TB_ButtonClick(QStringLiteral("DownLoad"));
    QCOMPARE(m_messages.last().first, Finished);
    const QString folder = QDir(m_dlDir).filePath(DownloadSubDirName(QString::fromUtf8(gallery)));
    QFile a(folder + QStringLiteral("/a.jpg"));
    QVERIFY(a.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), QByteArray(3000, 'a'));
    QCOMPARE(QFileInfo(folder + QStringLiteral("/b.zip")).size(), 4000);

    // The cookie the file's answer set is the browser's now.
    QTRY_VERIFY(storeGot.contains(QStringLiteral("fetched=a")));
    QVERIFY(showPage(QStringLiteral("/check.html")));
    const QByteArray sent = m_server.lastRequestHeader("/check.html", "Cookie");
    QVERIFY2(sent.contains("fetched=a") && sent.contains("member=yes"), sent.constData());
}

QTEST_MAIN(BrowserSessionTest)
#include "tst_browsersession.moc"
