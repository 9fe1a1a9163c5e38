#include "TestServer.h"

#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

constexpr qint64 kChunkBytes = 64 * 1024;
// Bytes queued in the socket before we wait for bytesWritten; keeps a 20 MB body
// from being copied whole into every connection's write buffer.
constexpr qint64 kHighWaterBytes = 256 * 1024;
constexpr int kMaxHeadBytes = 64 * 1024;
constexpr qint64 kPatternPeriod = 253 * 256;

const QByteArray &patternBlock()
{
    // byte(i) = (i mod 253) xor (i / 253 mod 256): a shifted or repeated piece of
    // the body never matches the expected bytes.
    static const QByteArray block = [] {
        QByteArray b(kPatternPeriod, Qt::Uninitialized);
        for (qint64 i = 0; i < kPatternPeriod; ++i)
            b[i] = char((i % 253) ^ ((i / 253) % 256));
        return b;
    }();
    return block;
}

QByteArray reasonPhrase(int code)
{
    switch (code) {
    case 102: return "Processing";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

// What a client puts on the wire for a path written with non-ASCII text or spaces.
QString wireTarget(const QString &target)
{
    const QByteArray utf8 = target.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        const auto b = uchar(c);
        if (b <= 0x20 || b >= 0x7f) {
            out += '%';
            out += QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return QString::fromLatin1(out);
}

QString pathOf(const QString &target)
{
    const qsizetype q = target.indexOf(QLatin1Char('?'));
    return q < 0 ? target : target.left(q);
}

QString dataPath(const char *name)
{
    return QStringLiteral(KIRO_TESTSUPPORT_DATA_DIR "/") + QLatin1String(name);
}

} // namespace

// ---------------------------------------------------------------------------

TestResponse TestResponse::page(const QByteArray &body, const QByteArray &contentType)
{
    TestResponse r;
    r.body = body;
    r.contentType = contentType;
    return r;
}

TestResponse TestResponse::bytes(const QByteArray &body, const QByteArray &contentType)
{
    return page(body, contentType);
}

TestResponse TestResponse::status(int statusCode, const QByteArray &body)
{
    TestResponse r;
    r.statusCode = statusCode;
    r.body = body;
    return r;
}

TestResponse TestResponse::redirect(const QByteArray &location, int statusCode)
{
    TestResponse r;
    r.statusCode = statusCode;
    r.headers.append({"Location", location});
    return r;
}

TestResponse TestResponse::generated(qint64 size, const QByteArray &contentType)
{
    TestResponse r;
    r.generatedSize = size;
    r.contentType = contentType;
    return r;
}

TestResponse TestResponse::raw(const QByteArray &answer)
{
    TestResponse r;
    r.rawAnswer = answer;
    return r;
}

TestResponse &TestResponse::withHeader(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

TestResponse &TestResponse::withoutContentLength()
{
    sendContentLength = false;
    return *this;
}

TestResponse &TestResponse::chunked()
{
    chunkedBody = true;
    return *this;
}

TestResponse &TestResponse::droppedWhenReused()
{
    dropWhenReused = true;
    return *this;
}

TestResponse &TestResponse::resetAfter(qint64 bytes)
{
    fault = Fault::ResetAfter;
    faultAfterBytes = bytes;
    return *this;
}

TestResponse &TestResponse::closeAfter(qint64 bytes)
{
    fault = Fault::CloseAfter;
    faultAfterBytes = bytes;
    return *this;
}

TestResponse &TestResponse::stallAfter(qint64 bytes)
{
    fault = Fault::StallAfter;
    faultAfterBytes = bytes;
    return *this;
}

TestResponse &TestResponse::slow(int chunkBytes, int delayMs)
{
    slowChunkBytes = std::max(1, chunkBytes);
    slowDelayMs = std::max(0, delayMs);
    return *this;
}

TestResponse &TestResponse::chunkedWithContentLength()
{
    chunkedBody = true;
    lengthWithChunked = true;
    return *this;
}

TestResponse &TestResponse::withChunkExtension(const QByteArray &extension)
{
    chunkExtension = extension;
    return *this;
}

TestResponse &TestResponse::withTrailer(const QByteArray &name, const QByteArray &value)
{
    trailers.append({name, value});
    return *this;
}

TestResponse &TestResponse::headInSingleBytes()
{
    headByteByByte = true;
    return *this;
}

TestResponse &TestResponse::afterInterimAnswers(int count)
{
    interimAnswers = std::max(0, count);
    return *this;
}

TestResponse &TestResponse::withRanges()
{
    ranges = true;
    return *this;
}

TestResponse &TestResponse::requiringHeader(const QByteArray &name, const QByteArray &part)
{
    requiredHeaders.append({name, part});
    return *this;
}

qint64 TestResponse::fullSize() const
{
    return generatedSize >= 0 ? generatedSize : body.size();
}

qint64 TestResponse::bodySize() const
{
    return fullSize() - rangeOffset;
}

QByteArray TestRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

// ---------------------------------------------------------------------------

class HttpConnection;

// Lives in the server thread. The routes and the request log are shared with the
// test thread under m_mutex; everything else is touched only in the server thread.
class TestServerWorker : public QObject
{
public:
    TestServerWorker(bool tls, TestServer *facade) : m_tls(tls), m_facade(facade) {}

    bool listen(QString *error, quint16 *port);
    void shutdown();
    void releaseStalled();

    void addRoute(const QString &target, const TestResponse &r, bool anyQuery);
    void addSequence(const QString &target, const QList<TestResponse> &responses);
    void removeRoute(const QString &target);
    void clearRoutes();
    TestResponse responseFor(const QString &target) const;
    void record(const TestRequest &request);

    int requestCount(const QString &target) const;
    int totalRequests() const;
    QMap<QByteArray, QByteArray> lastHeaders(const QString &target) const;
    QList<TestRequest> log() const;
    void clearLog();

    void connectionOpened(HttpConnection *c);
    void connectionClosed(HttpConnection *c);
    int openConnections() const { return m_open.load(); }
    int acceptedConnections() const { return m_accepted.load(); }
    void setKeepAlive(bool on) { m_keepAlive = on; }
    bool keepAlive() const { return m_keepAlive; }

private:
    void takePendingConnections();

    const bool m_tls;
    TestServer *const m_facade;
    QTcpServer *m_server = nullptr;
    QSet<HttpConnection *> m_connections;
    std::atomic<int> m_open{0};
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_keepAlive{false};

    mutable QMutex m_mutex;
    QHash<QString, TestResponse> m_exact;
    QHash<QString, TestResponse> m_anyQuery;
    QHash<QString, QList<TestResponse>> m_sequences;
    QList<TestRequest> m_log;
    QHash<QString, int> m_counts;
    QHash<QString, QMap<QByteArray, QByteArray>> m_lastHeaders;
};

// One accepted socket. It answers requests one after another while the client keeps
// the connection (HTTP/1.1 keep-alive); a fault, a body without Content-Length or a
// client's "Connection: close" ends it after the response.
class HttpConnection : public QObject
{
public:
    HttpConnection(QTcpSocket *socket, TestServerWorker *worker);
    ~HttpConnection() override;

    bool isStalled() const { return m_state == State::Stalled; }
    void abortNow();

private:
    enum class State { ReadingHead, Sending, Draining, Resetting, Stalled, Closing, Done };

    void onReadyRead();
    void handleHead(const QByteArray &head);
    void startResponse(const TestResponse &response, bool headOnly);
    void startBody();
    void onHeadTick();
    void pump();
    void onSlowTick();
    void writeBody(qint64 bytes);
    void writeBodyBytes(qint64 bytes);
    void bodyDone();
    void onWritten();
    qint64 pendingBytes() const;
    void resetConnection();
    void hardClose();
    void finish();

    QTcpSocket *m_socket;
    TestServerWorker *m_worker;
    QTimer m_slowTimer;
    QTimer m_headTimer;
    QByteArray m_headLeft;
    State m_state = State::ReadingHead;
    QByteArray m_input;
    bool m_keepAlive = false;
    TestResponse m_response;
    qint64 m_sent = 0;
    qint64 m_limit = 0;
    int m_served = 0;
};

HttpConnection::HttpConnection(QTcpSocket *socket, TestServerWorker *worker)
    : QObject(worker), m_socket(socket), m_worker(worker)
{
    m_socket->setParent(this);
    m_worker->connectionOpened(this);
    m_slowTimer.callOnTimeout(this, &HttpConnection::onSlowTick);
    m_headTimer.callOnTimeout(this, &HttpConnection::onHeadTick);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::onWritten);
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, &HttpConnection::onWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::finish);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpConnection::finish);
    // A TLS client may have sent its request together with the end of the handshake.
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}

HttpConnection::~HttpConnection()
{
    m_worker->connectionClosed(this);
}

void HttpConnection::abortNow()
{
    hardClose();
}

void HttpConnection::onReadyRead()
{
    if (m_state == State::Done)
        return;
    if (m_state != State::ReadingHead && !m_keepAlive) {
        m_socket->readAll();   // nothing more will be answered on this connection
        return;
    }
    m_input += m_socket->readAll();
    if (m_state != State::ReadingHead)
        return;   // the next request waits until this response is out

    const qsizetype crlf = m_input.indexOf("\n\r\n");
    const qsizetype lf = m_input.indexOf("\n\n");
    qsizetype end = lf;
    qsizetype separator = 2;
    if (crlf >= 0 && (lf < 0 || crlf < lf)) {
        end = crlf;
        separator = 3;
    }
    if (end < 0) {
        if (m_input.size() > kMaxHeadBytes) {
            m_keepAlive = false;
            startResponse(TestResponse::status(400, "<html><body>Bad Request</body></html>"), false);
        }
        return;
    }
    const QByteArray head = m_input.left(end);
    m_input.remove(0, end + separator);
    handleHead(head);
}

void HttpConnection::handleHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).simplified().split(' ');
    if (requestLine.size() < 2 || requestLine.at(1).isEmpty()) {
        m_keepAlive = false;
        startResponse(TestResponse::status(400, "<html><body>Bad Request</body></html>"), false);
        return;
    }
    TestRequest request;
    request.method = requestLine.at(0);
    request.target = QString::fromLatin1(requestLine.at(1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    // A request body is not read, so a connection that carried one cannot be reused.
    const bool hasBody = request.header("Content-Length").toLongLong() > 0
            || !request.header("Transfer-Encoding").isEmpty();
    m_keepAlive = m_worker->keepAlive() && requestLine.value(2) == "HTTP/1.1" && !hasBody
            && !request.header("Connection").toLower().contains("close");

    // Recorded before answering, so a client that saw the answer sees the count too.
    m_worker->record(request);
    TestResponse response = m_worker->responseFor(request.target);
    for (const auto &required : std::as_const(response.requiredHeaders)) {
        if (!request.header(required.first).contains(required.second)) {
            response = TestResponse::status(403, "<html><body>Forbidden</body></html>");
            break;
        }
    }
    if (response.ranges && response.statusCode == 200) {
        const QByteArray range = request.header("Range").trimmed();
        const QByteArray ifRange = request.header("If-Range").trimmed();
        QByteArray etag, lastModified;
        for (const auto &h : std::as_const(response.headers)) {
            if (h.first.compare("ETag", Qt::CaseInsensitive) == 0)
                etag = h.second;
            else if (h.first.compare("Last-Modified", Qt::CaseInsensitive) == 0)
                lastModified = h.second;
        }
        const bool unchanged = ifRange.isEmpty() || ifRange == etag || ifRange == lastModified;
        qint64 from = -1;
        if (range.startsWith("bytes=") && unchanged) {
            const QByteArray rangeSet = range.mid(6);
            const qsizetype dash = rangeSet.indexOf('-');
            bool ok = false;
            if (dash > 0)
                from = rangeSet.left(dash).toLongLong(&ok);
            if (!ok || from < 0 || from >= response.fullSize())
                from = -1;
        }
        if (from >= 0) {
            response.statusCode = 206;
            response.rangeOffset = from;
            const QByteArray contentRange = "bytes " + QByteArray::number(from) + '-'
                    + QByteArray::number(response.fullSize() - 1) + '/'
                    + QByteArray::number(response.fullSize());
            response.withHeader("Content-Range", contentRange);
        }
        response.withHeader("Accept-Ranges", "bytes");
    }
    if (response.dropWhenReused && m_served > 0) {
        m_keepAlive = false;
        m_state = State::Closing;
        m_socket->disconnectFromHost();
        return;
    }
    ++m_served;
    startResponse(response, request.method == "HEAD");
}

void HttpConnection::startResponse(const TestResponse &response, bool headOnly)
{
    m_response = response;
    if (!response.rawAnswer.isEmpty()) {
        m_keepAlive = false;
        m_sent = 0;
        m_limit = 0;
        m_state = State::Sending;
        m_socket->write(response.rawAnswer);
        m_response.chunkedBody = false;
        startBody();
        return;
    }
    const int code = response.statusCode;
    const bool bodyForbidden = code == 204 || code == 304 || (code >= 100 && code < 200);
    const bool chunked = response.chunkedBody && !bodyForbidden && !headOnly;
    const bool lengthKnown = response.sendContentLength || bodyForbidden || headOnly || chunked;
    if (response.fault != TestResponse::Fault::None || !lengthKnown)
        m_keepAlive = false;

    QByteArray head;
    for (int i = 0; i < response.interimAnswers; ++i)
        head += "HTTP/1.1 102 Processing\r\n\r\n";
    head += "HTTP/1.1 " + QByteArray::number(code) + ' ' + reasonPhrase(code) + "\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    if ((!chunked || response.lengthWithChunked) && response.sendContentLength && !bodyForbidden)
        head += "Content-Length: " + QByteArray::number(response.bodySize()) + "\r\n";
    for (const auto &h : response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += m_keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";

    m_sent = 0;
    m_limit = (headOnly || bodyForbidden) ? 0 : response.bodySize();
    if (response.fault != TestResponse::Fault::None)
        m_limit = std::min(m_limit, std::max<qint64>(0, response.faultAfterBytes));
    m_state = State::Sending;

    if (response.headByteByByte) {
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_headLeft = head;
        m_headTimer.setInterval(1);
        m_headTimer.start();
        return;
    }
    m_socket->write(head);
    startBody();
}

void HttpConnection::onHeadTick()
{
    if (m_state != State::Sending || m_headLeft.isEmpty()) {
        m_headTimer.stop();
        return;
    }
    m_socket->write(m_headLeft.left(1));
    m_socket->flush();
    m_headLeft.remove(0, 1);
    if (m_headLeft.isEmpty()) {
        m_headTimer.stop();
        startBody();
    }
}

void HttpConnection::startBody()
{
    if (m_response.slowChunkBytes > 0 && m_limit > 0) {
        m_slowTimer.setInterval(m_response.slowDelayMs);
        m_slowTimer.start();
        onSlowTick();
        return;
    }
    pump();
}

void HttpConnection::pump()
{
    if (m_state != State::Sending || m_slowTimer.isActive() || m_headTimer.isActive())
        return;
    while (m_sent < m_limit && pendingBytes() < kHighWaterBytes)
        writeBody(std::min(kChunkBytes, m_limit - m_sent));
    if (m_sent >= m_limit)
        bodyDone();
}

void HttpConnection::onSlowTick()
{
    if (m_state != State::Sending)
        return;
    if (pendingBytes() < kHighWaterBytes)
        writeBody(std::min<qint64>(m_response.slowChunkBytes, m_limit - m_sent));
    if (m_sent >= m_limit) {
        m_slowTimer.stop();
        bodyDone();
    }
}

void HttpConnection::writeBody(qint64 bytes)
{
    if (bytes <= 0)
        return;
    const bool chunked = m_response.chunkedBody;
    if (chunked)
        m_socket->write(QByteArray::number(bytes, 16) + m_response.chunkExtension + "\r\n");
    writeBodyBytes(bytes);
    if (chunked)
        m_socket->write("\r\n");
}

void HttpConnection::writeBodyBytes(qint64 bytes)
{
    if (m_response.generatedSize < 0) {
        m_socket->write(m_response.body.constData() + m_response.rangeOffset + m_sent, bytes);
        m_sent += bytes;
        return;
    }
    const QByteArray &block = patternBlock();
    while (bytes > 0) {
        const qint64 at = (m_response.rangeOffset + m_sent) % kPatternPeriod;
        const qint64 n = std::min(bytes, kPatternPeriod - at);
        m_socket->write(block.constData() + at, n);
        m_sent += n;
        bytes -= n;
    }
}

void HttpConnection::bodyDone()
{
    // Socket signals may come from inside the TLS backend's own transmit loop, which
    // does not survive the socket being closed under it: close from the event loop.
    switch (m_response.fault) {
    case TestResponse::Fault::ResetAfter:
        m_state = State::Draining;
        QMetaObject::invokeMethod(this, &HttpConnection::onWritten, Qt::QueuedConnection);
        return;
    case TestResponse::Fault::StallAfter:
        m_state = State::Stalled;
        return;
    case TestResponse::Fault::None:
    case TestResponse::Fault::CloseAfter:
        break;
    }
    if (m_response.chunkedBody && m_response.fault == TestResponse::Fault::None) {
        QByteArray last = "0" + m_response.chunkExtension + "\r\n";
        for (const auto &t : std::as_const(m_response.trailers))
            last += t.first + ": " + t.second + "\r\n";
        m_socket->write(last + "\r\n");
    }
    m_response = TestResponse();   // let go of a large body early
    if (m_keepAlive) {
        m_state = State::ReadingHead;
        if (!m_input.isEmpty())
            QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
        return;
    }
    m_state = State::Closing;
    QMetaObject::invokeMethod(this, [this] {
        if (m_state == State::Closing)
            m_socket->disconnectFromHost();   // sends what is queued, then closes
    }, Qt::QueuedConnection);
}

void HttpConnection::onWritten()
{
    if (m_state == State::Sending) {
        pump();
    } else if (m_state == State::Draining && pendingBytes() == 0) {
        m_state = State::Resetting;
        QMetaObject::invokeMethod(this, &HttpConnection::resetConnection, Qt::QueuedConnection);
    }
}

qint64 HttpConnection::pendingBytes() const
{
    qint64 n = m_socket->bytesToWrite();
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        n += ssl->encryptedBytesToWrite();
    return n;
}

void HttpConnection::resetConnection()
{
    if (m_state == State::Resetting)
        hardClose();
}

void HttpConnection::hardClose()
{
#ifdef Q_OS_UNIX
    // A zero linger time makes close() send RST instead of FIN.
    const qintptr fd = m_socket->socketDescriptor();
    if (fd != -1) {
        const linger noLinger{1, 0};
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    }
#endif
    m_socket->abort();
    finish();
}

void HttpConnection::finish()
{
    if (m_state == State::Done)
        return;
    m_state = State::Done;
    m_slowTimer.stop();
    m_headTimer.stop();
    deleteLater();
}

// ---------------------------------------------------------------------------

bool TestServerWorker::listen(QString *error, quint16 *port)
{
    if (m_tls) {
        if (!QSslSocket::supportsSsl()) {
            *error = QStringLiteral("no TLS backend: ") + QSslSocket::sslLibraryVersionString();
            return false;
        }
        QFile keyFile(dataPath("test-key.pem"));
        if (!keyFile.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read ") + keyFile.fileName();
            return false;
        }
        const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        const QSslCertificate cert = TestServer::testCertificate();
        if (key.isNull() || cert.isNull()) {
            *error = QStringLiteral("test certificate or key unusable");
            return false;
        }
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setLocalCertificate(cert);
        conf.setPrivateKey(key);
        conf.setPeerVerifyMode(QSslSocket::VerifyNone);
        auto *sslServer = new QSslServer(this);
        sslServer->setSslConfiguration(conf);
        m_server = sslServer;
    } else {
        m_server = new QTcpServer(this);
    }
    m_server->setMaxPendingConnections(1000);
    connect(m_server, &QTcpServer::newConnection, this, &TestServerWorker::takePendingConnections);
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this,
            &TestServerWorker::takePendingConnections);
    if (!m_server->listen(QHostAddress::LocalHost, 0)) {
        *error = m_server->errorString();
        return false;
    }
    *port = m_server->serverPort();
    return true;
}

void TestServerWorker::takePendingConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        new HttpConnection(socket, this);
}

void TestServerWorker::shutdown()
{
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    const QSet<HttpConnection *> connections = m_connections;
    for (HttpConnection *c : connections) {
        c->abortNow();
        delete c;
    }
}

void TestServerWorker::releaseStalled()
{
    const QSet<HttpConnection *> connections = m_connections;
    for (HttpConnection *c : connections) {
        if (c->isStalled())
            c->abortNow();
    }
}

void TestServerWorker::connectionOpened(HttpConnection *c)
{
    m_connections.insert(c);
    ++m_open;
    ++m_accepted;
}

void TestServerWorker::connectionClosed(HttpConnection *c)
{
    m_connections.remove(c);
    --m_open;
}

void TestServerWorker::addRoute(const QString &target, const TestResponse &r, bool anyQuery)
{
    QMutexLocker lock(&m_mutex);
    (anyQuery ? m_anyQuery : m_exact).insert(wireTarget(target), r);
}

void TestServerWorker::removeRoute(const QString &target)
{
    QMutexLocker lock(&m_mutex);
    const QString key = wireTarget(target);
    m_exact.remove(key);
    m_anyQuery.remove(key);
    m_sequences.remove(key);
}

void TestServerWorker::clearRoutes()
{
    QMutexLocker lock(&m_mutex);
    m_exact.clear();
    m_anyQuery.clear();
    m_sequences.clear();
}

void TestServerWorker::addSequence(const QString &target, const QList<TestResponse> &responses)
{
    QMutexLocker lock(&m_mutex);
    m_sequences.insert(wireTarget(target), responses);
}

TestResponse TestServerWorker::responseFor(const QString &target) const
{
    QMutexLocker lock(&m_mutex);
    const auto sequence = m_sequences.constFind(target);
    if (sequence != m_sequences.constEnd() && !sequence->isEmpty()) {
        // The request has been counted already.
        const qsizetype n = std::max(1, m_counts.value(target));
        return sequence->at(std::min(n, sequence->size()) - 1);
    }
    auto it = m_exact.constFind(target);
    if (it != m_exact.constEnd())
        return *it;
    it = m_anyQuery.constFind(pathOf(target));
    if (it != m_anyQuery.constEnd())
        return *it;
    return TestResponse::status(404, "<html><head><title>404 Not Found</title></head>"
                                     "<body><h1>Not Found</h1></body></html>");
}

void TestServerWorker::record(const TestRequest &request)
{
    {
        QMutexLocker lock(&m_mutex);
        m_log.append(request);
        ++m_counts[request.target];
        QMap<QByteArray, QByteArray> headers;
        for (const auto &h : request.headers) {
            QByteArray &value = headers[h.first.toLower()];
            value = value.isEmpty() ? h.second : QByteArray(value + ", " + h.second);
        }
        m_lastHeaders.insert(request.target, headers);
    }
    TestServer *facade = m_facade;
    const QString target = request.target;
    QMetaObject::invokeMethod(facade, [facade, target] { Q_EMIT facade->requestReceived(target); },
                              Qt::QueuedConnection);
}

int TestServerWorker::requestCount(const QString &target) const
{
    QMutexLocker lock(&m_mutex);
    return m_counts.value(wireTarget(target));
}

int TestServerWorker::totalRequests() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_log.size());
}

QMap<QByteArray, QByteArray> TestServerWorker::lastHeaders(const QString &target) const
{
    QMutexLocker lock(&m_mutex);
    return m_lastHeaders.value(wireTarget(target));
}

QList<TestRequest> TestServerWorker::log() const
{
    QMutexLocker lock(&m_mutex);
    return m_log;
}

void TestServerWorker::clearLog()
{
    QMutexLocker lock(&m_mutex);
    m_log.clear();
    m_counts.clear();
    m_lastHeaders.clear();
}

// ---------------------------------------------------------------------------

TestServer::TestServer(Mode mode, QObject *parent) : QObject(parent), m_mode(mode)
{
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("TestServer"));
    m_worker = new TestServerWorker(mode == Https, this);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();

    bool ok = false;
    QMetaObject::invokeMethod(
            m_worker, [this, &ok] { ok = m_worker->listen(&m_errorString, &m_port); },
            Qt::BlockingQueuedConnection);
    if (!ok)
        m_port = 0;
}

TestServer::~TestServer()
{
    TestServerWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool TestServer::isListening() const
{
    return m_port != 0;
}

QString TestServer::errorString() const
{
    return m_errorString;
}

quint16 TestServer::port() const
{
    return m_port;
}

QString TestServer::baseUrl() const
{
    return (m_mode == Https ? QStringLiteral("https://127.0.0.1:") : QStringLiteral("http://127.0.0.1:"))
            + QString::number(m_port);
}

QUrl TestServer::url(const QString &target) const
{
    return QUrl(baseUrl() + target);
}

void TestServer::addRoute(const QString &target, const TestResponse &response)
{
    m_worker->addRoute(target, response, false);
}

void TestServer::addRouteAnyQuery(const QString &path, const TestResponse &response)
{
    m_worker->addRoute(path, response, true);
}

void TestServer::addPage(const QString &target, const QByteArray &body, const QByteArray &contentType)
{
    addRoute(target, TestResponse::page(body, contentType));
}

void TestServer::addRedirect(const QString &target, const QByteArray &location, int statusCode)
{
    addRoute(target, TestResponse::redirect(location, statusCode));
}

void TestServer::addSequence(const QString &target, const QList<TestResponse> &responses)
{
    m_worker->addSequence(target, responses);
}

void TestServer::removeRoute(const QString &target)
{
    m_worker->removeRoute(target);
}

void TestServer::clearRoutes()
{
    m_worker->clearRoutes();
}

int TestServer::requestCount(const QString &target) const
{
    return m_worker->requestCount(target);
}

int TestServer::totalRequests() const
{
    return m_worker->totalRequests();
}

QMap<QByteArray, QByteArray> TestServer::lastRequestHeaders(const QString &target) const
{
    return m_worker->lastHeaders(target);
}

QByteArray TestServer::lastRequestHeader(const QString &target, const QByteArray &name) const
{
    return m_worker->lastHeaders(target).value(name.toLower());
}

QList<TestRequest> TestServer::requestLog() const
{
    return m_worker->log();
}

void TestServer::clearRequestLog()
{
    m_worker->clearLog();
}

bool TestServer::waitForRequests(int total, int timeoutMs)
{
    if (totalRequests() >= total)
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &TestServer::requestReceived, &loop, [&] {
        if (totalRequests() >= total)
            loop.quit();
    });
    timeout.start(timeoutMs);
    loop.exec();
    return totalRequests() >= total;
}

void TestServer::setKeepAlive(bool on)
{
    m_worker->setKeepAlive(on);
}

int TestServer::openConnections() const
{
    return m_worker->openConnections();
}

int TestServer::acceptedConnections() const
{
    return m_worker->acceptedConnections();
}

void TestServer::releaseStalled()
{
    TestServerWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->releaseStalled(); },
                              Qt::BlockingQueuedConnection);
}

bool TestServer::tlsAvailable()
{
    return QSslSocket::supportsSsl();
}

QSslCertificate TestServer::testCertificate()
{
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(dataPath("test-cert.pem"));
    return certs.value(0);
}

QString TestServer::testCertificatePath()
{
    return dataPath("test-cert.pem");
}

void TestServer::trustTestCertificate()
{
    const QSslCertificate cert = testCertificate();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    if (cert.isNull() || conf.caCertificates().contains(cert))
        return;
    conf.addCaCertificate(cert);
    QSslConfiguration::setDefaultConfiguration(conf);
}

void TestServer::distrustTestCertificate()
{
    const QSslCertificate cert = testCertificate();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> cas = conf.caCertificates();
    if (!cas.removeAll(cert))
        return;
    conf.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(conf);
}

namespace {

quint32 Crc32(const QByteArray &data)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data)
        crc = table[(crc ^ uchar(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void AppendLittleEndian32(QByteArray &out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

const QByteArray GzipHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);

// Writes deflate's bit stream: fields from their lowest bit, Huffman codes
// from their highest.
class BitWriter
{
public:
    void bits(quint32 value, int count)
    {
        for (int i = 0; i < count; ++i)
            bit((value >> i) & 1);
    }
    void code(quint32 value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            bit((value >> i) & 1);
    }
    QByteArray take()
    {
        if (m_used > 0)
            m_out += char(m_byte);
        m_byte = 0;
        m_used = 0;
        return std::exchange(m_out, QByteArray());
    }

private:
    void bit(quint32 b)
    {
        m_byte |= quint8(b << m_used);
        if (++m_used == 8) {
            m_out += char(m_byte);
            m_byte = 0;
            m_used = 0;
        }
    }

    QByteArray m_out;
    quint8 m_byte = 0;
    int m_used = 0;
};

} // namespace

QByteArray TestServer::deflateRaw(const QByteArray &data)
{
    // qCompress: four bytes of length, then a zlib stream (two bytes of
    // header, the deflate data, four bytes of checksum).
    // qCompress makes no stream of nothing: that is one empty fixed block.
    if (data.isEmpty())
        return QByteArray("\x03\x00", 2);
    const QByteArray zlib = qCompress(data, 9);
    return zlib.mid(6, zlib.size() - 10);
}

QByteArray TestServer::gzip(const QByteArray &data)
{
    QByteArray out = GzipHeader + deflateRaw(data);
    AppendLittleEndian32(out, Crc32(data));
    AppendLittleEndian32(out, quint32(data.size()));
    return out;
}

QByteArray TestServer::gzipBomb(qint64 inflatedSize)
{
    // One block of fixed codes: a literal zero byte, then copies of 258
    // bytes from one byte back (length code 285, distance code 0).
    BitWriter w;
    w.bits(1, 1);          // last block
    w.bits(1, 2);          // fixed Huffman codes
    w.code(0x30, 8);       // literal 0
    qint64 left = inflatedSize - 1;
    for (; left >= 258; left -= 258) {
        w.code(0xC5, 8);   // length 258
        w.code(0, 5);      // distance 1
    }
    for (; left > 0; --left)
        w.code(0x30, 8);   // the rest as literal zeros
    w.code(0, 7);          // end of block
    QByteArray out = GzipHeader + w.take();
    AppendLittleEndian32(out, 0);
    AppendLittleEndian32(out, quint32(inflatedSize));
    return out;
}

QByteArray TestServer::generatedBody(qint64 size)
{
    return generatedBody(0, size);
}

QByteArray TestServer::generatedBody(qint64 offset, qint64 size)
{
    const QByteArray &block = patternBlock();
    QByteArray out;
    out.reserve(size);
    qint64 at = offset;
    while (size > 0) {
        const qint64 p = at % kPatternPeriod;
        const qint64 n = std::min(size, kPatternPeriod - p);
        out.append(block.constData() + p, n);
        at += n;
        size -= n;
    }
    return out;
}
