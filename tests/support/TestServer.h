#pragma once

// TestServer: a small HTTP/1.1 server on 127.0.0.1 for the tests.
//
//   TestServer server;                         // plain HTTP; TestServer server(TestServer::Https) for TLS
//   QVERIFY2(server.isListening(), qPrintable(server.errorString()));
//   server.addPage("/index.html", "<a href=a.jpg>a</a>");            // 200, text/html
//   server.addRoute("/a.jpg", TestResponse::bytes(data, "image/jpeg"));
//   server.addRoute("/p?x=1", TestResponse::page("...", "text/html; charset=Shift_JIS"));
//   QUrl url = server.url("/index.html");      // http://127.0.0.1:PORT/index.html
//   QString base = server.baseUrl();           // "http://127.0.0.1:PORT", no trailing slash
//
// Routes
//   addRoute(target, response) matches the request target exactly (path plus query, as
//   sent on the wire, so percent-escapes must be written as the client sends them;
//   non-ASCII characters and spaces in `target` are percent-encoded as UTF-8 for you).
//   addRouteAnyQuery(path, response) matches the path whatever query follows; an exact
//   route wins over it. Anything else gets 404 with a small HTML body. Routes may be
//   replaced or removed at any time (removeRoute, clearRoutes).
//   A response has a status, a body (or a generated body), a Content-Type (default
//   "text/html") and extra headers:
//     TestResponse::page(body, contentType = "text/html")
//     TestResponse::bytes(body, contentType = "application/octet-stream")
//     TestResponse::status(500, "<html>...</html>")     // 304 and 204 never carry a body
//     TestResponse::redirect("/b", 302)                 // Location: /b, no body; or an absolute
//                                                       // URL; 301/302/303/307/308
//     TestResponse::generated(20 * 1024 * 1024)         // body of that size, made on the fly;
//                                                       // expected bytes: TestServer::generatedBody()
//     TestResponse::raw("HTTP/1.1 200 OK\r\n...")     // these bytes as they stand, then a close:
//                                                       // answers no well-behaved server gives
//     .withHeader("Last-Modified", "...")               // any extra header, chainable
//     .withoutContentLength()                           // body ends when the connection closes
//     .chunked()                                        // Transfer-Encoding: chunked, no Content-Length
//   TestResponse is a plain struct: its fields may be set directly too.
//   A redirect loop is just two routes that redirect to each other (or one to itself).
//   addRedirect(from, to, status) is shorthand.
//
// Faults (chainable on a TestResponse)
//   .resetAfter(n)      headers announcing the full length, n body bytes, then the connection
//                       is reset (RST): the client sees an error and at most n bytes.
//   .closeAfter(n)      headers announcing the full length, n body bytes, then a clean close:
//                       the client sees a body shorter than Content-Length.
//   .stallAfter(n = 0)  headers and n body bytes, then nothing; the socket stays open until
//                       releaseStalled() or the server's destruction.
//   .slow(bytes, ms)    the body in pieces of `bytes`, one every `ms` milliseconds.
//   .droppedWhenReused() asked on a keep-alive connection that already served a request,
//                       the request is recorded and the connection closed unanswered (a
//                       server ending an idle connection as the request comes); asked on a
//                       fresh connection, it is answered normally.
//   Faults combine with .withoutContentLength(): e.g. a body that ends with the
//   connection, ended by a reset.
//
// Framing and protocol switches (chainable)
//   .chunkedWithContentLength()   Transfer-Encoding: chunked and a Content-Length, body chunked
//   .withChunkExtension(";a=1")   every chunk-size line carries it
//   .withTrailer(name, value)     a trailer field after the last chunk
//   .headInSingleBytes()          the response head goes out one byte per write
//   .afterInterimAnswers(n)       n interim "102 Processing" answers before the response
//   .withRanges()                 "Range: bytes=N-" (and N-M) gets 206 with Content-Range from
//                                 offset N, unless If-Range names another ETag/Last-Modified
//                                 than the response's own headers; says Accept-Ranges: bytes
//   .requiringHeader(name, part)  403 unless the request's header holds `part` (a cookie,
//                                 a Referer)
//   addSequence(target, {r1, r2, ...}) answers the n-th request for target with rn; the last
//                                 one answers every later request (a 503 then a 200, a cut
//                                 body then its continuation). n is requestCount(target), so
//                                 clearRequestLog() starts the sequence over.
//
// Bodies for Content-Encoding tests
//   TestServer::gzip(data)          one gzip member; concatenate two for a two-member body
//   TestServer::deflateRaw(data)    a deflate stream without zlib framing
//   TestServer::gzipBomb(size)      a gzip member that inflates to `size` zero bytes, made
//                                   bit by bit (about 1/1000 of its size; its CRC is not
//                                   computed, so only a decoder that stops early finishes it)
//   releaseStalled() and the destructor reset (RST) every connection still open.
//   Beware: Qt 6.4's QNetworkReply reports a body cut short right after it began
//   (resetAfter/closeAfter) as RemoteHostClosedError, but one cut after a pause (a
//   released stall) now and then as NoError with fewer bytes than Content-Length, and
//   it may silently send the GET again on a fresh connection. Code that must notice a
//   short body compares the bytes received with Content-Length itself.
//
// Requests seen (recorded when the request head has arrived, before any answer)
//   requestCount(target), totalRequests(), lastRequestHeaders(target) (names in lower case),
//   lastRequestHeader(target, "Accept-Encoding"), requestLog() (every request, in order),
//   clearRequestLog(). Counts use the target as requested, with its query.
//   waitForRequests(total, timeoutMs) runs the event loop until that many requests came.
//   openConnections() counts sockets not yet closed: idle keep-alive ones and ones a client
//   opened but has sent nothing on (yet) included. acceptedConnections() counts every
//   connection accepted since the server started.
//
// Connections: by default every response says "Connection: close" and the server closes
// the connection after it.
// setKeepAlive(true) keeps HTTP/1.1 connections open for further requests instead (never
// closed by the server while idle); a fault, a body without Content-Length, a client's
// "Connection: close", HTTP/1.0 or a request with a body still end the connection.
// Request bodies are ignored; HEAD gets the headers only.
//
// Qt 6.4's QNetworkAccessManager, when it follows redirects itself, now and then sends a
// hop of the chain twice (seen with this server and with others, more often with
// keep-alive). Requesting hop by hop with QNetworkRequest::ManualRedirectPolicy gives
// exact counts. Count requests of a redirect chain with that in mind.
//
// The server runs in its own thread, so it keeps answering even while the test thread is
// blocked; its API may be called from the thread that created it. Destroying it closes
// every connection, stalled ones included.
//
// TLS
//   TestServer::tlsAvailable() tells whether Qt's TLS backend loaded (QSKIP otherwise).
//   TestServer server(TestServer::Https) serves with the certificate in tests/support/data
//   (CN 127.0.0.1, subjectAltName IP:127.0.0.1 and DNS:localhost). Call
//   TestServer::trustTestCertificate() once (e.g. in initTestCase) so that the process's
//   default QSslConfiguration, and so QNetworkAccessManager, trusts it;
//   distrustTestCertificate() takes it out again to test a TLS failure.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

struct TestResponse
{
    enum class Fault { None, ResetAfter, CloseAfter, StallAfter };

    int statusCode = 200;
    QByteArray body;
    qint64 generatedSize = -1;              // >= 0: serve generatedBody(generatedSize) instead of body
    QByteArray contentType = "text/html";
    QList<QPair<QByteArray, QByteArray>> headers;
    bool sendContentLength = true;
    Fault fault = Fault::None;
    qint64 faultAfterBytes = 0;
    int slowChunkBytes = 0;                 // > 0: slow body
    int slowDelayMs = 0;
    bool chunkedBody = false;
    bool dropWhenReused = false;
    bool lengthWithChunked = false;
    QByteArray chunkExtension;
    QList<QPair<QByteArray, QByteArray>> trailers;
    bool headByteByByte = false;
    int interimAnswers = 0;
    bool ranges = false;
    QList<QPair<QByteArray, QByteArray>> requiredHeaders;
    qint64 rangeOffset = 0;                 // set by the server for a 206
    QByteArray rawAnswer;                   // not empty: sent as it stands, then a close

    static TestResponse page(const QByteArray &body, const QByteArray &contentType = "text/html");
    static TestResponse bytes(const QByteArray &body,
                              const QByteArray &contentType = "application/octet-stream");
    static TestResponse status(int statusCode, const QByteArray &body = QByteArray());
    static TestResponse redirect(const QByteArray &location, int statusCode = 302);
    static TestResponse generated(qint64 size,
                                  const QByteArray &contentType = "application/octet-stream");
    static TestResponse raw(const QByteArray &answer);

    TestResponse &withHeader(const QByteArray &name, const QByteArray &value);
    TestResponse &withoutContentLength();
    TestResponse &resetAfter(qint64 bytes);
    TestResponse &closeAfter(qint64 bytes);
    TestResponse &stallAfter(qint64 bytes = 0);
    TestResponse &slow(int chunkBytes, int delayMs);
    TestResponse &chunked();
    TestResponse &droppedWhenReused();
    TestResponse &chunkedWithContentLength();
    TestResponse &withChunkExtension(const QByteArray &extension);
    TestResponse &withTrailer(const QByteArray &name, const QByteArray &value);
    TestResponse &headInSingleBytes();
    TestResponse &afterInterimAnswers(int count);
    TestResponse &withRanges();
    TestResponse &requiringHeader(const QByteArray &name, const QByteArray &part);

    qint64 bodySize() const;    // what this answer carries (after a range's offset)
    qint64 fullSize() const;
};

struct TestRequest
{
    QByteArray method;
    QString target;
    QList<QPair<QByteArray, QByteArray>> headers;   // as received

    QByteArray header(const QByteArray &name) const; // case-insensitive, "" when absent
};

class TestServerWorker;
class QThread;

class TestServer : public QObject
{
    Q_OBJECT

public:
    enum Mode { Http, Https };

    explicit TestServer(Mode mode = Http, QObject *parent = nullptr);
    ~TestServer() override;

    bool isListening() const;
    QString errorString() const;
    quint16 port() const;
    QString baseUrl() const;
    QUrl url(const QString &target) const;

    void addRoute(const QString &target, const TestResponse &response);
    void addRouteAnyQuery(const QString &path, const TestResponse &response);
    void addPage(const QString &target, const QByteArray &body,
                 const QByteArray &contentType = "text/html");
    void addRedirect(const QString &target, const QByteArray &location, int statusCode = 302);
    void addSequence(const QString &target, const QList<TestResponse> &responses);
    void removeRoute(const QString &target);
    void clearRoutes();

    int requestCount(const QString &target) const;
    int totalRequests() const;
    QMap<QByteArray, QByteArray> lastRequestHeaders(const QString &target) const;
    QByteArray lastRequestHeader(const QString &target, const QByteArray &name) const;
    QList<TestRequest> requestLog() const;
    void clearRequestLog();
    bool waitForRequests(int total, int timeoutMs = 10000);

    void setKeepAlive(bool on);
    int openConnections() const;
    int acceptedConnections() const;
    void releaseStalled();

    static bool tlsAvailable();
    static QSslCertificate testCertificate();
    static QString testCertificatePath();   // PEM, for clients that take a CA file
    static void trustTestCertificate();
    static void distrustTestCertificate();

    static QByteArray gzip(const QByteArray &data);
    static QByteArray deflateRaw(const QByteArray &data);
    static QByteArray gzipBomb(qint64 inflatedSize);

    static QByteArray generatedBody(qint64 size);
    static QByteArray generatedBody(qint64 offset, qint64 size);

Q_SIGNALS:
    void requestReceived(const QString &target);

private:
    QThread *m_thread = nullptr;
    TestServerWorker *m_worker = nullptr;
    Mode m_mode;
    quint16 m_port = 0;
    QString m_errorString;
};
