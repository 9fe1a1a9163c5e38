// The search of a page and of the pages it links to, with pages from the
// loopback server: which file addresses reach FileURLs, which pages are
// requested (and how often), and what a stop or a failed request leaves.
#include "getter/engine/GetterSink.h"
#include "getter/engine/GetterVars.h"
#include "getter/engine/Inet.h"
#include "getter/engine/PageAnalyzer.h"
#include "getter/engine/TransferQueue.h"

#include "core/Shared.h"

#include "GetterTexts.h"
#include "GetterRig.h"
#include "RecordingSink.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace kiro;

namespace {

const QString NoFilesSuffix = QStringLiteral("は画像ファイルが存在しない．");

// The getter window's part in a search: its variables, its status bar, its
// transfer component and the analysis working on them.
struct Getter : GetterRig {
    PageAnalyzer analyzer{vars, sink, queue};

    // A search over the given pages, as the window runs it.
    QStringList Search(const QStringList &pages, int subPages, int pageView = 0)
    {
        chkSubURL = subPages;
        chkPageView = pageView;
        AbortFlag = 0;
        vars.FoundCount = 0;
        vars.FoundFiles = QStringList{QString()};
        analyzer.BeginSearch();
        for (const QString &page : pages)
            analyzer.AnalyzePage(page);
        return FileURLs;
    }
};

QStringList WithBase(QStringList list, const QString &base)
{
    for (QString &s : list)
        s.replace(QLatin1String("{base}"), base);
    return list;
}

} // namespace

class tst_Analysis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void filesOfOnePage_data();
    void filesOfOnePage();
    void untickedExtensionDropped();
    void pageWithoutCandidates();
    void subPages();
    void searchedAddressWithFragment();
    void subPagesOff();
    void failedSubPageCollectsNothing();
    void searchedJumpAddress();
    void failedPageNotAskedAgain();
    void framesListedEach();
    void httpsPages();
    void stopWhileWaitingForThePage();
    void stopWhileWaitingForASubPage();
    void stopBetweenSubPages();
    void longLinesAndDataAddresses();
    void engineGivingUpIsReported();
    void pageViewFiles_data();
    void pageViewFiles();
    void pageViewAcrossPages();
    void pageViewShownDocument();
    void pageViewHostileText();
    void subPageBound();
    void linkBound();
    void subPagesAheadGiveTheSameList();
    void settingsSavedDuringASearch();

private:
    QString Url(const QString &target) const { return m_server.url(target).toString(); }

    TestServer m_server;
};

void tst_Analysis::initTestCase()
{
    QVERIFY2(m_server.isListening(), qPrintable(m_server.errorString()));
}

void tst_Analysis::init()
{
    m_server.clearRoutes();
    m_server.clearRequestLog();
    AbortFlag = 0;
    chkSubURL = 0;
    chkPageView = 0;
    FilesAtOnce = 1;
    FileURLs.clear();
    ExtNames = QStringList{QString(), "avi", "bmp", "gif", "jpeg", "jpg", "lzh", "mov",
                           "mpeg", "mpg", "ra", "ram", "rm", "zip"};
    ExtChecks = QList<int>(ExtNames.size(), 1);
    ExtChecks[0] = 0;
}

void tst_Analysis::cleanup()
{
    m_server.releaseStalled();
    AbortFlag = 0;
    SetEngineGivesUpOn({});
}

void tst_Analysis::filesOfOnePage_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("files");

    const QString page = QStringLiteral("/d/p.html");
    QTest::newRow("relative, capitals") << page << QByteArray(R"(<img src="img/Photo.JPG">)")
                                        << QStringList{"{base}/d/img/Photo.JPG"};
    QTest::newRow("later extension wins") << page << QByteArray(R"(<a href="a.ram">)")
                                          << QStringList{"{base}/d/a.ram"};
    QTest::newRow("cut after extension") << page << QByteArray(R"(<a href="movie.mpg?x=1">)")
                                         << QStringList{"{base}/d/movie.mpg"};
    QTest::newRow("page is no file") << page << QByteArray(R"(<a href="index.html">)")
                                     << QStringList{""};
    QTest::newRow("up one folder") << "/d/e/p.html" << QByteArray(R"(<img src="../a.jpg">)")
                                   << QStringList{"{base}/d/a.jpg"};
    QTest::newRow("absolute in capitals") << page << QByteArray(R"(<a href="HTTP://other/a.jpg">)")
                                          << QStringList{"http://other/a.jpg"};
    QTest::newRow("counter script") << page
                                    << QByteArray(R"(<a href="/cgi-bin/count.CGI?f=a.jpg">)")
                                    << QStringList{""};
    QTest::newRow("counter script, lower case")
            << page << QByteArray(R"(<a href="count.cgi?f=a.jpg"><img src="Cgi?b.jpg">)")
            << QStringList{""};
    QTest::newRow("an extension twice: its last place")
            << page << QByteArray(R"(<a href="a.jpg/b.jpg"><a href="v.jpg?s=w.jpg">)")
            << QStringList{"{base}/d/a.jpg/b.jpg", "{base}/d/v.jpg?s=w.jpg"};
    QTest::newRow("a folder named after a later extension")
            << page << QByteArray(R"(<a href="set.zip/p.jpg">)") << QStringList{"{base}/d/set.zip"};
    QTest::newRow("jump to a target")
            << page << QByteArray(R"(<a href="jump.php?url=http://other/b.jpg&id=5">)")
            << QStringList{"http://other/b.jpg"};
    QTest::newRow("the first listed extension") << page << QByteArray(R"(<a href="clip.AVI">)")
                                                << QStringList{"{base}/d/clip.AVI"};
    QTest::newRow("window.open") << page << QByteArray("<script>window.open('photo.jpg')</script>")
                                 << QStringList{"{base}/d/photo.jpg"};
    QTest::newRow("single quotes") << page << QByteArray("<a href='a.jpg'>")
                                   << QStringList{"{base}/d/a.jpg"};
    QTest::newRow("single quotes after blanks, blanks inside")
            << page << QByteArray("<a href =  ' a b.jpg '><img src=\" 'c.gif'\">")
            << QStringList{"{base}/d/a b.jpg", "{base}/d/c.gif"};
    QTest::newRow("host root") << page << QByteArray(R"(<img src="/pics/a.jpg">)")
                               << QStringList{"{base}/pics/a.jpg"};
    QTest::newRow("other host, same scheme") << page << QByteArray(R"(<img src="//cdn.host/a.jpg">)")
                                             << QStringList{"http://cdn.host/a.jpg"};
    QTest::newRow("anchor only") << page << QByteArray(R"(<a href="#top">)") << QStringList{""};
    QTest::newRow("spaces of other scripts")
            << page
            << QStringLiteral("<img src=\u3000a.jpg\u3000> http://other/b.zip\u00A0").toUtf8()
            << QStringList{"{base}/d/a.jpg", "http://other/b.zip"};
    QTest::newRow("each file once, in page order")
            << page << QByteArray(R"(<img src=a.jpg><img src="b.gif"><a href='a.jpg'>)")
            << QStringList{"{base}/d/a.jpg", "{base}/d/b.gif"};
    QTest::newRow("attribute and text")
            << page << QByteArray(R"(<a href="http://other/c.jpg">)")
            << QStringList{"http://other/c.jpg"};
    QTest::newRow("half a character in a UTF-16 page")
            << page << Utf16LeBody(QStringLiteral("<img src=a.jpg>") + QChar(0xD800) + "<img src=b.gif>")
            << QStringList{"{base}/d/a.jpg", "{base}/d/b.gif"};
    QTest::newRow("slash in the page's query")
            << "/d/v.asp?d=a/" << QByteArray(R"(<img src="x.jpg">)")
            << QStringList{"{base}/d/x.jpg"};
}

void tst_Analysis::filesOfOnePage()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, files);
    m_server.addRoute(target, TestResponse::page(body, "text/html; charset=utf-8"));

    Getter g;
    const QStringList found = g.Search({Url(target)}, 0);
    QCOMPARE(found, WithBase(files, m_server.baseUrl()));
    // The page's own text is examined as fetched; nothing else is asked for.
    QCOMPARE(m_server.requestCount(target), 1);
    QCOMPARE(m_server.totalRequests(), 1);
    QVERIFY(g.analyzer.anyPageText());
    QVERIFY(!g.analyzer.analysisFailed());
}

void tst_Analysis::untickedExtensionDropped()
{
    ExtChecks[ExtNames.indexOf("gif")] = 0;
    m_server.addPage("/d/p.html", "<img src=a.gif><img src=b.jpg><img src=c.GIF>");
    Getter g;
    QCOMPARE(g.Search({Url("/d/p.html")}, 0), QStringList{m_server.baseUrl() + "/d/b.jpg"});
}

void tst_Analysis::pageWithoutCandidates()
{
    m_server.addPage("/d/p.html", "<p>nothing here</p>");
    Getter g;
    QCOMPARE(g.Search({Url("/d/p.html")}, 1), QStringList{QString()});
    QCOMPARE(g.vars.FoundCount, 0);
    QVERIFY(g.sink.statusLog.contains(Url("/d/p.html") + NoFilesSuffix));
}

void tst_Analysis::subPages()
{
    m_server.addPage("/d/p.html",
                     R"(<img src="top.jpg">
                        <a href="s1.html">1</a> <a href="s1.html">again</a> <a href="S1.html">case</a>
                        <a href="s2.htm">2</a> <a href="Photo.HTML#top">photo</a> <a href="#top">top</a>
                        <a href="list.php">php</a> <a href="folder">folder</a> <a href="p.html">self</a>
                        <a href="list.asp">asp</a>)");
    m_server.addPage("/d/list.asp", R"(<img src="asp.jpg">)");
    m_server.addPage("/d/s1.html", R"(<img src="one.jpg"><img src="common.jpg">)");
    m_server.addPage("/d/s2.htm", R"(<img src="common.jpg"><img src="/d/two.jpg">)");
    m_server.addPage("/d/Photo.HTML", R"(<img src="photo.jpg">)");

    Getter g;
    const QStringList found = g.Search({Url("/d/p.html")}, 1);
    QCOMPARE(found, WithBase({"{base}/d/top.jpg", "{base}/d/one.jpg", "{base}/d/common.jpg",
                              "{base}/d/two.jpg", "{base}/d/photo.jpg", "{base}/d/asp.jpg"},
                             m_server.baseUrl()));
    QCOMPARE(m_server.requestCount("/d/p.html"), 1);
    QCOMPARE(m_server.requestCount("/d/s1.html"), 1);
    QCOMPARE(m_server.requestCount("/d/S1.html"), 1);   // another address: asked for, not found
    QCOMPARE(m_server.requestCount("/d/s2.htm"), 1);
    QCOMPARE(m_server.requestCount("/d/Photo.HTML"), 1);
    QCOMPARE(m_server.requestCount("/d/"), 0);
    QCOMPARE(m_server.requestCount("/d/list.php"), 0);
    QCOMPARE(m_server.requestCount("/d/folder"), 0);
    QCOMPARE(m_server.requestCount("/d/list.asp"), 1);
    QCOMPARE(m_server.totalRequests(), 6);
    QCOMPARE(g.vars.FoundCount, 6);
}

// The searched address ends in a fragment: the page is fetched once, and
// its own text is examined for files.
void tst_Analysis::searchedAddressWithFragment()
{
    m_server.addPage("/d/p.html", R"(<img src="top.jpg"><a href="s.html#x">s</a>)");
    m_server.addPage("/d/s.html", R"(<img src="sub.jpg">)");
    Getter g;
    QCOMPARE(g.Search({Url("/d/p.html") + "#part"}, 1),
             WithBase({"{base}/d/top.jpg", "{base}/d/sub.jpg"}, m_server.baseUrl()));
    QCOMPARE(m_server.requestCount("/d/p.html"), 1);
    QCOMPARE(m_server.requestCount("/d/s.html"), 1);
    QCOMPARE(m_server.totalRequests(), 2);
}

void tst_Analysis::subPagesOff()
{
    m_server.addPage("/d/p.html", R"(<img src="top.jpg"><a href="s1.html">1</a>)");
    m_server.addPage("/d/s1.html", R"(<img src="one.jpg">)");
    Getter g;
    QCOMPARE(g.Search({Url("/d/p.html")}, 0), QStringList{m_server.baseUrl() + "/d/top.jpg"});
    QCOMPARE(m_server.totalRequests(), 1);
}

void tst_Analysis::failedSubPageCollectsNothing()
{
    m_server.addPage("/d/p.html", R"(<a href="two/s2.html">2</a> <a href="one/s1.html">1</a>
                                     <a href="three/s3.html">3</a>)");
    m_server.addPage("/d/one/s1.html", R"(<img src="a.jpg">)");
    m_server.addRoute("/d/two/s2.html", TestResponse::status(500, R"(<img src="error.jpg">)"));
    m_server.addRoute("/d/three/s3.html", TestResponse::page(R"(<img src="b.jpg">)").resetAfter(5));
    Getter g;
    QCOMPARE(g.Search({Url("/d/p.html")}, 1), QStringList{m_server.baseUrl() + "/d/one/a.jpg"});
    // A server error and a reset connection may pass: each was tried three times.
    QCOMPARE(m_server.requestCount("/d/two/s2.html"), 3);
    QCOMPARE(m_server.requestCount("/d/three/s3.html"), 3);
    QCOMPARE(g.sink.statusLog.last(), ErrorStatus);
    // A page that could not be fetched is not reported as one without files.
    for (const QString &status : std::as_const(g.sink.statusLog))
        QVERIFY2(!status.contains("s2.html" + NoFilesSuffix) && !status.contains("s3.html" + NoFilesSuffix),
                 qPrintable(status));
}

// A searched address that jumps to another page: that page is asked for and
// examined, not the jump page's own text.
void tst_Analysis::searchedJumpAddress()
{
    m_server.addRouteAnyQuery("/d/go.html", TestResponse::page(R"(<img src="jump.jpg">)"));
    m_server.addPage("/d/t.html", R"(<img src="target.jpg">)");
    Getter g;
    QCOMPARE(g.Search({Url("/d/go.html") + "?url=" + Url("/d/t.html")}, 1),
             QStringList{m_server.baseUrl() + "/d/target.jpg"});
    QCOMPARE(m_server.requestCount("/d/t.html"), 1);
}

void tst_Analysis::failedPageNotAskedAgain()
{
    Getter g;
    QCOMPARE(g.Search({Url("/d/missing.html")}, 1), QStringList{QString()});
    QCOMPARE(m_server.requestCount("/d/missing.html"), 1);
    QVERIFY(!g.analyzer.anyPageText());
    QCOMPARE(g.sink.statusLog.last(), ErrorStatus);

    // A page that did give text, earlier or later in the search, counts.
    m_server.addPage("/d/p.html", R"(<img src="a.jpg">)");
    g.Search({Url("/d/missing.html"), Url("/d/p.html")}, 0);
    QVERIFY(g.analyzer.anyPageText());
    QCOMPARE(FileURLs, QStringList{m_server.baseUrl() + "/d/a.jpg"});
    g.Search({Url("/d/missing.html")}, 0);
    QVERIFY(!g.analyzer.anyPageText());
}

void tst_Analysis::framesListedEach()
{
    // One search over a frameset and its frames: a file in two frames is
    // listed for each, and FileURLs always holds all found so far.
    m_server.addPage("/f/top.html", R"(<frameset><frame src="f1.html"></frameset>)");
    m_server.addPage("/f/f1.html", R"(<img src="c.jpg">)");
    m_server.addPage("/f/f2.html", R"(<img src="c.jpg"><img src="d.jpg">)");
    Getter g;
    const QStringList found = g.Search({Url("/f/top.html"), Url("/f/f1.html"), Url("/f/f2.html")}, 0);
    QCOMPARE(found, WithBase({"{base}/f/c.jpg", "{base}/f/c.jpg", "{base}/f/d.jpg"},
                             m_server.baseUrl()));
    QCOMPARE(g.vars.FoundCount, 3);
}

void tst_Analysis::httpsPages()
{
    if (!TestServer::tlsAvailable())
        QSKIP("no TLS backend");
    Inet::AddTrustedCaFile(TestServer::testCertificatePath());
    TestServer tls(TestServer::Https);
    QVERIFY2(tls.isListening(), qPrintable(tls.errorString()));
    tls.addPage("/d/e/p.html",
                R"(<img src="a.jpg"> <img src="//cdn.host/x.jpg"> <img src="/pics/b.jpg">
                   <a href="sub.html">s</a> <a href="../up.jpg">up</a> <a href='../../top.html'>t</a>
                   <p>https://other.host/c.jpg</p>)");
    tls.addPage("/d/e/sub.html", "<img src='s.jpg'>");
    tls.addPage("/top.html", "<img src=t.jpg>");

    Getter g;
    const QString base = tls.baseUrl();
    QVERIFY(base.startsWith("https://"));
    const QStringList found = g.Search({tls.url("/d/e/p.html").toString()}, 1);
    QCOMPARE(found, WithBase({"{base}/d/e/a.jpg", "https://cdn.host/x.jpg", "{base}/pics/b.jpg",
                              "{base}/d/up.jpg", "https://other.host/c.jpg", "{base}/d/e/s.jpg",
                              "{base}/t.jpg"},
                             base));
    QCOMPARE(tls.requestCount("/d/e/sub.html"), 1);
    QCOMPARE(tls.requestCount("/top.html"), 1);
    QCOMPARE(tls.totalRequests(), 3);
}

void tst_Analysis::stopWhileWaitingForThePage()
{
    m_server.addRoute("/d/slow.html", TestResponse::page("<img src=a.jpg>").stallAfter(0));
    connect(&m_server, &TestServer::requestReceived, this, [](const QString &target) {
        if (target == QLatin1String("/d/slow.html"))
            AbortFlag = 1;
    });
    Getter g;
    FileURLs = QStringList{QStringLiteral("earlier")};
    chkSubURL = 1;
    g.vars.FoundCount = 0;
    g.vars.FoundFiles = QStringList{QString()};
    g.analyzer.AnalyzePage(Url("/d/slow.html"));
    disconnect(&m_server, &TestServer::requestReceived, this, nullptr);

    QCOMPARE(g.sink.statusLog.last(), AbortedStatus);
    QCOMPARE(g.vars.PageLinks, QStringList{Url("/d/slow.html")});
    QCOMPARE(FileURLs, QStringList{QStringLiteral("earlier")});
    QVERIFY(!g.analyzer.anyPageText());
}

void tst_Analysis::stopWhileWaitingForASubPage()
{
    m_server.addPage("/d/p.html", "<img src=p.jpg> <a href=s1.html>1</a> <a href=s2.html>2</a>"
                                  " <a href=s3.html>3</a>");
    m_server.addPage("/d/s1.html", "<img src=one.jpg>");
    m_server.addRoute("/d/s2.html", TestResponse::page("<img src=two.jpg>").stallAfter(0));
    m_server.addPage("/d/s3.html", "<img src=three.jpg>");
    connect(&m_server, &TestServer::requestReceived, this, [](const QString &target) {
        if (target == QLatin1String("/d/s2.html"))
            AbortFlag = 1;
    });
    Getter g;
    const QStringList found = g.Search({Url("/d/p.html")}, 1);
    disconnect(&m_server, &TestServer::requestReceived, this, nullptr);

    // The later pages are not asked for; the steps after the page loop still
    // run, each ending at its first entry on the standing stop request.
    QCOMPARE(m_server.requestCount("/d/s3.html"), 0);
    QCOMPARE(g.sink.statusLog.last(), AbortedStatus);
    QCOMPARE(found, QStringList{m_server.baseUrl() + "/d/p.jpg"});
    QCOMPARE(g.vars.FoundCount, 1);
}

void tst_Analysis::stopBetweenSubPages()
{
    // The page itself is no page to examine (.php); its first link has no
    // candidate at all, and the stop comes while that is shown.
    m_server.addPage("/d/list.php", "<a href=s0.html>0</a> <a href=s1.html>1</a>");
    m_server.addPage("/d/s0.html", "<p>empty</p>");
    m_server.addPage("/d/s1.html", "<img src=one.jpg>");
    Getter g;
    g.sink.onStatus = [](const QString &text) {
        if (text.endsWith(NoFilesSuffix))
            AbortFlag = 1;
    };
    const QStringList found = g.Search({Url("/d/list.php")}, 1);

    QCOMPARE(m_server.requestCount("/d/list.php"), 1);
    QCOMPARE(m_server.requestCount("/d/s0.html"), 1);
    QCOMPARE(m_server.requestCount("/d/s1.html"), 0);
    QVERIFY(g.sink.statusLog.contains(Url("/d/s0.html") + NoFilesSuffix));
    QCOMPARE(g.sink.statusLog.last(), AbortedStatus);
    QCOMPARE(found, QStringList{QString()});
    QCOMPARE(g.vars.FoundCount, 0);
}

void tst_Analysis::longLinesAndDataAddresses()
{
    // A megabyte-long data: address in one attribute, then many links on one
    // long line: all handled, none lost.
    QByteArray body = "<img src=\"data:image/jpeg;base64,";
    for (int i = 0; i < (1 << 20) / 8; ++i)
        body += "/9j//+A/";
    body += "\"><img src=\"b.jpg\">";
    const int count = 20000;
    for (int i = 0; i < count; ++i)
        body += "<a href=\"f" + QByteArray::number(i) + ".jpg\"><img src=\"t/../f" + QByteArray::number(i) + ".jpg\"></a>";
    m_server.addPage("/d/p.html", body);

    Getter g;
    const QStringList found = g.Search({Url("/d/p.html")}, 0);
    QCOMPARE(found.size(), count + 1);
    QCOMPARE(found.first(), m_server.baseUrl() + "/d/b.jpg");
    QCOMPARE(found.last(), m_server.baseUrl() + "/d/f" + QString::number(count - 1) + ".jpg");
    QVERIFY(!g.analyzer.analysisFailed());
}

// The engine giving up on a page's text (made to here, by the smallest match
// limit, on a text with a mark): the search says so, whatever comes after it.
void tst_Analysis::engineGivingUpIsReported()
{
    SetEngineGivesUpOn([](const QString &text) { return text.contains(u"<!-- too much -->"); });
    m_server.addPage("/broken.html", "<!-- too much --><img src=a.jpg>");
    m_server.addPage("/good.html", "<img src=g.jpg>");

    Getter g;
    const QStringList found = g.Search({Url("/broken.html"), Url("/good.html")}, 0);
    QCOMPARE(found, QStringList{Url("/g.jpg")});
    QVERIFY(g.analyzer.analysisFailed());
    QVERIFY(g.sink.statusLog.contains(QStringLiteral("ＨＴＭＬの解析中にエラーが発生しました．")));

    g.Search({Url("/good.html")}, 0);
    QVERIFY(!g.analyzer.analysisFailed());
}

void tst_Analysis::pageViewFiles_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("partFiles");   // the three expressions' list, as without the option
    QTest::addColumn<QStringList>("files");       // with the option

    QTest::newRow("images only in srcset")
            << QByteArray(R"x(<img srcset="a.jpg 1x, b.jpg 2x" alt="">
                             <picture><source srcset="c.jpeg 480w, d.gif 800w"><img srcset="e.jpg"></picture>)x")
            << QStringList{""}
            << QStringList{"{base}/d/a.jpg", "{base}/d/b.jpg", "{base}/d/c.jpeg", "{base}/d/d.gif",
                           "{base}/d/e.jpg"};
    QTest::newRow("lazy attributes after the page's list")
            << QByteArray(R"x(<img src="blank.gif" data-original="l1.jpg"><div data-bg="url(l2.jpg)"></div>
                             <img data-src="l3.jpg" data-srcset="l4.jpg 2x"><a data-zoom-image="big/l5.jpg">z</a>)x")
            << QStringList{"{base}/d/blank.gif", "{base}/d/l3.jpg"}
            << QStringList{"{base}/d/blank.gif", "{base}/d/l3.jpg", "{base}/d/l1.jpg", "{base}/d/l2.jpg",
                           "{base}/d/l4.jpg", "{base}/d/big/l5.jpg"};
    QTest::newRow("inline style and style block")
            << QByteArray(R"x(<style>.g { background: url('img/s1.jpg') } /* url(no.jpg) */</style>
                             <div style="background-image:url(&quot;img/s2.gif&quot;)">x</div>
                             <p style='background:url(/s3.jpg) no-repeat'>y</p>)x")
            << QStringList{""}
            << QStringList{"{base}/d/img/s1.jpg", "{base}/d/img/s2.gif", "{base}/s3.jpg"};
    QTest::newRow("commas in srcset addresses")
            << QByteArray(R"x(<img srcset="img/a,b.jpg 2x, c.jpg?x=1,2 3x">)x")
            << QStringList{""}
            << QStringList{"{base}/d/img/a,b.jpg", "{base}/d/c.jpg"};
    QTest::newRow("found by both, listed once")
            << QByteArray(R"x(<img src="a.jpg" srcset="a.jpg 1x, b.jpg 2x, a.jpg?w=2 3x">)x")
            << QStringList{"{base}/d/a.jpg"}
            << QStringList{"{base}/d/a.jpg", "{base}/d/b.jpg"};
    QTest::newRow("each address normalised as the expressions' are")
            << QByteArray(R"x(<img srcset="../up.jpg 1x, /root.jpg 2x, //cdn.host/x.jpg 3x, count.CGI?f=a.jpg 4x,
                                          go.php?u=http://other/t.zip 5x, index.html 6x, A.JPG?s=1 7x,
                                          notes.txt 8x, HTTP://Other/cap.jpg 9x">)x")
            << QStringList{"http://other/t.zip", "http://Other/cap.jpg"}   // written-out addresses
            << QStringList{"http://other/t.zip", "http://Other/cap.jpg", "{base}/up.jpg", "{base}/root.jpg",
                           "http://cdn.host/x.jpg", "{base}/d/A.JPG"};
    QTest::newRow("unticked extension dropped")
            << QByteArray(R"x(<img srcset="a.bmp 1x, b.jpg 2x">)x")
            << QStringList{""}
            << QStringList{"{base}/d/b.jpg"};
}

// With the option the page's srcsets, lazy attributes and CSS add their files
// after the page's own list; without it the list is the expressions' alone.
// Either way the page is asked for once, and nothing else.
void tst_Analysis::pageViewFiles()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, partFiles);
    QFETCH(QStringList, files);
    ExtChecks[ExtNames.indexOf("bmp")] = 0;
    m_server.addPage("/d/p.html", body);

    Getter g;
    int liveReads = 0;
    g.analyzer.SetLiveDocumentReader([&](const QString &) {
        ++liveReads;
        return QList<LiveDocumentValue>();
    });
    QCOMPARE(g.Search({Url("/d/p.html")}, 0, 0), WithBase(partFiles, m_server.baseUrl()));
    QCOMPARE(liveReads, 0);
    const QList<TestRequest> withoutOption = m_server.requestLog();
    m_server.clearRequestLog();

    QCOMPARE(g.Search({Url("/d/p.html")}, 0, 1), WithBase(files, m_server.baseUrl()));
    QCOMPARE(liveReads, 1);
    QCOMPARE(g.vars.FoundCount, files.size());
    QCOMPARE(m_server.requestLog().size(), 1);
    QCOMPARE(withoutOption.size(), 1);
    QCOMPARE(m_server.requestLog().first().target, withoutOption.first().target);

    // Off again: exactly the expressions' list once more.
    QCOMPARE(g.Search({Url("/d/p.html")}, 0, 0), WithBase(partFiles, m_server.baseUrl()));
}

// The pages a page links to and the frames of a frameset: each page's
// additions follow its own list, and no addition repeats anything already
// listed in the search (the expressions' own lists still repeat across frames).
void tst_Analysis::pageViewAcrossPages()
{
    m_server.addPage("/d/p.html", R"x(<img src="top.jpg" srcset="top2.jpg 2x"> <a href="s1.html">1</a>
                                     <a href="s2.html">2</a>)x");
    m_server.addPage("/d/s1.html", R"x(<img src="one.jpg" data-src="lazy1.jpg" srcset="top2.jpg 2x, one2.jpg 3x">)x");
    m_server.addPage("/d/s2.html", R"x(<div style="background:url(bg.jpg)"></div>)x");
    m_server.addPage("/f/f1.html", R"x(<img src="c.jpg" srcset="e.jpg 2x">)x");
    m_server.addPage("/f/f2.html", R"x(<img src="c.jpg" srcset="e.jpg 2x, g.jpg 3x">)x");

    Getter g;
    const QStringList partList = g.Search({Url("/d/p.html")}, 1, 0);
    QCOMPARE(partList, WithBase({"{base}/d/top.jpg", "{base}/d/one.jpg", "{base}/d/lazy1.jpg"},
                                m_server.baseUrl()));
    QStringList withoutOption;
    for (const TestRequest &r : m_server.requestLog())
        withoutOption << r.target;
    m_server.clearRequestLog();

    QCOMPARE(g.Search({Url("/d/p.html")}, 1, 1),
             WithBase({"{base}/d/top.jpg", "{base}/d/one.jpg", "{base}/d/lazy1.jpg", "{base}/d/top2.jpg",
                       "{base}/d/one2.jpg", "{base}/d/bg.jpg"},
                      m_server.baseUrl()));
    QStringList withOption;
    for (const TestRequest &r : m_server.requestLog())
        withOption << r.target;
    QCOMPARE(withOption, withoutOption);
    QCOMPARE(withOption, QStringList({"/d/p.html", "/d/s1.html", "/d/s2.html"}));

    QCOMPARE(g.Search({Url("/f/f1.html"), Url("/f/f2.html")}, 0, 0),
             WithBase({"{base}/f/c.jpg", "{base}/f/c.jpg"}, m_server.baseUrl()));
    QCOMPARE(g.Search({Url("/f/f1.html"), Url("/f/f2.html")}, 0, 1),
             WithBase({"{base}/f/c.jpg", "{base}/f/e.jpg", "{base}/f/c.jpg", "{base}/f/g.jpg"},
                      m_server.baseUrl()));
}

// What the browser view's document gives comes after the page's own text
// and before the pages it links to, joined to the page it was read from.
void tst_Analysis::pageViewShownDocument()
{
    m_server.addPage("/d/p.html", R"x(<img src="a.jpg" srcset="b.jpg 2x"> <a href="s1.html">1</a>)x");
    m_server.addPage("/d/s1.html", R"x(<img srcset="sub.jpg 2x">)x");
    m_server.addPage("/d/missing.html", "");
    m_server.addRoute("/d/missing.html", TestResponse::status(404));

    Getter g;
    QStringList asked;
    g.analyzer.SetLiveDocumentReader([&](const QString &page) {
        using V = LiveDocumentValue;
        asked << page;
        return QList<V>{
            {V::Address, m_server.baseUrl() + "/d/a.jpg"},
            {V::Address, m_server.baseUrl() + "/d/gallery/1.jpg"},
            {V::Srcset, QStringLiteral("gallery/2.jpg 1x, gallery/2b.jpg 2x")},
            {V::Css, QStringLiteral("url(\"%1/d/bg.gif\"), none").arg(m_server.baseUrl())},
            {V::Address, m_server.baseUrl() + "/d/next.html"},
            {V::Address, QStringLiteral("sub.jpg")},
        };
    });
    QCOMPARE(g.Search({Url("/d/p.html")}, 1, 1),
             WithBase({"{base}/d/a.jpg", "{base}/d/b.jpg", "{base}/d/gallery/1.jpg", "{base}/d/gallery/2.jpg",
                       "{base}/d/gallery/2b.jpg", "{base}/d/bg.gif", "{base}/d/sub.jpg"},
                      m_server.baseUrl()));
    QCOMPARE(asked, QStringList{Url("/d/p.html")});
    QCOMPARE(m_server.totalRequests(), 2);

    // A page whose text could not be fetched may still be shown.
    asked.clear();
    QCOMPARE(g.Search({Url("/d/missing.html")}, 0, 1).first(), Url("/d/a.jpg"));
    QCOMPARE(asked, QStringList{Url("/d/missing.html")});

    // A stop during the read adds nothing from it.
    g.analyzer.SetLiveDocumentReader([&](const QString &) {
        AbortFlag = 1;
        return QList<LiveDocumentValue>{{LiveDocumentValue::Address, Url("/d/late.jpg")}};
    });
    g.Search({Url("/d/p.html")}, 0, 1);
    QCOMPARE(g.sink.statusLog.last(), AbortedStatus);
    QVERIFY(!g.vars.FoundFiles.contains(Url("/d/late.jpg")));
}

// A large page full of hostile markup: the addition reads it once, finds
// what is there, and leaves the expressions' list alone.
void tst_Analysis::pageViewHostileText()
{
    QByteArray body = "<img title=\"" + QByteArray(200 * 1024, 'x') + "\" srcset=\"first.jpg 2x\">";
    body += "<div style=\"" + QByteArray("url(").repeated(20000) + "n.jpg" + QByteArray(20000, ')') + "\">";
    const int count = 20000;
    for (int i = 0; i < count; ++i)
        body += "<img src=\"t" + QByteArray::number(i) + ".jpg\" data-srcset=\"f" + QByteArray::number(i)
                + ".jpg 2x, t" + QByteArray::number(i) + ".jpg 1x\">";
    body += "<img srcset=\"never.jpg\" alt=\"unclosed";
    m_server.addPage("/d/p.html", body);

    Getter g;
    const QStringList found = g.Search({Url("/d/p.html")}, 0, 1);
    QCOMPARE(found.size(), 2 * count + 1);
    QCOMPARE(found.at(0), Url("/d/t0.jpg"));
    QCOMPARE(found.at(count - 1), Url("/d/t" + QString::number(count - 1) + ".jpg"));
    QCOMPARE(found.at(count), Url("/d/first.jpg"));
    QCOMPARE(found.at(count + 1), Url("/d/f0.jpg"));
    QCOMPARE(found.last(), Url("/d/f" + QString::number(count - 1) + ".jpg"));
    QVERIFY(!found.contains(Url("/d/never.jpg")));
}



void tst_Analysis::subPageBound()
{
    // A page linking more pages than a search visits, and a second page.
    const int pages = MaxSubPagesPerSearch + 20;
    QByteArray list;
    for (int i = 0; i < pages; ++i) {
        list += "<a href=\"s" + QByteArray::number(i) + ".html\">" + QByteArray::number(i) + "</a>\n";
        m_server.addPage(QStringLiteral("/b/s%1.html").arg(i),
                         "<img src=\"f" + QByteArray::number(i) + ".jpg\">");
    }
    m_server.addPage("/b/p.html", list);
    m_server.addPage("/b/frame.html", "<img src=\"frame.jpg\">");

    Getter g;
    const QStringList found = g.Search({Url("/b/p.html"), Url("/b/frame.html")}, 1);
    QCOMPARE(g.analyzer.boundReached(), PageAnalyzer::Bound::SubPages);
    QCOMPARE(g.sink.status(), SubPageBoundText);
    // What the visited pages gave stays, in order; nothing more is asked.
    QCOMPARE(found.size(), MaxSubPagesPerSearch);
    QCOMPARE(found.first(), m_server.baseUrl() + "/b/f0.jpg");
    QCOMPARE(found.last(), m_server.baseUrl() + QStringLiteral("/b/f%1.jpg").arg(MaxSubPagesPerSearch - 1));
    QCOMPARE(m_server.totalRequests(), 1 + MaxSubPagesPerSearch);
    QCOMPARE(m_server.requestCount("/b/frame.html"), 0);

    // The next search starts afresh.
    m_server.clearRequestLog();
    QCOMPARE(g.Search({Url("/b/frame.html")}, 1), QStringList{m_server.baseUrl() + "/b/frame.jpg"});
    QCOMPARE(g.analyzer.boundReached(), PageAnalyzer::Bound::None);
}

void tst_Analysis::linkBound()
{
    // One page naming more files than a search keeps.
    const qsizetype links = MaxLinksPerSearch + 500;
    QByteArray page;
    page.reserve(links * 16);
    for (qsizetype i = 0; i < links; ++i)
        page += "<img src=" + QByteArray::number(i, 36) + ".jpg>";
    m_server.addPage("/big/p.html", page);
    page.clear();
    page.squeeze();

    const qint64 before = PeakResidentBytes();
    Getter g;
    const QStringList found = g.Search({Url("/big/p.html")}, 0);
    QCOMPARE(g.analyzer.boundReached(), PageAnalyzer::Bound::Links);
    QCOMPARE(g.sink.status(), LinkBoundText);
    QCOMPARE(found.size(), MaxLinksPerSearch);
    QCOMPARE(found.first(), m_server.baseUrl() + "/big/0.jpg");
#if !defined(__SANITIZE_ADDRESS__)
    // Far below a gigabyte, the server's copy of the page included.
    const qint64 growth = PeakResidentBytes() - before;
    QVERIFY2(growth < qint64(1) << 30, qPrintable(QString::number(growth)));
#endif
}

// Sub-pages fetched ahead, some slower than others, are analysed in list
// order: the list is the one of one page at a time, a failed page included.
void tst_Analysis::subPagesAheadGiveTheSameList()
{
    QByteArray top;
    for (int i = 0; i < 30; ++i) {
        top += QByteArray("<a href=\"s") + QByteArray::number(i) + ".html\">s</a>";
        const QByteArray page = "<img src=\"f" + QByteArray::number(i) + ".jpg\"><img src=\"common.jpg\">"
                + "<img src=\"g" + QByteArray::number(29 - i) + ".gif\">";
        const QString target = QStringLiteral("/ahead/s%1.html").arg(i);
        if (i == 11)
            m_server.addRoute(target, TestResponse::status(404));
        else if (i % 4 == 0)
            m_server.addRoute(target, TestResponse::page(page).slow(16, 15));
        else
            m_server.addPage(target, page);
    }
    m_server.addPage("/ahead/p.html", top);

    QList<QStringList> lists;
    for (const int atOnce : {1, 4}) {
        FilesAtOnce = atOnce;
        m_server.clearRequestLog();
        Getter g;
        lists << g.Search({Url("/ahead/p.html")}, 1);
        QCOMPARE(m_server.totalRequests(), 31);
    }
    QCOMPARE(lists.at(1), lists.at(0));
    QCOMPARE(lists.at(0).size(), 1 + 29 * 2);
    QCOMPARE(lists.at(0).at(1), m_server.baseUrl() + "/ahead/common.jpg");
}

// The settings dialog saved while a search runs changes nothing of it: the
// extensions, the options and the transfers at once are those it began with.
void tst_Analysis::settingsSavedDuringASearch()
{
    m_server.addPage("/opt/p.html", R"(<a href="s.html">s</a><img src="a.jpg"><img src="b.gif">)");
    m_server.addPage("/opt/s.html", R"x(<img src="c.jpg"><div style="background:url(d.jpg)"></div>)x");
    const QStringList expected = WithBase({"{base}/opt/a.jpg", "{base}/opt/b.gif", "{base}/opt/c.jpg"},
                                          m_server.baseUrl());

    Getter g;
    g.sink.onStatus = [](const QString &) {
        chkSubURL = 0;
        chkPageView = 1;
        FilesAtOnce = 8;
        ExtChecks = QList<int>(ExtNames.size(), 0);
    };
    QCOMPARE(g.Search({Url("/opt/p.html")}, 1), expected);
    QCOMPARE(m_server.requestCount("/opt/s.html"), 1);
}

QTEST_GUILESS_MAIN(tst_Analysis)
#include "tst_analysis.moc"
