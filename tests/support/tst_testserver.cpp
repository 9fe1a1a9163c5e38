#include "TestServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(TestResponse)

class TestServerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void routesAndHeaders();
    void statusCodes_data();
    void statusCodes();
    void redirects();
    void redirectLoop();
    void truncatedBodies_data();
    void truncatedBodies();
    void stallHoldsUntilReleased();
    void slowBodyArrivesInPieces();
    void largeGeneratedBody();
    void concurrentRequests_data();
    void concurrentRequests();
    void https();
    void destroyedWithOpenSockets();
    void wireSwitches_data();
    void wireSwitches();
    void sequencesAndRequiredHeaders();
    void compressedBodies();
    void cleanupTestCase();

private:
    std::unique_ptr<QNetworkReply> get(const QUrl &url, const QByteArray &acceptEncoding = {});
    static bool waitFinished(QNetworkReply *reply);

    QNetworkAccessManager m_nam;
};

std::unique_ptr<QNetworkReply> TestServerTest::get(const QUrl &url, const QByteArray &acceptEncoding)
{
    QNetworkRequest request(url);
    if (!acceptEncoding.isEmpty())
        request.setRawHeader("Accept-Encoding", acceptEncoding);
    return std::unique_ptr<QNetworkReply>(m_nam.get(request));
}

bool TestServerTest::waitFinished(QNetworkReply *reply)
{
    if (reply->isFinished())
        return true;
    QSignalSpy spy(reply, &QNetworkReply::finished);
    return spy.wait(20000);
}

void TestServerTest::routesAndHeaders()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QCOMPARE(server.baseUrl(), QStringLiteral("http://127.0.0.1:%1").arg(server.port()));

    server.addPage("/p.html", "<p>plain</p>", "text/html; charset=Shift_JIS");
    server.addRoute("/q?x=1", TestResponse::bytes("one").withHeader("X-Test", "yes"));
    server.addRouteAnyQuery("/q", TestResponse::bytes("any"));

    auto page = get(server.url("/p.html"), "identity");
    QVERIFY(waitFinished(page.get()));
    QCOMPARE(page->error(), QNetworkReply::NoError);
    QCOMPARE(page->readAll(), QByteArray("<p>plain</p>"));
    QCOMPARE(page->header(QNetworkRequest::ContentTypeHeader).toString(),
             QStringLiteral("text/html; charset=Shift_JIS"));
    QCOMPARE(server.lastRequestHeader("/p.html", "accept-encoding"), QByteArray("identity"));
    QCOMPARE(server.lastRequestHeaders("/p.html").value("host"),
             QByteArray("127.0.0.1:") + QByteArray::number(server.port()));

    auto exact = get(server.url("/q?x=1"));
    auto other = get(server.url("/q?x=2"));
    auto bare = get(server.url("/q"));
    QVERIFY(waitFinished(exact.get()) && waitFinished(other.get()) && waitFinished(bare.get()));
    QCOMPARE(exact->readAll(), QByteArray("one"));
    QCOMPARE(exact->rawHeader("X-Test"), QByteArray("yes"));
    QCOMPARE(other->readAll(), QByteArray("any"));
    QCOMPARE(bare->readAll(), QByteArray("any"));

    auto missing = get(server.url("/nothing"));
    QVERIFY(waitFinished(missing.get()));
    QCOMPARE(missing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    QVERIFY(missing->readAll().contains("Not Found"));

    QCOMPARE(server.requestCount("/q?x=1"), 1);
    QCOMPARE(server.requestCount("/q?x=2"), 1);
    QCOMPARE(server.requestCount("/q"), 1);
    QCOMPARE(server.requestCount("/nothing"), 1);
    QCOMPARE(server.totalRequests(), 5);
    QCOMPARE(server.requestLog().constFirst().method, QByteArray("GET"));

    server.clearRequestLog();
    QCOMPARE(server.totalRequests(), 0);
    QCOMPARE(server.requestCount("/p.html"), 0);
}

void TestServerTest::statusCodes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("expectedBody");

    QTest::newRow("404 with body") << 404 << QByteArray("<b>gone</b>") << QByteArray("<b>gone</b>");
    QTest::newRow("500 with body") << 500 << QByteArray("<b>oops</b>") << QByteArray("<b>oops</b>");
    QTest::newRow("304 carries no body") << 304 << QByteArray("ignored") << QByteArray();
}

void TestServerTest::statusCodes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, expectedBody);

    TestServer server;
    server.addRoute("/s", TestResponse::status(status, body));
    auto reply = get(server.url("/s"));
    QVERIFY(waitFinished(reply.get()));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(reply->readAll(), expectedBody);
}

void TestServerTest::redirects()
{
    TestServer server;
    server.addRedirect("/a", "/b", 301);
    server.addRedirect("/b", server.url("/c").toEncoded(), 302);
    server.addPage("/c", "end");

    auto followed = get(server.url("/a"));
    QVERIFY(waitFinished(followed.get()));
    QCOMPARE(followed->error(), QNetworkReply::NoError);
    QCOMPARE(followed->url(), server.url("/c"));
    QCOMPARE(followed->readAll(), QByteArray("end"));
    // Qt's own redirect following may send a hop twice, so only hop by hop counts exactly.
    server.clearRequestLog();
    QNetworkRequest request(server.url("/a"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> hop(m_nam.get(request));
    QVERIFY(waitFinished(hop.get()));
    QCOMPARE(hop->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 301);
    QCOMPARE(hop->rawHeader("Location"), QByteArray("/b"));
    QCOMPARE(server.requestCount("/a"), 1);
    QCOMPARE(server.totalRequests(), 1);
}

void TestServerTest::redirectLoop()
{
    TestServer server;
    server.addRedirect("/loop1", "/loop2");
    server.addRedirect("/loop2", "/loop1");

    auto reply = get(server.url("/loop1"));
    QVERIFY(waitFinished(reply.get()));
    QCOMPARE(reply->error(), QNetworkReply::TooManyRedirectsError);
    QVERIFY(server.requestCount("/loop1") > 1);
    QVERIFY(server.requestCount("/loop2") > 1);
}

void TestServerTest::truncatedBodies_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<bool>("tls");
    QTest::newRow("reset") << true << false;
    QTest::newRow("clean close") << false << false;
    QTest::newRow("reset over TLS") << true << true;
    QTest::newRow("clean close over TLS") << false << true;
}

void TestServerTest::truncatedBodies()
{
    QFETCH(bool, reset);
    QFETCH(bool, tls);
    if (tls && !TestServer::tlsAvailable())
        QSKIP("no TLS backend");
    TestServer::trustTestCertificate();

    TestServer server(tls ? TestServer::Https : TestServer::Http);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    TestResponse response = TestResponse::generated(100000);
    server.addRoute("/cut", reset ? response.resetAfter(1000) : response.closeAfter(1000));

    auto reply = get(server.url("/cut"));
    QVERIFY(waitFinished(reply.get()));
    QVERIFY2(reply->error() != QNetworkReply::NoError, "a short body must be an error");
    const QByteArray got = reply->readAll();
    QVERIFY(got.size() <= 1000);
    QCOMPARE(got, TestServer::generatedBody(got.size()));
    QTRY_COMPARE(server.openConnections(), 0);
}

void TestServerTest::stallHoldsUntilReleased()
{
    TestServer server;
    server.addRoute("/stall", TestResponse::generated(5000).stallAfter(100));

    auto reply = get(server.url("/stall"));
    QSignalSpy headers(reply.get(), &QNetworkReply::metaDataChanged);
    QVERIFY(headers.wait(10000));
    QTRY_COMPARE(reply->bytesAvailable(), qint64(100));
    // The connection holds while the event loop runs on: nothing else arrives.
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    QVERIFY(!finished.wait(300));
    QCOMPARE(reply->bytesAvailable(), qint64(100));
    QCOMPARE(server.openConnections(), 1);

    server.releaseStalled();
    QVERIFY(waitFinished(reply.get()));
    QCOMPARE(reply->readAll(), TestServer::generatedBody(100));
    QTRY_COMPARE(server.openConnections(), 0);
}

void TestServerTest::slowBodyArrivesInPieces()
{
    TestServer server;
    server.addRoute("/slow", TestResponse::generated(200).slow(20, 10));

    auto reply = get(server.url("/slow"));
    QByteArray got;
    int pieces = 0;
    connect(reply.get(), &QNetworkReply::readyRead, this, [&] {
        got += reply->readAll();
        ++pieces;
    });
    QVERIFY(waitFinished(reply.get()));
    got += reply->readAll();
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(got, TestServer::generatedBody(200));
    QVERIFY2(pieces > 1, "a slow body must not arrive in one piece");
}

void TestServerTest::largeGeneratedBody()
{
    constexpr qint64 size = 20 * 1024 * 1024;
    TestServer server;
    server.addRoute("/big.bin", TestResponse::generated(size));

    auto reply = get(server.url("/big.bin"), "identity");
    reply->setReadBufferSize(1024 * 1024);
    qint64 received = 0;
    bool same = true;
    connect(reply.get(), &QNetworkReply::readyRead, this, [&] {
        const QByteArray piece = reply->readAll();
        same = same && piece == TestServer::generatedBody(received, piece.size());
        received += piece.size();
    });
    QVERIFY(waitFinished(reply.get()));
    const QByteArray rest = reply->readAll();
    same = same && rest == TestServer::generatedBody(received, rest.size());
    received += rest.size();
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(), size);
    QCOMPARE(received, size);
    QVERIFY(same);
}

void TestServerTest::concurrentRequests_data()
{
    QTest::addColumn<bool>("keepAlive");
    QTest::newRow("close") << false;
    QTest::newRow("keep-alive") << true;
}

void TestServerTest::concurrentRequests()
{
    QFETCH(bool, keepAlive);
    TestServer server;
    server.setKeepAlive(keepAlive);
    server.addRouteAnyQuery("/n", TestResponse::generated(300000).slow(100000, 5));
    std::vector<std::unique_ptr<QNetworkReply>> replies;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 8; ++i)
            replies.push_back(get(server.url(QStringLiteral("/n?r=%1&i=%2").arg(round).arg(i))));
        for (auto &reply : replies) {
            QVERIFY(waitFinished(reply.get()));
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QCOMPARE(reply->readAll(), TestServer::generatedBody(300000));
        }
        replies.clear();
    }
    QVERIFY(server.waitForRequests(16, 0));
    QCOMPARE(server.totalRequests(), 16);
}

void TestServerTest::https()
{
    if (!TestServer::tlsAvailable())
        QSKIP("no TLS backend");
    TestServer server(TestServer::Https);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QVERIFY(server.baseUrl().startsWith("https://127.0.0.1:"));
    server.addPage("/secure.html", "secret");

    TestServer::distrustTestCertificate();
    {
        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(server.url("/secure.html"))));
        QVERIFY(waitFinished(reply.get()));
        QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
    }

    TestServer::trustTestCertificate();
    {
        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(server.url("/secure.html"))));
        QVERIFY(waitFinished(reply.get()));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray("secret"));
    }
    QCOMPARE(server.requestCount("/secure.html"), 1);
}

void TestServerTest::destroyedWithOpenSockets()
{
    auto server = std::make_unique<TestServer>();
    server->addRoute("/stall", TestResponse::generated(1000).stallAfter());
    server->addRoute("/slow", TestResponse::generated(1000).slow(1, 50));
    auto stalled = get(server->url("/stall"));
    auto slow = get(server->url("/slow"));
    QVERIFY(server->waitForRequests(2));
    QVERIFY(server->openConnections() >= 2);

    server.reset();
    QVERIFY(waitFinished(stalled.get()));
    QVERIFY(waitFinished(slow.get()));
    // Qt may call such a reply a success; only its length tells (see TestServer.h).
    QVERIFY(stalled->readAll().size() < 1000);
    QVERIFY(slow->readAll().size() < 1000);
}

namespace {

// What the server puts on the wire for one raw request; the server closes the
// connection after the answer.
QByteArray Exchange(const TestServer &server, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    if (!socket.waitForConnected(5000))
        return "<no connection>";
    socket.write(request);
    QByteArray wire;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        wire += socket.readAll();
    return wire + socket.readAll();
}

QByteArray Get(const QByteArray &target, const QByteArray &headers = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

} // namespace

void TestServerTest::wireSwitches_data()
{
    QTest::addColumn<TestResponse>("response");
    QTest::addColumn<QByteArray>("requestHeaders");
    QTest::addColumn<QList<QByteArray>>("parts");   // in this order on the wire

    QTest::newRow("length and chunked")
        << TestResponse::bytes("abcdef").chunkedWithContentLength() << QByteArray()
        << QList<QByteArray>{"Transfer-Encoding: chunked\r\n", "Content-Length: 6\r\n",
                             "\r\n\r\n6\r\nabcdef\r\n0\r\n\r\n"};
    QTest::newRow("chunk extension and trailers")
        << TestResponse::bytes("abc").chunked().withChunkExtension(";x=1").withTrailer("X-Sum", "9")
        << QByteArray() << QList<QByteArray>{"\r\n\r\n3;x=1\r\nabc\r\n0;x=1\r\nX-Sum: 9\r\n\r\n"};
    QTest::newRow("interim answers")
        << TestResponse::bytes("ok").afterInterimAnswers(2) << QByteArray()
        << QList<QByteArray>{"HTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 200 OK\r\n"};
    QTest::newRow("head in single bytes")
        << TestResponse::bytes("body").headInSingleBytes() << QByteArray()
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\n", "\r\n\r\nbody"};
    QTest::newRow("range asked")
        << TestResponse::bytes("0123456789").withRanges().withHeader("ETag", "\"e\"")
        << QByteArray("Range: bytes=4-\r\nIf-Range: \"e\"\r\n")
        << QList<QByteArray>{"HTTP/1.1 206 ", "Content-Length: 6\r\n", "Content-Range: bytes 4-9/10\r\n",
                             "Accept-Ranges: bytes\r\n", "\r\n\r\n456789"};
    QTest::newRow("range of a changed resource")
        << TestResponse::bytes("0123456789").withRanges().withHeader("ETag", "\"new\"")
        << QByteArray("Range: bytes=4-\r\nIf-Range: \"old\"\r\n")
        << QList<QByteArray>{"HTTP/1.1 200 ", "Content-Length: 10\r\n", "\r\n\r\n0123456789"};
    QTest::newRow("range without ranges")
        << TestResponse::bytes("0123456789") << QByteArray("Range: bytes=4-\r\n")
        << QList<QByteArray>{"HTTP/1.1 200 ", "\r\n\r\n0123456789"};
}

void TestServerTest::wireSwitches()
{
    QFETCH(TestResponse, response);
    QFETCH(QByteArray, requestHeaders);
    QFETCH(QList<QByteArray>, parts);

    TestServer server;
    server.addRoute("/w", response);
    const QByteArray wire = Exchange(server, Get("/w", requestHeaders));
    qsizetype at = 0;
    for (const QByteArray &part : parts) {
        const qsizetype found = wire.indexOf(part, at);
        QVERIFY2(found >= 0, QByteArray(part + " not in order in: " + wire).constData());
        at = found + part.size();
    }
}

void TestServerTest::sequencesAndRequiredHeaders()
{
    TestServer server;
    server.addSequence("/seq", {TestResponse::status(503).withHeader("Retry-After", "1"),
                                TestResponse::bytes("second"), TestResponse::bytes("third")});
    QVERIFY(Exchange(server, Get("/seq")).startsWith("HTTP/1.1 503 "));
    QVERIFY(Exchange(server, Get("/seq")).endsWith("second"));
    QVERIFY(Exchange(server, Get("/seq")).endsWith("third"));
    QVERIFY(Exchange(server, Get("/seq")).endsWith("third"));
    server.clearRequestLog();
    QVERIFY(Exchange(server, Get("/seq")).startsWith("HTTP/1.1 503 "));

    server.addRoute("/members", TestResponse::bytes("in").requiringHeader("Cookie", "id=7")
                                    .requiringHeader("Referer", "/index.html"));
    QVERIFY(Exchange(server, Get("/members")).startsWith("HTTP/1.1 403 "));
    QVERIFY(Exchange(server, Get("/members", "Cookie: a=1; id=7\r\n")).startsWith("HTTP/1.1 403 "));
    QVERIFY(Exchange(server, Get("/members", "Cookie: a=1; id=7\r\nReferer: http://h/index.html\r\n"))
                .endsWith("\r\n\r\nin"));
}

void TestServerTest::compressedBodies()
{
    const QByteArray text = QByteArray("compress me, compress me, compress me. ").repeated(100);
    const QByteArray gz = TestServer::gzip(text);
    QVERIFY(gz.startsWith("\x1f\x8b\x08"));
    QVERIFY(gz.size() < text.size() / 4);
    // A gzip member is the raw stream between a 10-byte head and an 8-byte tail.
    const QByteArray raw = TestServer::deflateRaw(text);
    QCOMPARE(raw, gz.mid(10, gz.size() - 18));
    QCOMPARE(TestServer::deflateRaw(QByteArray()), QByteArray("\x03\x00", 2));
    const QByteArray bomb = TestServer::gzipBomb(100 * 1000 * 1000);
    QVERIFY(bomb.size() < 1000 * 1000);
    QCOMPARE(bomb.right(4), QByteArray("\x00\xe1\xf5\x05", 4));   // the size, little-endian
}

// Qt's client keeps the connections it has used, TLS state included, on a
// thread of its own; they are closed here while the program still runs, so
// that nothing of them is left for the exit to drop half-way.
void TestServerTest::cleanupTestCase()
{
    m_nam.clearConnectionCache();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTEST_GUILESS_MAIN(TestServerTest)
#include "tst_testserver.moc"
