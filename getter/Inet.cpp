#include "Inet.h"

#include "PartFile.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

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

bool IsFollowedRedirect(const QNetworkReply *reply, int status)
{
    switch (status) {
    case 301: case 302: case 303: case 305: case 307: case 308:
        return reply->hasRawHeader("Location");
    default:
        return false;
    }
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

    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
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

    m_activity.start();
    m_stallTimer.start(m_stallTimeoutMs);
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

    const quint64 serial = m_serial;
    Raise(StateResponseReceived);
    if (!IsAlive(serial))
        return;
    if (m_file) {
        if (!m_file->commit()) {
            Fail(QStringLiteral("cannot write \"%1\": %2").arg(m_saveFile, m_file->errorString()));
            return;
        }
        m_file.reset();
    }
    Release();
    Raise(StateCompleted);
}

void Inet::OnStalled()
{
    if (!m_busy || !m_reply)
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
        if (m_file) {
            if (m_file->write(m_readBuffer.constData(), n) != n) {
                Fail(QStringLiteral("cannot write \"%1\": %2").arg(m_saveFile, m_file->errorString()));
                return false;
            }
        } else {
            if (m_body.size() + n > TextLimitBytes) {
                Fail(QStringLiteral("text body over %1 bytes").arg(TextLimitBytes));
                return false;
            }
            m_body.append(m_readBuffer.constData(), n);
        }
        m_received += n;
        readNow += n;
        if (m_abortCheck && m_abortCheck()) {
            Cancel();
            return false;
        }
    }
    if (readNow > 0)
        Q_EMIT BodyProgress(m_received);
    return IsAlive(serial);
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
