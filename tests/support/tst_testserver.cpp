#include "TestServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

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

QTEST_GUILESS_MAIN(TestServerTest)
#include "tst_testserver.moc"
