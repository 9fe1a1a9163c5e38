#include "Inet.h"

#include "PartFile.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QUrl>

#include <zlib.h>

#include <memory>
#include <utility>

namespace {

constexpr int MaxRedirects = 10;
// Bounds what Qt buffers for a reply we have not read yet: memory stays flat
// whatever the body's size.
constexpr qint64 ReplyBufferBytes = 1 << 20;
constexpr qint64 ReadPieceBytes = 256 * 1024;
// A body kept in memory is a page to analyse; anything larger is not one,
// and would only exhaust memory.
constexpr qint64 TextLimitBytes = 64 * 1024 * 1024;
constexpr qint64 DrainLimitBytes = 256 * 1024;
constexpr int DrainLimitMs = 5000;
constexpr int HeadLimitBytes = 64 * 1024;
constexpr int ChunkLineLimitBytes = 4096;
constexpr int IdleConnectionLimit = 4;
// What Qt sends, so that servers answer us as they answer it.
constexpr char UserAgent[] = "Mozilla/5.0";

bool IsRedirectStatus(int status)
{
    switch (status) {
    case 301: case 302: case 303: case 305: case 307: case 308:
        return true;
    default:
        return false;
    }
}

QString OriginOf(const QUrl &address)
{
    return address.host(QUrl::FullyEncoded).toLower() + QLatin1Char(':')
        + QString::number(address.port(80));
}

bool HasToken(const QByteArray &value, const char *token)
{
    const QList<QByteArray> parts = value.split(',');
    for (const QByteArray &part : parts) {
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool IsFollowedRedirect(const QNetworkReply *reply, int status)
{
    return IsRedirectStatus(status) && reply->hasRawHeader("Location");
}

} // namespace

Inet::Inet(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
    m_readBuffer.resize(ReadPieceBytes);
    m_stallTimer.setSingleShot(true);
    connect(&m_stallTimer, &QTimer::timeout, this, &Inet::OnStalled);
}

Inet::~Inet()
{
    Cancel();
}

void Inet::Execute(const QString &url, const QString &operation)
{
    Cancel();
    ++m_serial;
    m_toFile = std::exchange(m_nextToFile, false);
    m_saveFile = std::exchange(m_nextSaveFile, QString());
    m_body.clear();
    m_contentType.clear();
    m_errorString.clear();
    m_received = 0;
    m_announcedLength = -1;
    m_lastState = -1;
    m_bodyStarted = false;
    m_busy = true;

    if (operation.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0) {
        FailLater(QStringLiteral("unsupported operation: %1").arg(operation));
        return;
    }
    const QUrl address(url);
    const QString scheme = address.scheme();
    if (!address.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || address.host().isEmpty()) {
        FailLater(QStringLiteral("not an http or https address: \"%1\"").arg(url));
        return;
    }

    m_visited = {address.adjusted(QUrl::RemoveFragment)};
    m_redirects = 0;
    m_activity.start();
    m_stallTimer.start(m_stallTimeoutMs);
    if (UsesOwnConnection(address)) {
        // Reported from the event loop, as Qt reports its own steps.
        const quint64 serial = m_serial;
        QTimer::singleShot(0, this, [this, serial, address] {
            if (IsAlive(serial))
                StartOwn(address);
        });
        return;
    }
    StartThroughQt(address, MaxRedirects);
}

void Inet::StartThroughQt(const QUrl &address, int redirectsLeft)
{
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(redirectsLeft);
    // A file is stored as the server's bytes, never as Qt's decompression of them.
    if (m_toFile)
        request.setRawHeader("Accept-Encoding", "identity");

    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    reply->setReadBufferSize(ReplyBufferBytes);

    connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] {
        m_activity.restart();
        Raise(StateConnecting);
    });
    connect(reply, &QNetworkReply::encrypted, this, [this] {
        m_activity.restart();
        Raise(StateConnected);
    });
    connect(reply, &QNetworkReply::requestSent, this, [this] {
        m_activity.restart();
        Raise(StateRequestSent);
    });
    connect(reply, &QNetworkReply::redirected, this, [this] { m_activity.restart(); });
    connect(reply, &QNetworkReply::metaDataChanged, this, &Inet::OnMetaDataChanged);
    connect(reply, &QNetworkReply::readyRead, this, &Inet::OnReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Inet::OnFinished);
    m_activity.restart();
}

void Inet::Cancel()
{
    ++m_serial;
    Release();
}

void Inet::SetSaveFile(const QString &path)
{
    m_nextSaveFile = path;
    m_nextToFile = true;
}

QByteArray Inet::TakeBody()
{
    return std::exchange(m_body, QByteArray());
}

void Inet::OnMetaDataChanged()
{
    if (!m_reply)
        return;
    m_activity.restart();
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Qt follows these itself; what counts is the response at the end.
    if (IsFollowedRedirect(m_reply, status))
        return;
    StartBody();
}

void Inet::OnReadyRead()
{
    if (!m_reply)
        return;
    m_activity.restart();
    if (StartBody())
        ReadAvailable();
}

void Inet::OnFinished()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    if (reply->error() != QNetworkReply::NoError) {
        Fail(reply->errorString());
        return;
    }
    if (!StartBody() || !ReadAvailable())
        return;

    // Qt ends some short bodies without an error; a promise not kept is one.
    // (The length is the encoded one; Qt decodes only what it asked for itself.)
    if (m_announcedLength >= 0 && m_announcedLength != m_received) {
        Fail(QStringLiteral("body cut short: %1 of %2 bytes").arg(m_received).arg(m_announcedLength));
        return;
    }

    if (!FinishBody())
        return;
    Release();
    Raise(StateCompleted);
}

void Inet::OnStalled()
{
    if (!m_busy)
        return;
    const qint64 left = m_stallTimeoutMs - m_activity.elapsed();
    if (left > 0) {
        m_stallTimer.start(int(left));
        return;
    }
    Fail(QStringLiteral("no data for %1 ms").arg(m_stallTimeoutMs));
}

// The status of the final response decides before a single byte is kept;
// returns whether the request still runs.
bool Inet::StartBody()
{
    if (m_bodyStarted)
        return true;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299) {
        Fail(QStringLiteral("HTTP status %1").arg(status), ReplyEnd::Drain);
        return false;
    }
    m_contentType = m_reply->rawHeader("Content-Type");
    // Taken from the final response's own headers now: after a redirect, Qt
    // may show an earlier hop's headers once the reply has finished.
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    m_announcedLength = announced.isValid() && (m_toFile || encoding.isEmpty() || encoding == "identity")
            ? announced.toLongLong() : -1;
    return OpenBody();
}

// Makes ready to keep the final response's body; returns whether the request
// still runs.
bool Inet::OpenBody()
{
    if (m_toFile) {
        m_file = std::make_unique<PartFile>(m_saveFile);
        if (!m_file->open()) {
            Fail(QStringLiteral("cannot create \"%1\": %2").arg(m_saveFile, m_file->errorString()));
            return false;
        }
    }
    m_bodyStarted = true;

    const quint64 serial = m_serial;
    Raise(StateReceivingResponse);
    if (!IsAlive(serial))
        return false;
    Q_EMIT BodyProgress(0);
    return IsAlive(serial);
}

// Reads everything that has arrived, in large pieces; returns whether the
// request still runs.
bool Inet::ReadAvailable()
{
    const quint64 serial = m_serial;
    qint64 readNow = 0;
    while (true) {
        const qint64 n = m_reply->read(m_readBuffer.data(), m_readBuffer.size());
        if (n <= 0)
            break;
        if (!Keep(m_readBuffer.constData(), n))
            return false;
        readNow += n;
    }
    if (readNow > 0)
        Q_EMIT BodyProgress(m_received);
    return IsAlive(serial);
}

// Keeps a piece of the body; returns whether the request still runs.
bool Inet::Keep(const char *data, qint64 size)
{
    if (m_file) {
        if (m_file->write(data, size) != size) {
            Fail(QStringLiteral("cannot write \"%1\": %2").arg(m_saveFile, m_file->errorString()));
            return false;
        }
    } else {
        if (m_body.size() + size > TextLimitBytes) {
            Fail(QStringLiteral("text body over %1 bytes").arg(TextLimitBytes));
            return false;
        }
        m_body.append(data, size);
    }
    m_received += size;
    if (m_abortCheck && m_abortCheck()) {
        Cancel();
        return false;
    }
    return true;
}

void Inet::Raise(int state)
{
    // Qt repeats some observations (a second connection for a redirect is a
    // new one; the same one twice in a row is not news).
    if (state == m_lastState && state != StateError && state != StateCompleted)
        return;
    m_lastState = state;
    Q_EMIT StateChanged(state);
}

void Inet::Fail(const QString &reason, ReplyEnd end)
{
    const bool wasBusy = m_busy;
    m_errorString = reason;
    Release(end);
    if (wasBusy)
        Raise(StateError);
}

// An error found before the request went out still reaches the caller from
// the event loop, where it waits for it.
void Inet::FailLater(const QString &reason)
{
    const quint64 serial = m_serial;
    QTimer::singleShot(0, this, [this, serial, reason] {
        if (IsAlive(serial))
            Fail(reason);
    });
}

void Inet::Release(ReplyEnd end)
{
    m_stallTimer.stop();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        if (end == ReplyEnd::Drain && reply->isRunning())
            Drain(reply);
        else
            // Not from inside the reply's own signal: Qt may still be working on it.
            QTimer::singleShot(0, reply, [reply] {
                if (reply->isRunning())
                    reply->abort();
                reply->deleteLater();
            });
    }
    if (QTcpSocket *socket = m_socket) {
        m_socket = nullptr;
        DropSocket(socket);
    }
    if (m_file) {
        m_file->cancelWriting();
        m_file.reset();
    }
    m_busy = false;
}

// An error reply's body is usually a small page. Letting it run out lets Qt
// finish the reply its own way (an abort between its headers and Qt's own
// error report upsets Qt) and keeps the connection for the next request; a
// large or slow one is cut off.
void Inet::Drain(QNetworkReply *reply)
{
    auto discarded = std::make_shared<qint64>(0);
    auto skip = [reply, discarded] {
        *discarded += reply->skip(reply->bytesAvailable());
        if (*discarded > DrainLimitBytes)
            reply->abort();
    };
    connect(reply, &QNetworkReply::readyRead, reply, skip);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QTimer::singleShot(DrainLimitMs, reply, [reply] { reply->abort(); });
    QTimer::singleShot(0, reply, skip);
}

bool Inet::IsAlive(quint64 serial) const
{
    return m_busy && serial == m_serial;
}

// ---------------------------------------------------------------------------
// Plain http over our own connections. Qt's HTTP/1 stack costs more per
// request than a whole small file takes to arrive; this reads in large pieces
// and keeps one idle connection per host.

bool Inet::UsesOwnConnection(const QUrl &address)
{
    if (address.scheme() != QLatin1String("http") || !address.userInfo().isEmpty())
        return false;
    const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
    if (proxy.type() == QNetworkProxy::NoProxy)
        return true;
    if (proxy.type() != QNetworkProxy::DefaultProxy)
        return false;
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(address));
    return proxies.isEmpty() || proxies.first().type() == QNetworkProxy::NoProxy
        || proxies.first().type() == QNetworkProxy::DefaultProxy;
}

void Inet::ResetResponse()
{
    m_head.clear();
    m_line.clear();
    m_contentEncoding.clear();
    m_redirectTarget.clear();
    m_phase = Phase::Head;
    m_left = 0;
    m_discarded = 0;
    m_heardBack = false;
    m_sent = false;
    m_keepConnection = false;
    m_discard = false;
}

void Inet::StartOwn(const QUrl &address)
{
    m_address = address;
    m_origin = OriginOf(address);
    ResetResponse();
    m_activity.restart();

    if (!m_retried) {
        if (QTcpSocket *idle = TakeIdle(m_origin)) {
            m_socket = idle;
            m_reused = true;
        }
    }
    const bool fresh = !m_socket;
    if (fresh) {
        m_reused = false;
        m_socket = new QTcpSocket(this);
    }
    QTcpSocket *socket = m_socket;
    // Qt stops reading from the network while this much waits for us.
    socket->setReadBufferSize(ReplyBufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == m_socket)
            OnSocketReadyRead();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (socket != m_socket || m_sent || socket->bytesToWrite() > 0)
            return;
        m_activity.restart();
        m_sent = true;
        Raise(StateRequestSent);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (socket == m_socket)
            OnSocketClosed();
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (socket == m_socket)
            OnSocketClosed();
    });
    if (!fresh) {
        SendRequest();
        return;
    }
    connect(socket, &QTcpSocket::stateChanged, this, [this, socket](QAbstractSocket::SocketState state) {
        if (socket == m_socket && state == QAbstractSocket::ConnectingState) {
            m_activity.restart();
            Raise(StateConnecting);
        }
    });
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        if (socket != m_socket)
            return;
        m_activity.restart();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const quint64 serial = m_serial;
        Raise(StateConnected);
        if (IsAlive(serial))
            SendRequest();
    });
    socket->connectToHost(address.host(), quint16(address.port(80)));
}

void Inet::SendRequest()
{
    const quint64 serial = m_serial;
    Raise(StateSendingRequest);
    if (!IsAlive(serial))
        return;
    // The target as Qt puts it on the wire, so that both ask for the same thing.
    QUrl::FormattingOptions format(QUrl::RemoveScheme | QUrl::RemoveAuthority
                                   | QUrl::RemoveFragment | QUrl::FullyEncoded);
    QUrl address = m_address;
    if (address.path().isEmpty())
        address.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    const QByteArray target = address.toEncoded(format);
    QByteArray host = m_address.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (m_address.port() != -1 && m_address.port() != 80)
        host += ':' + QByteArray::number(m_address.port());
    // A page may come compressed (undone here); a file is the server's bytes.
    const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host
        + "\r\nUser-Agent: " + UserAgent
        + "\r\nAccept-Encoding: " + (m_toFile ? "identity" : "gzip, deflate")
        + "\r\nConnection: keep-alive\r\n\r\n";
    m_socket->write(request);
}

void Inet::OnSocketReadyRead()
{
    const quint64 serial = m_serial;
    const qint64 before = m_received;
    m_activity.restart();
    while (m_socket && m_phase != Phase::Done) {
        const qint64 n = m_socket->read(m_readBuffer.data(), m_readBuffer.size());
        if (n <= 0)
            break;
        m_heardBack = true;
        if (!Consume(m_readBuffer.constData(), n))
            return;
    }
    if (!IsAlive(serial) || !m_socket)
        return;
    // Anything after the response is not ours to read: the connection is spent.
    if (m_phase == Phase::Done && m_socket->bytesAvailable() > 0)
        m_keepConnection = false;
    if (m_received > before && !m_discard) {
        Q_EMIT BodyProgress(m_received);
        if (!IsAlive(serial))
            return;
    }
    if (m_phase == Phase::Done)
        CompleteOwn();
}

void Inet::OnSocketClosed()
{
    const quint64 serial = m_serial;
    // What arrived before the close is read first.
    if (m_socket->bytesAvailable() > 0) {
        OnSocketReadyRead();
        if (!IsAlive(serial) || !m_socket || m_phase == Phase::Done)
            return;
    }
    QTcpSocket *socket = m_socket;
    if (m_phase == Phase::UntilClose) {
        m_phase = Phase::Done;
        m_keepConnection = false;
        CompleteOwn();
        return;
    }
    // The server ended a kept connection just as we asked again: ask once
    // more on a new one.
    if (m_reused && !m_retried && !m_heardBack) {
        m_socket = nullptr;
        DropSocket(socket);
        m_retried = true;
        StartOwn(QUrl(m_address));
        return;
    }
    const QString why = socket->error() == QAbstractSocket::RemoteHostClosedError
            || socket->error() == QAbstractSocket::UnknownSocketError
        ? QStringLiteral("connection closed by the server") : socket->errorString();
    if (m_phase == Phase::Head)
        Fail(why);
    else if (m_phase == Phase::Length)
        Fail(QStringLiteral("body cut short: %1 of %2 bytes (%3)")
                 .arg(m_received).arg(m_announcedLength).arg(why));
    else
        Fail(QStringLiteral("chunked body cut short (%1)").arg(why));
}

// Takes in what arrived; returns whether the request still runs here (false
// also once it has gone on elsewhere).
bool Inet::Consume(const char *data, qint64 size)
{
    const quint64 serial = m_serial;
    while (size > 0) {
        switch (m_phase) {
        case Phase::Head: {
            const qsizetype searchFrom = std::max<qsizetype>(0, m_head.size() - 3);
            m_head.append(data, size);
            qsizetype end = m_head.indexOf("\r\n\r\n", searchFrom);
            qsizetype endLength = 4;
            const qsizetype bare = m_head.indexOf("\n\n", searchFrom);
            if (bare >= 0 && (end < 0 || bare < end)) {
                end = bare;
                endLength = 2;
            }
            if (end < 0) {
                if (m_head.size() > HeadLimitBytes) {
                    Fail(QStringLiteral("response headers too long"));
                    return false;
                }
                return true;
            }
            const qsizetype rest = m_head.size() - (end + endLength);
            data += size - rest;
            size = rest;
            m_head.truncate(end);
            if (!ParseHead())
                return false;
            break;
        }
        case Phase::Length:
        case Phase::ChunkData: {
            const qint64 n = std::min(size, m_left);
            if (m_discard) {
                m_discarded += n;
            } else if (!Keep(data, n)) {
                return false;
            }
            data += n;
            size -= n;
            m_left -= n;
            if (m_left == 0)
                m_phase = m_phase == Phase::Length ? Phase::Done : Phase::ChunkEnd;
            break;
        }
        case Phase::UntilClose:
            if (m_discard)
                m_discarded += size;
            else if (!Keep(data, size))
                return false;
            size = 0;
            break;
        case Phase::ChunkSize:
        case Phase::ChunkEnd:
        case Phase::Trailer: {
            const char *newline = static_cast<const char *>(memchr(data, '\n', size_t(size)));
            const qint64 n = newline ? newline - data + 1 : size;
            m_line.append(data, n);
            data += n;
            size -= n;
            if (m_line.size() > ChunkLineLimitBytes) {
                Fail(QStringLiteral("bad chunk in the body"));
                return false;
            }
            if (!newline)
                break;
            const QByteArray line = m_line.trimmed();
            m_line.clear();
            if (m_phase == Phase::ChunkEnd) {
                if (!line.isEmpty()) {
                    Fail(QStringLiteral("bad chunk in the body"));
                    return false;
                }
                m_phase = Phase::ChunkSize;
            } else if (m_phase == Phase::Trailer) {
                if (line.isEmpty())
                    m_phase = Phase::Done;
            } else {
                const qsizetype extension = line.indexOf(';');
                const QByteArray hex = (extension < 0 ? line : line.left(extension)).trimmed();
                bool ok = false;
                const qint64 chunk = hex.toLongLong(&ok, 16);
                if (!ok || chunk < 0 || hex.startsWith('-') || hex.startsWith('+')) {
                    Fail(QStringLiteral("bad chunk in the body"));
                    return false;
                }
                m_left = chunk;
                m_phase = chunk == 0 ? Phase::Trailer : Phase::ChunkData;
            }
            break;
        }
        case Phase::Done:
            // The server sent more than the response: the connection is spent.
            m_keepConnection = false;
            size = 0;
            break;
        }
        // A redirect's body is not worth waiting long for.
        if (m_discard && m_discarded > DrainLimitBytes) {
            m_keepConnection = false;
            m_phase = Phase::Done;
        }
        if (!IsAlive(serial))
            return false;
    }
    return true;
}

// Reads the response's head; returns whether the request still runs here.
bool Inet::ParseHead()
{
    const QList<QByteArray> lines = m_head.split('\n');
    m_head.clear();
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    const QByteArray version = statusLine.value(0);
    bool ok = false;
    const int status = statusLine.value(1).toInt(&ok);
    if (!version.startsWith("HTTP/1.") || !ok || status < 100 || status > 999) {
        Fail(QStringLiteral("not an HTTP response"));
        return false;
    }
    if (!m_sent) {
        // An answer proves the request went out.
        m_sent = true;
        const quint64 serial = m_serial;
        Raise(StateRequestSent);
        if (!IsAlive(serial))
            return false;
    }
    if (status >= 100 && status < 200) {
        if (status == 101) {
            Fail(QStringLiteral("HTTP status 101"));
            return false;
        }
        return true;   // an interim answer; the real one follows
    }

    QByteArray contentLength, transferEncoding, connection, contentType, contentEncoding, location;
    bool lengthsDiffer = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            lengthsDiffer = lengthsDiffer || (!contentLength.isNull() && contentLength != value);
            contentLength = value;
        } else if (name == "transfer-encoding") {
            transferEncoding += (transferEncoding.isEmpty() ? "" : ",") + value;
        } else if (name == "connection") {
            connection += (connection.isEmpty() ? "" : ",") + value;
        } else if (name == "content-type") {
            contentType = value;
        } else if (name == "content-encoding") {
            contentEncoding = value;
        } else if (name == "location") {
            location = value;
        }
    }

    m_keepConnection = !HasToken(connection, "close")
        && (version == "HTTP/1.1" || HasToken(connection, "keep-alive"));
    qint64 length = -1;
    const bool bodyless = status == 204 || status == 304;
    const bool chunked = !transferEncoding.isEmpty()
        && transferEncoding.split(',').last().trimmed().toLower() == "chunked";
    if (bodyless) {
        m_phase = Phase::Done;
    } else if (chunked) {
        m_phase = Phase::ChunkSize;
    } else if (!transferEncoding.isEmpty()) {
        m_phase = Phase::UntilClose;
        m_keepConnection = false;
    } else if (!contentLength.isNull()) {
        length = contentLength.toLongLong(&ok);
        if (!ok || length < 0 || lengthsDiffer) {
            Fail(QStringLiteral("bad Content-Length"));
            return false;
        }
        m_left = length;
        m_phase = length == 0 ? Phase::Done : Phase::Length;
    } else {
        m_phase = Phase::UntilClose;
        m_keepConnection = false;
    }

    if (IsRedirectStatus(status) && !location.isEmpty()) {
        QUrl target = QUrl::fromEncoded(location);
        if (!target.isValid())
            target = QUrl(QString::fromUtf8(location));
        m_redirectTarget = m_address.resolved(target);
        m_discard = true;
        return true;
    }
    if (status < 200 || status > 299) {
        Fail(QStringLiteral("HTTP status %1").arg(status));
        return false;
    }
    m_contentType = contentType;
    m_contentEncoding = contentEncoding.toLower();
    m_announcedLength = length;
    m_bodyStarted = true;
    return OpenBody();
}

// The whole response is in: state 8, then the file takes its name. Returns
// whether the request still runs.
bool Inet::FinishBody()
{
    const quint64 serial = m_serial;
    Raise(StateResponseReceived);
    if (!IsAlive(serial))
        return false;
    if (m_file) {
        if (!m_file->commit()) {
            Fail(QStringLiteral("cannot write \"%1\": %2").arg(m_saveFile, m_file->errorString()));
            return false;
        }
        m_file.reset();
    }
    return true;
}

// The response has ended on our connection.
void Inet::CompleteOwn()
{
    if (m_discard) {
        FollowRedirect();
        return;
    }
    if (!m_toFile && !DecodeText())
        return;
    const quint64 serial = m_serial;
    if (!FinishBody())
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    if (m_keepConnection) {
        KeepIdle(m_origin, socket);
    } else if (socket->state() == QAbstractSocket::ConnectedState) {
        Raise(StateClosing);
        if (!IsAlive(serial)) {
            DropSocket(socket);
            return;
        }
        socket->disconnect(this);
        socket->disconnectFromHost();
        const bool closed = socket->state() == QAbstractSocket::UnconnectedState;
        DropSocket(socket);
        if (closed) {
            Raise(StateClosed);
            if (!IsAlive(serial))
                return;
        }
    } else {
        DropSocket(socket);
    }
    Release();
    Raise(StateCompleted);
}

void Inet::FollowRedirect()
{
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    if (m_keepConnection)
        KeepIdle(m_origin, socket);
    else
        DropSocket(socket);

    const QUrl next = m_redirectTarget;   // StartOwn() forgets the response's fields
    const QUrl target = next.adjusted(QUrl::RemoveFragment);
    if (++m_redirects > MaxRedirects) {
        Fail(QStringLiteral("too many redirects"));
        return;
    }
    if (!target.isValid() || target.host().isEmpty()) {
        Fail(QStringLiteral("bad redirect address"));
        return;
    }
    if (m_visited.contains(target)) {
        Fail(QStringLiteral("redirect loop at \"%1\"").arg(target.toString()));
        return;
    }
    m_visited.insert(target);
    m_activity.restart();
    m_retried = false;
    if (target.scheme() == QLatin1String("https")) {
        StartThroughQt(next, MaxRedirects - m_redirects);
    } else if (target.scheme() != QLatin1String("http")) {
        Fail(QStringLiteral("redirect to an unsupported address: \"%1\"").arg(target.toString()));
    } else if (UsesOwnConnection(target)) {
        StartOwn(next);
    } else {
        StartThroughQt(next, MaxRedirects - m_redirects);
    }
}

// Undoes the compression a page came with; returns whether the request still
// runs.
bool Inet::DecodeText()
{
    const QByteArray encoding = m_contentEncoding;
    if (encoding.isEmpty() || encoding == "identity" || m_body.isEmpty())
        return true;
    if (encoding != "gzip" && encoding != "x-gzip" && encoding != "deflate")
        return true;   // not asked for; kept as it came

    auto inflateWith = [this](int windowBits, QByteArray *out) {
        z_stream stream{};
        if (inflateInit2(&stream, windowBits) != Z_OK)
            return false;
        stream.next_in = reinterpret_cast<Bytef *>(m_body.data());
        stream.avail_in = uInt(m_body.size());
        QByteArray piece(ReadPieceBytes, Qt::Uninitialized);
        int result = Z_OK;
        while (result == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef *>(piece.data());
            stream.avail_out = uInt(piece.size());
            result = inflate(&stream, Z_NO_FLUSH);
            const qsizetype produced = piece.size() - qsizetype(stream.avail_out);
            if (out->size() + produced > TextLimitBytes) {
                result = Z_MEM_ERROR;
                break;
            }
            out->append(piece.constData(), produced);
            if (result == Z_OK && stream.avail_in == 0 && produced == 0)
                break;   // input ended before the stream did
        }
        inflateEnd(&stream);
        return result == Z_STREAM_END;
    };
    QByteArray decoded;
    // gzip or zlib framing by its header; "deflate" is now and then raw.
    bool ok = inflateWith(15 + 32, &decoded);
    if (!ok && encoding == "deflate") {
        decoded.clear();
        ok = inflateWith(-15, &decoded);
    }
    if (!ok) {
        Fail(QStringLiteral("cannot decompress the page (%1)").arg(QString::fromLatin1(encoding)));
        return false;
    }
    m_body = decoded;
    return true;
}

QTcpSocket *Inet::TakeIdle(const QString &origin)
{
    QTcpSocket *socket = m_idle.take(origin);
    if (!socket)
        return nullptr;
    socket->disconnect(this);
    if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0) {
        DropSocket(socket);
        return nullptr;
    }
    return socket;
}

void Inet::KeepIdle(const QString &origin, QTcpSocket *socket)
{
    socket->disconnect(this);
    if (QTcpSocket *previous = m_idle.take(origin))
        DropSocket(previous);
    while (m_idle.size() >= IdleConnectionLimit)
        DropSocket(m_idle.take(m_idle.begin().key()));
    m_idle.insert(origin, socket);
    // An idle connection that the server closes or talks on is of no more use.
    auto forget = [this, origin, socket] {
        if (m_idle.value(origin) == socket)
            DropSocket(m_idle.take(origin));
    };
    connect(socket, &QTcpSocket::readyRead, this, forget);
    connect(socket, &QTcpSocket::disconnected, this, forget);
    connect(socket, &QTcpSocket::errorOccurred, this, forget);
}

void Inet::DropSocket(QTcpSocket *socket)
{
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
