#include "GetterTexts.h"
#include "GetterRig.h"
#include "RecordingSink.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "TransferTestBase.h"

#include "core/Shared.h"
#include "getter/engine/GetterSink.h"
#include "getter/engine/GetterVars.h"
#include "getter/engine/Inet.h"
#include "getter/engine/PageText.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

Q_DECLARE_METATYPE(TestResponse)

namespace {

using Getter = GetterRig;

QByteArray Encode(const QString &text, const char *charset)
{
    QStringEncoder encoder(charset);
    return encoder.encode(text);
}

const QString JapaneseText = QStringLiteral(
    "これは日本語のページです。画像をダウンロードしてください。"
    "「キロ」で保存します。半角ｶﾀｶﾅも少し。");

QString JapanesePage(const QString &head)
{
    return QStringLiteral("<html><head>") + head
        + QStringLiteral("<title>テスト</title></head><body><p>") + JapaneseText
        + QStringLiteral("</p><a href=\"写真/花.jpg\">花</a></body></html>");
}

} // namespace

class tst_Transfer : public TransferTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void textBodies_data();
    void textBodies();
    void failedTextRequests_data();
    void failedTextRequests();
    void fileBodies_data();
    void fileBodies();
    void unwritableFolder_data();
    void unwritableFolder();
    void stallEndsAfterTheLimit();
    void abortWhileAFileStreams();
    void repliesAreFreedDuringALongRun();
    void httpsFile();
    void untrustedCertificateFails();
    void japaneseScore_data();
    void japaneseScore();
    void detectionWithoutDeclaration_data();
    void detectionWithoutDeclaration();

    void keptConnectionIsReused();
    void framedBodies_data();
    void framedBodies();
    void droppedKeptConnectionIsRetried();
    void closingServerGetsNewConnections();
    void redirectToHttps();
};

void tst_Transfer::initTestCase()
{
    if (TestServer::tlsAvailable())
        TestServer::trustTestCertificate();
    QString error;
    QVERIFY2(startServers(&error), qPrintable(error));

    const QString sjisPage = JapanesePage(QString());
    m_http.addPage("/text/empty", QByteArray());
    m_http.addPage("/text/sjis-header", Encode(sjisPage, "Shift_JIS"), "text/html; charset=Shift_JIS");
    m_http.addPage("/text/sjis-meta",
                   Encode(JapanesePage(QStringLiteral("<meta charset=\"shift_jis\">")), "Shift_JIS"));
    m_http.addPage("/text/eucjp-http-equiv",
                   Encode(JapanesePage(QStringLiteral(
                              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">")),
                          "EUC-JP"));
    m_http.addPage("/text/utf8-header", sjisPage.toUtf8(), "text/html; charset=utf-8");

    m_http.addRoute("/text/huge", TestResponse::generated(65 * 1024 * 1024, "text/html"));

    m_http.addRoute("/err/404", TestResponse::status(404, "<html><body>見つかりません</body></html>"));
    m_http.addRoute("/err/500", TestResponse::status(500, "<html><body>Internal error</body></html>"));
    m_http.addRoute("/err/304", TestResponse::status(304));

    m_http.addRoute("/file/empty", TestResponse::bytes(QByteArray()));
    m_http.addRoute("/file/2048", TestResponse::bytes(TestServer::generatedBody(2048)));
    m_http.addRoute("/file/20m", TestResponse::generated(20 * 1024 * 1024));
    m_http.addRoute("/file/slow", TestResponse::generated(64 * 1024).slow(4096, 40));
    m_http.addRoute("/file/reset", TestResponse::generated(4 * 1024 * 1024).resetAfter(1024 * 1024));
    m_http.addRoute("/file/short", TestResponse::generated(256 * 1024).closeAfter(100 * 1024));
    m_http.addRoute("/file/short-small", TestResponse::bytes("0123456789").closeAfter(4));
    m_http.addRoute("/file/streaming", TestResponse::generated(64 * 1024 * 1024).slow(64 * 1024, 20));
    m_http.addRoute("/file/stall", TestResponse::generated(100 * 1024).stallAfter(10 * 1024));
    m_http.addRoute("/files/real-name.bin", TestResponse::bytes(TestServer::generatedBody(5000)));
    m_http.addRedirect("/file/moved", "/files/real-name.bin", 302);
    m_http.addRedirect("/file/moved-twice", "/file/moved", 301);
    m_http.addRedirect("/file/loop-a", "/file/loop-b", 302);
    m_http.addRedirect("/file/loop-b", "/file/loop-a", 302);

    m_kept.addRoute("/file/2048", TestResponse::bytes(TestServer::generatedBody(2048)));
    m_kept.addRoute("/file/chunked", TestResponse::generated(3 * 1024 * 1024 + 5).chunked());
    m_kept.addRoute("/text/chunked", TestResponse::page(sjisPage.toUtf8(), "text/html; charset=utf-8")
                                          .chunked());
    m_kept.addRoute("/file/dropped", TestResponse::bytes(TestServer::generatedBody(3000))
                                         .droppedWhenReused());
    m_kept.addRedirect("/file/moved", "/file/2048", 307);
    m_kept.addRoute("/err/404", TestResponse::status(404, "<html><body>404</body></html>"));
    m_kept.addRoute("/empty/204", TestResponse::status(204));

    if (m_https)
        m_https->addRoute("/secure.bin", TestResponse::generated(3 * 1024 * 1024 + 7));
}

void tst_Transfer::init()
{
    kiro::AbortFlag = 0;
}

void tst_Transfer::textBodies_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");

    const QString page = JapanesePage(QString());
    QTest::newRow("empty page") << "/text/empty" << 1 << QString();
    QTest::newRow("empty sub-page") << "/text/empty" << 2 << QString();
    QTest::newRow("Shift_JIS by header") << "/text/sjis-header" << 1 << page;
    QTest::newRow("Shift_JIS by meta charset")
        << "/text/sjis-meta" << 2 << JapanesePage(QStringLiteral("<meta charset=\"shift_jis\">"));
    QTest::newRow("EUC-JP by http-equiv")
        << "/text/eucjp-http-equiv" << 1
        << JapanesePage(QStringLiteral(
               "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">"));
    QTest::newRow("UTF-8 by header") << "/text/utf8-header" << 2 << page;
}

void tst_Transfer::textBodies()
{
    QFETCH(QString, target);
    QFETCH(int, mode);
    QFETCH(QString, expected);

    Getter g;
    g.vars.HtmlText = g.vars.SubHtmlText = QStringLiteral("text of the previous page");
    QCOMPARE(g.Fetch(m_http.url(target).toString(), TransferMode(mode)), GetterRig::WaitResult::Done);

    QVERIFY(!g.LastFailed());
    QCOMPARE(g.TransferDone, 1);
    QCOMPARE(g.sink.status(), CompletedStatus);
    QCOMPARE(mode == 1 ? g.vars.HtmlText : g.vars.SubHtmlText, expected);
    // The other destination is not this request's.
    QCOMPARE(mode == 1 ? g.vars.SubHtmlText : g.vars.HtmlText,
             QStringLiteral("text of the previous page"));
    QCOMPARE(g.terminalStates(), 1);
    QCOMPARE(g.states.last(), 12);
    // A page asks for whatever encoding Qt can undo.
    QVERIFY(m_http.lastRequestHeader(target, "Accept-Encoding") != "identity");
}

void tst_Transfer::failedTextRequests_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("mode");

    const QString base = m_http.baseUrl();
    QTest::newRow("404 with a page") << base + "/err/404" << 1;
    QTest::newRow("500 with a page") << base + "/err/500" << 2;
    QTest::newRow("304") << base + "/err/304" << 1;
    QTest::newRow("redirect loop") << base + "/file/loop-a" << 1;
    QTest::newRow("empty address") << QString() << 1;
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/index.html") << 2;
    QTest::newRow("no host") << QStringLiteral("http:///index.html") << 1;
    QTest::newRow("local file") << QStringLiteral("file:///etc/hostname") << 1;
    QTest::newRow("page too large to be a page") << base + "/text/huge" << 2;
    QTest::newRow("connection refused") << QStringLiteral("http://127.0.0.1:1/") << 2;
}

void tst_Transfer::failedTextRequests()
{
    QFETCH(QString, url);
    QFETCH(int, mode);

    Getter g;
    g.vars.HtmlText = g.vars.SubHtmlText = QStringLiteral("text of the previous page");
    QCOMPARE(g.Fetch(url, TransferMode(mode)), GetterRig::WaitResult::Done);

    QVERIFY(g.LastFailed());
    QCOMPARE(g.TransferDone, 1);
    QCOMPARE(g.sink.status(), ErrorStatus);
    QCOMPARE(mode == 1 ? g.vars.HtmlText : g.vars.SubHtmlText, QString());
    QCOMPARE(g.terminalStates(), 1);
    QCOMPARE(g.states.last(), 11);
}

void tst_Transfer::fileBodies_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("kb");

    QTest::newRow("empty") << "/file/empty" << true << QByteArray() << "0";
    QTest::newRow("2048 bytes") << "/file/2048" << true << TestServer::generatedBody(2048) << "2";
    QTest::newRow("20 MB") << "/file/20m" << true << TestServer::generatedBody(20 * 1024 * 1024)
                           << "20480";
    QTest::newRow("slow body that keeps sending")
        << "/file/slow" << true << TestServer::generatedBody(64 * 1024) << "64";
    QTest::newRow("redirect") << "/file/moved" << true << TestServer::generatedBody(5000) << "4";
    QTest::newRow("two redirects") << "/file/moved-twice" << true << TestServer::generatedBody(5000)
                                   << "4";
    QTest::newRow("reset mid-body") << "/file/reset" << false << QByteArray() << QString();
    QTest::newRow("Content-Length not kept") << "/file/short" << false << QByteArray() << QString();
    QTest::newRow("Content-Length not kept, small")
        << "/file/short-small" << false << QByteArray() << QString();
    QTest::newRow("404") << "/err/404" << false << QByteArray() << QString();
    QTest::newRow("500") << "/err/500" << false << QByteArray() << QString();
    QTest::newRow("304") << "/err/304" << false << QByteArray() << QString();
    QTest::newRow("redirect loop") << "/file/loop-a" << false << QByteArray() << QString();
}

void tst_Transfer::fileBodies()
{
    QFETCH(QString, target);
    QFETCH(bool, ok);
    QFETCH(QByteArray, body);
    QFETCH(QString, kb);

    const QString folder = NewFolder();
    Getter g;
    // Short enough that the slow body would trip it if pauses between pieces counted.
    g.queue.setStallTimeout(1000);
    g.SavePath = folder + QStringLiteral("/get.bin");
    g.ReceivedBytes = 12345;
    QCOMPARE(g.Fetch(m_http.url(target).toString(), TransferMode::File), GetterRig::WaitResult::Done);

    QCOMPARE(g.TransferDone, 1);
    QCOMPARE(g.terminalStates(), 1);
    QCOMPARE(m_http.lastRequestHeader(target, "Accept-Encoding"), QByteArray("identity"));
    if (ok) {
        QVERIFY2(!g.LastFailed(), qPrintable(g.errorString));
        QCOMPARE(g.states.last(), 12);
        QCOMPARE(g.sink.status(), CompletedStatus);
        QCOMPARE(g.ReceivedBytes, qint64(body.size()));
        QCOMPARE(g.sink.kb(), kb);
        QVERIFY(FileBytes(g.SavePath) == body);
        QCOMPARE(FolderEntries(folder), QStringList{QStringLiteral("get.bin")});
    } else {
        QVERIFY(g.LastFailed());
        QCOMPARE(g.states.last(), 11);
        QCOMPARE(g.sink.status(), ErrorStatus);
        QCOMPARE(g.ReceivedBytes, qint64(0));
        QCOMPARE(FolderEntries(folder), QStringList());
    }
}

void tst_Transfer::unwritableFolder_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("folder is a file") << "file";
    QTest::newRow("read-only folder") << "read-only";
}

void tst_Transfer::unwritableFolder()
{
    QFETCH(QString, how);

    const QString folder = NewFolder();
    QString savePath;
    if (how == QLatin1String("missing")) {
        savePath = folder + QStringLiteral("/missing/get.bin");
    } else if (how == QLatin1String("file")) {
        QFile blocker(folder + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        savePath = blocker.fileName() + QStringLiteral("/get.bin");
    } else {
        if (::geteuid() == 0)
            QSKIP("permissions do not bind root");
        QVERIFY(QDir().mkdir(folder + QStringLiteral("/ro")));
        QVERIFY(QFile::setPermissions(folder + QStringLiteral("/ro"),
                                      QFile::ReadOwner | QFile::ExeOwner));
        savePath = folder + QStringLiteral("/ro/get.bin");
    }
    const QStringList before = FolderEntries(folder);

    Getter g;
    g.SavePath = savePath;
    QCOMPARE(g.Fetch(m_http.url("/file/2048").toString(), TransferMode::File),
             GetterRig::WaitResult::Done);
    QVERIFY(g.LastFailed());
    QCOMPARE(g.sink.status(), ErrorStatus);
    QCOMPARE(g.terminalStates(), 1);
    QVERIFY(!QFile::exists(savePath));
    QCOMPARE(FolderEntries(folder), before);
    if (how == QLatin1String("read-only"))
        QCOMPARE(FolderEntries(folder + QStringLiteral("/ro")), QStringList());
}

void tst_Transfer::stallEndsAfterTheLimit()
{
    const QString folder = NewFolder();
    Getter g;
    g.queue.setStallTimeout(300);
    g.SavePath = folder + QStringLiteral("/get.bin");
    QCOMPARE(g.Fetch(m_http.url("/file/stall").toString(), TransferMode::File),
             GetterRig::WaitResult::Done);
    QVERIFY(g.LastFailed());
    QVERIFY(g.errorString.contains(QLatin1String("no data")));
    QCOMPARE(g.sink.status(), ErrorStatus);
    QCOMPARE(g.terminalStates(), 1);
    QCOMPARE(FolderEntries(folder), QStringList());
    m_http.releaseStalled();
}

void tst_Transfer::abortWhileAFileStreams()
{
    const QString folder = NewFolder();
    Getter g;
    g.SavePath = folder + QStringLiteral("/get.bin");
    bool sawPartialFile = false;
    // As a click on Stop would: an event that arrives while the body streams.
    QObject::connect(&g.queue, &TransferQueue::Progress, &g.queue, [&](int, qint64 bytes) {
        if (bytes >= 256 * 1024 && kiro::AbortFlag == 0) {
            sawPartialFile = true;
            QTimer::singleShot(0, [] { kiro::AbortFlag = 1; });
        }
    });

    QCOMPARE(g.Fetch(m_http.url("/file/streaming").toString(), TransferMode::File),
             GetterRig::WaitResult::Aborted);
    QVERIFY(sawPartialFile);
    QCOMPARE(g.sink.status(), AbortedStatus);
    QCOMPARE(g.TransferDone, 0);
    QCOMPARE(g.ReceivedBytes, qint64(0));
    QCOMPARE(g.terminalStates(), 0);
    QCOMPARE(g.queue.Pending(), 0);
    QCOMPARE(FolderEntries(folder), QStringList());
    // The server sees the connection go.
    QTRY_COMPARE_WITH_TIMEOUT(m_http.openConnections(), 0, 10000);

    // The next request after the user's stop runs normally.
    kiro::AbortFlag = 0;
    g.states.clear();
    QCOMPARE(g.Fetch(m_http.url("/file/2048").toString(), TransferMode::File),
             GetterRig::WaitResult::Done);
    QVERIFY(!g.LastFailed());
    QCOMPARE(FolderEntries(folder), QStringList{QStringLiteral("get.bin")});
}

void tst_Transfer::repliesAreFreedDuringALongRun()
{
    // A download run is one long call; what each request leaves must not pile up.
    const QString folder = NewFolder();
    Getter g;
    for (int i = 0; i < 20; ++i) {
        g.SavePath = folder + QStringLiteral("/f%1.bin").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(g.Fetch(m_http.url(i % 2 ? "/file/2048" : "/err/404").toString(), TransferMode::File),
                 GetterRig::WaitResult::Done);
        QCOMPARE(g.LastFailed(), i % 2 == 0);
    }
    QVERIFY(g.queue.findChildren<QSocketNotifier *>().size() <= 4);
    QStringList expected;
    for (int i = 1; i < 20; i += 2)
        expected << QStringLiteral("f%1.bin").arg(i, 2, 10, QLatin1Char('0'));
    QCOMPARE(FolderEntries(folder), expected);
}

void tst_Transfer::httpsFile()
{
    if (!m_https)
        QSKIP("no TLS backend");
    const QString folder = NewFolder();
    Getter g;
    g.SavePath = folder + QStringLiteral("/secure.bin");
    QCOMPARE(g.Fetch(m_https->url("/secure.bin").toString(), TransferMode::File),
             GetterRig::WaitResult::Done);
    QVERIFY2(!g.LastFailed(), qPrintable(g.errorString));
    QVERIFY(g.states.contains(Inet::StateConnected));
    QCOMPARE(g.ReceivedBytes, qint64(3 * 1024 * 1024 + 7));
    QVERIFY(FileBytes(g.SavePath) == TestServer::generatedBody(3 * 1024 * 1024 + 7));
    QCOMPARE(FolderEntries(folder), QStringList{QStringLiteral("secure.bin")});
}

void tst_Transfer::untrustedCertificateFails()
{
    if (!m_https)
        QSKIP("no TLS backend");
    Inet::RemoveTrustedCaFile(TestServer::testCertificatePath());
    TestServer untrusted(TestServer::Https);
    untrusted.addRoute("/secure.bin", TestResponse::generated(1000));
    const QString folder = NewFolder();
    Getter g;
    g.SavePath = folder + QStringLiteral("/secure.bin");
    const auto result = g.Fetch(untrusted.url("/secure.bin").toString(), TransferMode::File);
    Inet::AddTrustedCaFile(TestServer::testCertificatePath());

    QCOMPARE(result, GetterRig::WaitResult::Done);
    QVERIFY(g.LastFailed());
    QCOMPARE(g.sink.status(), ErrorStatus);
    QCOMPARE(FolderEntries(folder), QStringList());
}

void tst_Transfer::detectionWithoutDeclaration_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("expected");

    const QString page = JapanesePage(QString());
    QTest::newRow("Shift_JIS") << Encode(page, "Shift_JIS") << QByteArray("text/html") << page;
    QTest::newRow("EUC-JP") << Encode(page, "EUC-JP") << QByteArray("text/html") << page;
    QTest::newRow("UTF-8") << page.toUtf8() << QByteArray() << page;
    const QString fullWidthOnly = QStringLiteral("<p>") + JapaneseText.left(30) + QStringLiteral("</p>");
    QTest::newRow("ISO-2022-JP") << Encode(fullWidthOnly, "ISO-2022-JP") << QByteArray()
                                 << fullWidthOnly;
    QTest::newRow("a short EUC-JP title")
        << Encode(QStringLiteral("<title>日本語</title>"), "EUC-JP") << QByteArray()
        << QStringLiteral("<title>日本語</title>");
    QTest::newRow("EUC-JP that the server calls UTF-8")
        << Encode(page, "EUC-JP") << QByteArray("text/html; charset=UTF-8") << page;
    QTest::newRow("quoted header charset")
        << Encode(page, "EUC-JP") << QByteArray("text/html; charset=\"euc-jp\"") << page;
    QTest::newRow("XML declaration")
        << Encode(QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><p>日本</p>"),
                  "Shift_JIS")
        << QByteArray() << QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><p>日本</p>");
    QTest::newRow("UTF-8 byte order mark")
        << QByteArray("\xEF\xBB\xBF") + page.toUtf8() << QByteArray("text/html; charset=Shift_JIS")
        << page;
    QTest::newRow("charset names in capitals")
        << Encode(page, "Shift_JIS") << QByteArray("TEXT/HTML; CHARSET=SHIFT_JIS") << page;
    const QString metaInCapitals = JapanesePage(QStringLiteral("<META CHARSET=\"EUC-JP\">"));
    QTest::newRow("meta charset in capitals")
        << Encode(metaInCapitals, "EUC-JP") << QByteArray("text/html") << metaInCapitals;
    // Shift_JIS reads these bytes without an error too, as half-width katakana.
    const QString hiragana = QStringLiteral("<p>あいうえおかきくけこさしすせそ</p>");
    QTest::newRow("EUC-JP or Shift_JIS: the score decides")
        << Encode(hiragana, "EUC-JP") << QByteArray() << hiragana;
    QTest::newRow("UTF-16 by the header, no byte order mark")
        << Encode(page, "UTF-16LE") << QByteArray("text/html; charset=utf-16") << page;
    QTest::newRow("UTF-16 big-endian by its byte order mark")
        << QByteArray("\xFE\xFF") + Encode(page, "UTF-16BE") << QByteArray() << page;
    // A page that declares UTF-16 in ASCII is not UTF-16: browsers read it as UTF-8.
    const QString metaUtf16 = JapanesePage(QStringLiteral("<meta charset=\"UTF-16\">"));
    QTest::newRow("UTF-16 declared in the page") << metaUtf16.toUtf8() << QByteArray() << metaUtf16;
    QTest::newRow("half a character in UTF-16")
        << Utf16LeBody(QStringLiteral("<p>a") + QChar(0xD800) + "b" + QChar(0xDC00) + "</p>"
                       + QString::fromUcs4(U"\U0001F600") + QChar(0xDBFF))
        << QByteArray() << QStringLiteral("<p>a\uFFFDb\uFFFD</p>") + QString::fromUcs4(U"\U0001F600") + QChar(0xFFFD);
    // The bytes are looked at in blocks: what decides may sit in any of them.
    const QString asciiLead = QStringLiteral("<p>") + QString(150, QLatin1Char('a')) + QStringLiteral("</p>");
    QTest::newRow("the only UTF-8 character far into the page")
        << (asciiLead + JapaneseText.left(1)).toUtf8() << QByteArray() << asciiLead + JapaneseText.left(1);
    QTest::newRow("ISO-2022-JP after a long ASCII start")
        << Encode(asciiLead + fullWidthOnly, "ISO-2022-JP") << QByteArray() << asciiLead + fullWidthOnly;
    QTest::newRow("half a character far into the page")
        << Utf16LeBody(asciiLead + QChar(0xDC00) + asciiLead) << QByteArray()
        << asciiLead + QChar(0xFFFD) + asciiLead;
    QTest::newRow("half a character first")
        << Utf16LeBody(QChar(0xDC00) + QStringLiteral("<p>a</p>")) << QByteArray() << QStringLiteral("\uFFFD<p>a</p>");

    // Bytes that both Japanese encodings read without an error, as kanji
    // either way: what the page says decides, and without a word Shift_JIS.
    const QByteArray kanji("\xE0\xA1\xE0\xA2\xE4\xA3\xE8\xB0");
    const QString asEuc = QStringLiteral("\u71F9\u71FF\u7B4D\u83AA");
    const QString asSjis = QStringLiteral("\u720D\u7210\u8331\u96B9");
    QTest::newRow("a tie between EUC-JP and Shift_JIS") << kanji << QByteArray() << asSjis;
    // Declarations written in capitals are declarations too.
    const QByteArray xmlInCapitals("<?XML VERSION=\"1.0\" ENCODING=\"EUC-JP\"?>");
    QTest::newRow("XML declaration in capitals")
        << xmlInCapitals + kanji << QByteArray() << QString::fromLatin1(xmlInCapitals) + asEuc;
    const QByteArray metaInMixedCase("<Meta ChArSeT=euc-jp>");
    QTest::newRow("meta charset in mixed case")
        << metaInMixedCase + kanji << QByteArray() << QString::fromLatin1(metaInMixedCase) + asEuc;
    for (const char *label : {"euc-jp", "x-euc-jp", "eucjp", "cseucpkdfmtjapanese", "'euc-jp'", "euc-jp\""})
        QTest::addRow("EUC-JP called %s", label) << kanji << "text/html; charset=" + QByteArray(label) << asEuc;
    // Half-width katakana in Shift_JIS read as kanji in EUC-JP.
    const QByteArray katakana("\xB1\xB2\xB3\xB4");
    for (const char *label : {"shift_jis", "shift-jis", "sjis", "x-sjis", "ms_kanji", "csshiftjis",
                              "windows-31j", "cp932", "ms932", "x-ms-cp932", "\"'Shift_JIS'\""})
        QTest::addRow("Shift_JIS called %s", label)
            << katakana << "text/html; charset=" + QByteArray(label) << QStringLiteral("\uFF71\uFF72\uFF73\uFF74");
    // Browsers read the Latin labels as windows-1252, whose 0x80 is the euro sign.
    for (const char *label : {"iso-8859-1", "iso8859-1", "latin1", "us-ascii", "ascii", "ISO-8859-1", "'latin1'"})
        QTest::addRow("windows-1252 called %s", label)
            << QByteArray("caf\xE9 \x80") << "text/html; charset=" + QByteArray(label) << QStringLiteral("caf\u00E9 \u20AC");
    QTest::newRow("UTF-8 byte order mark beats a Latin declaration")
        << QByteArray("\xEF\xBB\xBF" "caf\xC3\xA9") << QByteArray("text/html; charset=iso-8859-1")
        << QStringLiteral("caf\u00E9");
    QTest::newRow("windows-1252 called ISO-8859-1 in the page")
        << QByteArray("<meta charset=ISO-8859-1>caf\xE9 \x80") << QByteArray("text/html")
        << QStringLiteral("<meta charset=ISO-8859-1>caf\u00E9 \u20AC");
}

void tst_Transfer::japaneseScore_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("score");
    // Each class of characters at both its edges, and the neighbours outside.
    QTest::newRow("hiragana") << QStringLiteral("\u3041\u309F") << 4;
    QTest::newRow("katakana") << QStringLiteral("\u30A0\u30FF") << 2;
    QTest::newRow("kanji") << QStringLiteral("\u4E00\u9FFF") << 2;
    QTest::newRow("Japanese punctuation") << QStringLiteral("\u3000\u303F") << 2;
    QTest::newRow("full-width forms") << QStringLiteral("\uFF01\uFF5E") << 2;
    QTest::newRow("half-width katakana") << QStringLiteral("\uFF61\uFF9F") << -4;
    QTest::newRow("private use") << QStringLiteral("\uE000\uF8FF") << -8;
    QTest::newRow("replacement, substitute") << QStringLiteral("\uFFFD\u001A") << -8;
    QTest::newRow("C1 controls") << QStringLiteral("\u0080\u009F") << -8;
    QTest::newRow("neighbours that count for nothing")
        << QStringLiteral("\u3040\u3100\u4DFF\uA000\u2FFF\uFF00\uFF5F\uFF60\uFFA0\uF900\uFFFC\u007F\u00A0a")
        << 0;
}

void tst_Transfer::japaneseScore()
{
    QFETCH(QString, text);
    QTEST(kiro::JapaneseTextScore(text), "score");
}

void tst_Transfer::detectionWithoutDeclaration()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, expected);
    QCOMPARE(kiro::DecodePageText(body, contentType), expected);
}

void tst_Transfer::keptConnectionIsReused()
{
    const QString folder = NewFolder();
    const int before = m_kept.acceptedConnections();
    Getter g;
    const QStringList targets{"/file/2048", "/file/chunked", "/file/moved", "/err/404", "/file/2048"};
    const QList<bool> fails{false, false, false, true, false};
    QList<QList<int>> statesOf;
    for (int i = 0; i < targets.size(); ++i) {
        g.states.clear();
        g.SavePath = folder + QStringLiteral("/f%1.bin").arg(i);
        QCOMPARE(g.Fetch(m_kept.url(targets.at(i)).toString(), TransferMode::File),
                 GetterRig::WaitResult::Done);
        QVERIFY2(g.LastFailed() == fails.at(i), qPrintable(g.errorString));
        QCOMPARE(g.terminalStates(), 1);
        statesOf.append(g.states);
    }
    QCOMPARE(g.Fetch(m_kept.url("/text/chunked").toString(), TransferMode::PageText),
             GetterRig::WaitResult::Done);
    QVERIFY(!g.LastFailed());
    QCOMPARE(g.vars.HtmlText, JapanesePage(QString()));

    // Everything went over one connection, the error's short page too.
    QCOMPARE(m_kept.acceptedConnections() - before, 1);
    // The address is looked up once.
    QCOMPARE(statesOf.at(0), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 12}));
    QCOMPARE(statesOf.at(1), (QList<int>{5, 6, 7, 8, 12}));
    // A redirect is a second request on the same connection.
    QCOMPARE(statesOf.at(2), (QList<int>{5, 6, 7, 8, 5, 6, 7, 8, 12}));
    QCOMPARE(statesOf.at(3), (QList<int>{5, 6, 7, 11}));
    QCOMPARE(statesOf.at(4), (QList<int>{5, 6, 7, 8, 12}));
    QVERIFY(FileBytes(folder + "/f1.bin") == TestServer::generatedBody(3 * 1024 * 1024 + 5));
    QVERIFY(FileBytes(folder + "/f2.bin") == TestServer::generatedBody(2048));
    QCOMPARE(FolderEntries(folder), (QStringList{"f0.bin", "f1.bin", "f2.bin", "f4.bin"}));
}

void tst_Transfer::framedBodies_data()
{
    QTest::addColumn<TestResponse>("response");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("body");

    const QByteArray page = JapanesePage(QString()).toUtf8();
    auto raw = [](const QByteArray &wire) {
        // Framing written by hand; the body ends with the connection.
        return TestResponse::bytes(wire).withoutContentLength().withHeader("Transfer-Encoding",
                                                                           "chunked");
    };
    QTest::newRow("chunked file") << TestResponse::generated(1000 * 1000 + 1).chunked() << 3 << true
                                  << TestServer::generatedBody(1000 * 1000 + 1);
    QTest::newRow("chunked, empty") << TestResponse::bytes(QByteArray()).chunked() << 3 << true
                                    << QByteArray();
    QTest::newRow("chunk extensions and trailer")
        << raw("4;x=1\r\nabcd\r\n2\r\nef\r\n0\r\nX-Sum: 1\r\n\r\n") << 3 << true
        << QByteArray("abcdef");
    QTest::newRow("bad chunk size") << raw("zz\r\nabc\r\n0\r\n\r\n") << 3 << false << QByteArray();
    QTest::newRow("chunk longer than announced")
        << raw("2\r\nabcd\r\n0\r\n\r\n") << 3 << false << QByteArray();
    QTest::newRow("closed inside a chunk") << raw("10\r\nabc") << 3 << false << QByteArray();
    QTest::newRow("closed before the last chunk") << raw("3\r\nabc\r\n") << 3 << false
                                                  << QByteArray();
    QTest::newRow("no length: until close") << TestResponse::bytes("0123456789").withoutContentLength()
                                            << 3 << true << QByteArray("0123456789");
    QTest::newRow("204: no body") << TestResponse::status(204) << 3 << true << QByteArray();
    QTest::newRow("chunked page") << TestResponse::page(page).chunked() << 1 << true << page;
    // What qCompress() makes is a zlib stream after four bytes of length.
    QTest::newRow("deflated page")
        << TestResponse::page(qCompress(page).mid(4)).withHeader("Content-Encoding", "deflate") << 1
        << true << page;
    QTest::newRow("broken deflated page")
        << TestResponse::page("not deflated at all").withHeader("Content-Encoding", "deflate") << 1
        << false << QByteArray();
}

void tst_Transfer::framedBodies()
{
    QFETCH(TestResponse, response);
    QFETCH(int, mode);
    QFETCH(bool, ok);
    QFETCH(QByteArray, body);

    for (TestServer *server : {&m_http, &m_kept}) {
        server->addRoute("/framed", response);
        const QString folder = NewFolder();
        Getter g;
        g.SavePath = folder + QStringLiteral("/get.bin");
        QCOMPARE(g.Fetch(server->url("/framed").toString(), TransferMode(mode)),
                 GetterRig::WaitResult::Done);
        QCOMPARE(g.terminalStates(), 1);
        QVERIFY2(g.LastFailed() != ok, qPrintable(g.errorString));
        if (mode == 3) {
            QCOMPARE(FolderEntries(folder), ok ? QStringList{"get.bin"} : QStringList());
            if (ok)
                QVERIFY(FileBytes(g.SavePath) == body);
        } else if (ok) {
            QCOMPARE(g.vars.HtmlText, QString::fromUtf8(body));
        }
        server->removeRoute("/framed");
    }
}

void tst_Transfer::droppedKeptConnectionIsRetried()
{
    const QString folder = NewFolder();
    const int before = m_kept.acceptedConnections();
    const int askedBefore = m_kept.requestCount("/file/dropped");
    Getter g;
    g.SavePath = folder + QStringLiteral("/a.bin");
    QCOMPARE(g.Fetch(m_kept.url("/file/2048").toString(), TransferMode::File), GetterRig::WaitResult::Done);
    QVERIFY(!g.LastFailed());
    g.SavePath = folder + QStringLiteral("/b.bin");
    g.states.clear();
    QCOMPARE(g.Fetch(m_kept.url("/file/dropped").toString(), TransferMode::File),
             GetterRig::WaitResult::Done);
    QVERIFY2(!g.LastFailed(), qPrintable(g.errorString));
    QCOMPARE(g.terminalStates(), 1);
    QVERIFY(FileBytes(g.SavePath) == TestServer::generatedBody(3000));
    // Asked on the kept connection, which the server closed, then on a new one.
    QCOMPARE(m_kept.requestCount("/file/dropped") - askedBefore, 2);
    QCOMPARE(m_kept.acceptedConnections() - before, 2);
}

void tst_Transfer::closingServerGetsNewConnections()
{
    const QString folder = NewFolder();
    const int before = m_http.acceptedConnections();
    Getter g;
    for (int i = 0; i < 3; ++i) {
        g.states.clear();
        g.SavePath = folder + QStringLiteral("/f%1.bin").arg(i);
        QCOMPARE(g.Fetch(m_http.url("/file/2048").toString(), TransferMode::File),
                 GetterRig::WaitResult::Done);
        QVERIFY(!g.LastFailed());
        // The first request looks the address up; the connection is closed
        // after every answer.
        QCOMPARE(g.states, i == 0 ? (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12})
                                  : (QList<int>{3, 4, 5, 6, 7, 8, 9, 10, 12}));
    }
    // Each state is told in the status bar.
    const QStringList told{
        QStringLiteral("ホストとの接続処理を行っています．"), QStringLiteral("ホストと正常に接続しました．"),
        QStringLiteral("ホストに要求を送信しています．"), QStringLiteral("正常に送信しました．"),
        QStringLiteral("ホストからの応答を受信しています．"), QStringLiteral("ホストからの応答を正常に受信しました．"),
        QStringLiteral("ホストとの接続を解除しています．"), QStringLiteral("ホストとの接続を正常に解除しました．"),
        QStringLiteral("要求処理が完了し，すべてのデータが受信されました．")};
    for (const QString &text : told)
        QVERIFY2(g.sink.statusLog.contains(text), qPrintable(text));
    QCOMPARE(g.sink.statusLog.last(), told.last());
    QCOMPARE(m_http.acceptedConnections() - before, 3);
    QTRY_COMPARE(m_http.openConnections(), 0);
}

void tst_Transfer::redirectToHttps()
{
    if (!m_https)
        QSKIP("no TLS backend");
    m_http.addRedirect("/to-https", m_https->url("/secure.bin").toEncoded(), 302);
    const QString folder = NewFolder();
    Getter g;
    g.SavePath = folder + QStringLiteral("/plain.bin");
    QCOMPARE(g.Fetch(m_http.url("/to-https").toString(), TransferMode::File), GetterRig::WaitResult::Done);
    QVERIFY2(!g.LastFailed(), qPrintable(g.errorString));
    QVERIFY(g.states.contains(Inet::StateConnected));
    QVERIFY(FileBytes(g.SavePath) == TestServer::generatedBody(3 * 1024 * 1024 + 7));
    QCOMPARE(FolderEntries(folder), QStringList{QStringLiteral("plain.bin")});
}

QTEST_GUILESS_MAIN(tst_Transfer)
#include "tst_transfer.moc"
