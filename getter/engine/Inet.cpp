#include "Inet.h"

#include "ContentDecoder.h"
#include "CurlMulti.h"
#include "PartFile.h"
#include "Session.h"
#include "TransferRules.h"

#include "core/Shared.h"
#include "core/WebAddress.h"

#include <QFile>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>

#include <utility>

using namespace kiro;

namespace {

constexpr int MaxRedirects = 10;
// A body kept in memory is a page to analyse; anything larger, compressed or
// not, is not one and would only exhaust memory.
constexpr qint64 TextLimitBytes = 64 * 1024 * 1024;
constexpr long ReadBufferBytes = 512 * 1024;
// The body of a redirect or an error answer is read, up to this much, only so
// that its connection can serve the next request.
constexpr qint64 DiscardLimitBytes = 64 * 1024;
// Interim (1xx) answers before the real one; more is a server gone wrong.
constexpr int InterimLimit = 32;
constexpr int DefaultStallMs = 60 * 1000;
constexpr int DefaultRetryWaitMs = 1000;

// Every entry of the pending list is a state or, as Progress, the bytes kept.
constexpr int Progress = -1;

struct TrustedCa {
    QStringList paths;
    int generation = 0;
};

TrustedCa &ExtraCa()
{
    static TrustedCa ca;
    return ca;
}

bool IsRedirectStatus(int status)
{
    switch (status) {
    case 301: case 302: case 303: case 307: case 308:
        return true;
    default:
        return false;
    }
}

bool IsTransientFailure(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:      // refused
    case CURLE_OPERATION_TIMEDOUT:   // connect time-out or stall
    case CURLE_SEND_ERROR:           // reset
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:          // closed without an answer
    case CURLE_PARTIAL_FILE:         // cut short
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

QByteArray ReadFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Every value of the field in the answer libcurl has just read, in order.
QList<QByteArray> FieldValues(CURL *easy, const char *name, unsigned int origin = CURLH_HEADER)
{
    QList<QByteArray> values;
    curl_header *field = nullptr;
    for (size_t index = 0; curl_easy_header(easy, name, index, origin, -1, &field) == CURLHE_OK; ++index) {
        values.append(QByteArray(field->value));
        if (index + 1 >= field->amount)
            break;
    }
    return values;
}

QByteArray LastFieldValue(CURL *easy, const char *name)
{
    const QList<QByteArray> values = FieldValues(easy, name);
    return values.isEmpty() ? QByteArray() : values.constLast();
}

} // namespace

struct Inet::Private : CurlMulti::Client {
    Private(Inet *owner, CurlMulti *shared);
    ~Private() override;

    // CurlMulti::Client
    void TransferFinished(CURL *handle, int code) override { OnFinished(handle, CURLcode(code)); }
    void Stepped() override;
    void ConnectionClosing(bool closed) override;

    enum class Use { None, Keep, Discard };
    enum class Kind { None, Body, Redirect, ErrorStatus };

    // The current try's answer, as its head tells it.
    struct Answer {
        int status = 0;
        bool final = false;   // a non-interim head has ended: later lines are trailers
        int interim = 0;
        qint64 contentLength = -1;
        QByteArray contentType;
        QByteArray contentEncoding;
        QByteArray etag;
        QByteArray lastModified;
        QByteArray acceptRanges;
        QByteArray contentRange;
        qint64 retryAfterMs = -1;   // the wait a Retry-After field asks for
        QByteArray location;       // the Location field
        bool chunks = false;       // the body comes in chunks (HTTP/1.1)
        QList<QByteArray> setCookies;
    };

    Inet *q;
    std::unique_ptr<CurlMulti> ownMulti;
    CurlMulti *multi;
    CURL *easy = nullptr;
    curl_slist *headers = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QTimer retryTimer;
    QPointer<Session> session;
    std::function<bool()> abortCheck;
    int stallMs = DefaultStallMs;
    int retryWaitMs = DefaultRetryWaitMs;
    int caGeneration = 0;

    QString nextSaveFile;
    bool nextToFile = false;
    FileEnd nextFileEnd = FileEnd::InPlace;
    QString nextReferer;
    qint64 nextSkipAtOrBelow = -1;
    QUrl cookieSite;

    // The request
    quint64 serial = 0;
    bool busy = false;
    bool inMulti = false;
    bool toFile = false;
    FileEnd fileEnd = FileEnd::InPlace;
    QString saveFile;
    QUrl refererPage;              // the page the request is made from
    QUrl address;                  // of the current hop
    QSet<QByteArray> sentRequests; // address and cookies of every hop
    int redirects = 0;
    int tries = 0;
    QString errorString;
    qint64 skipAtOrBelow = -1;     // a file announced at or below this size is not fetched
    bool skippedAtHead = false;

    // The body, across tries
    std::unique_ptr<PartFile> file;
    std::unique_ptr<PartFile> finishedFile;   // complete, for the caller to name
    ContentDecoder decoder;        // a page's codings
    QByteArray body;
    QByteArray contentType;
    qint64 received = 0;
    qint64 progressQueued = -1;
    bool bodyStarted = false;      // a 2xx answer's body is being kept
    bool resumable = false;        // the kept part may be continued with a range
    qint64 resumeFrom = 0;         // asked for with the current try
    qint64 resumeTotal = -1;
    QByteArray resumeETag;
    QByteArray resumeLastModified;

    // The current try
    Answer answer;
    Kind kind = Kind::None;
    Use use = Use::None;
    qint64 discarded = 0;
    QString fault;                 // ends the request whatever the tries left
    bool requestHttp2 = false;     // the current try went out as HTTP/2
    bool watchingChunks = false;
    ChunkFramingCheck chunkCheck;
    QString retryFault;            // the try failed; another may succeed
    bool abortedByCheck = false;

    // States
    QList<QPair<int, qint64>> pending;
    int lastState = -1;
    bool resolving = false;
    bool connecting = false;
    bool requestOut = false;
    bool requestSent = false;

    void Start(const QUrl &url, bool toFileNow);
    void Begin();
    void ApplyTrustedCa();
    void OnFinished(CURL *handle, CURLcode result);
    void Follow();
    void Retry(const QString &reason);
    void Complete();
    void Fail(const QString &reason);
    void FailLater(const QString &reason);
    void Release();

    bool OnHeadEnd();
    bool Keep(const char *data, size_t size);
    bool RestartBody();
    QString CurlFailure(CURLcode code) const;

    void Queue(int state) { pending.append({state, 0}); }
    void QueueProgress();
    void QueueBeforeClose(int state, qint64 value = 0);
    void Flush();

    bool ReadHead();
    static size_t OnHeader(char *buffer, size_t size, size_t count, void *self);
    static size_t OnWrite(char *data, size_t size, size_t count, void *self);
    static int OnResolverStart(void *, void *, void *self);
    static int OnSocketOption(void *self, curl_socket_t, curlsocktype purpose);
    static int OnRequestReady(void *self, char *, char *, int, int);
    static int OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self);
};

Inet::Private::Private(Inet *owner, CurlMulti *shared)
    : q(owner)
    , ownMulti(shared ? nullptr : std::make_unique<CurlMulti>(owner))
    , multi(shared ? shared : ownMulti.get())
{
    easy = curl_easy_init();
    multi->Adopt(easy);
    multi->Attach(this);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, hop by hop, each with its own cookies.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // A proxy's answer to CONNECT is not the server's.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReadBufferBytes);
    // Pages are decoded by ContentDecoder, files are kept as they come.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Private::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Private::OnWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &Private::OnResolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Private::OnSocketOption);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Private::OnRequestReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    // The request line as sent and the body as it came, before libcurl takes
    // its framing off: what the checks of an answer's framing look at.
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &Private::OnDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    // As the curl tool does: this variable names the authorities to trust.
    const QByteArray bundle = qgetenv("CURL_CA_BUNDLE");
    if (!bundle.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, bundle.constData());

    retryTimer.setSingleShot(true);
    QObject::connect(&retryTimer, &QTimer::timeout, q, [this] { Begin(); });
}

Inet::Private::~Private()
{
    retryTimer.stop();
    busy = false;
    if (inMulti)
        multi->Remove(easy);
    multi->Detach(this);
    // An own multi handle closes its kept connections first, while the
    // callbacks they carry can still run; a shared one keeps them.
    ownMulti.reset();
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
}

void Inet::Private::Stepped()
{
    // The request has gone out once libcurl has counted its bytes.
    if (busy && requestOut && !requestSent) {
        long sent = 0;
        if (curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &sent) == CURLE_OK && sent > 0) {
            requestSent = true;
            Queue(StateRequestSent);
        }
    }
    if (busy)
        QueueProgress();
    Flush();
}

void Inet::Private::Start(const QUrl &url, bool toFileNow)
{
    toFile = toFileNow;
    address = url;
    redirects = 0;
    tries = 0;
    sentRequests.clear();
    sentRequests.insert(url.toEncoded() + '\n'
                        + (session ? session->CookieHeaderFor(url, cookieSite) : QByteArray()));
    Begin();
}

// Sends the current hop's request: the first, a redirect's or a new try.
void Inet::Private::Begin()
{
    answer = Answer();
    kind = Kind::None;
    use = Use::None;
    discarded = 0;
    retryFault.clear();
    abortedByCheck = false;
    requestHttp2 = false;
    watchingChunks = false;
    resolving = connecting = requestOut = requestSent = false;
    errorBuffer[0] = '\0';

    const QByteArray url = address.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    // A request to a host that may offer HTTP/2 waits for the connection
    // being made rather than opening one more beside it: over TLS the
    // handshake tells within a round trip. Plain http stays HTTP/1.1, and
    // waiting would hold every request back until the first answer came.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, address.scheme() == QLatin1String("https") ? 1L : 0L);

    curl_slist_free_all(headers);
    headers = nullptr;
    headers = curl_slist_append(headers, QByteArray("Accept-Language: " + kiro::AcceptLanguage).constData());
    if (toFile)
        headers = curl_slist_append(headers, "Accept-Encoding: identity");
    resumeFrom = resumable ? received : 0;
    if (resumeFrom > 0) {
        const QByteArray validator = IsStrongEntityTag(resumeETag) ? resumeETag : resumeLastModified;
        headers = curl_slist_append(headers, QByteArray("If-Range: " + validator).constData());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_RANGE,
                     resumeFrom > 0 ? QByteArray(QByteArray::number(resumeFrom) + '-').constData() : nullptr);
    // A file is the server's bytes; a page may come compressed.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, toFile ? nullptr : "gzip, deflate");
    // Kept for the next request unless this one's answer makes it doubtful.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 0L);

    const QByteArray cookies = session ? session->CookieHeaderFor(address, cookieSite) : QByteArray();
    curl_easy_setopt(easy, CURLOPT_COOKIE, cookies.isEmpty() ? nullptr : cookies.constData());
    const QByteArray userAgent = session ? session->UserAgent() : Session::DefaultUserAgent();
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.constData());
    // Worked out for every hop: a redirect to another origin or to http
    // gets less of the page's address, or nothing.
    const QByteArray referer = RefererValue(refererPage, address);
    curl_easy_setopt(easy, CURLOPT_REFERER, referer.isEmpty() ? nullptr : referer.constData());

    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long((stallMs + 999) / 1000));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(stallMs));
    ApplyTrustedCa();

    inMulti = multi->Add(easy, this);
    if (!inMulti)
        FailLater(QStringLiteral("the transfer could not be started"));
}

void Inet::Private::ApplyTrustedCa()
{
    const TrustedCa &extra = ExtraCa();
    if (caGeneration == extra.generation)
        return;
    caGeneration = extra.generation;
    if (extra.paths.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, nullptr);
        return;
    }
    // Added to the authorities libcurl trusts anyway, not in their place.
    QByteArray pem;
    const QByteArray bundle = qgetenv("CURL_CA_BUNDLE");
    if (!bundle.isEmpty()) {
        pem = ReadFileBytes(QString::fromLocal8Bit(bundle));
    } else {
        char *defaultBundle = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &defaultBundle) == CURLE_OK && defaultBundle)
            pem = ReadFileBytes(QString::fromLocal8Bit(defaultBundle));
    }
    for (const QString &path : extra.paths)
        pem += '\n' + ReadFileBytes(path);
    curl_blob blob{pem.data(), size_t(pem.size()), CURL_BLOB_COPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}

// ---------------------------------------------------------------------------
// libcurl's callbacks. They only note what happened; states are raised from
// Flush(), once libcurl has returned, so that no handler ever runs inside it.

size_t Inet::Private::OnHeader(char *buffer, size_t size, size_t count, void *self)
{
    auto *d = static_cast<Private *>(self);
    const size_t length = size * count;
    Answer &a = d->answer;
    if (a.final)
        return length;   // trailer fields after the body

    const QByteArrayView line = QByteArrayView(buffer, qsizetype(length)).trimmed();
    if (line.startsWith("HTTP/")) {
        // libcurl reads an HTTP/2 status line on an HTTP/1.1 connection as
        // if it were one of HTTP/1.1.
        if ((line.startsWith("HTTP/2") || line.startsWith("HTTP/3")) && !d->requestHttp2) {
            d->fault = QStringLiteral("a status line of another protocol: \"%1\"")
                           .arg(QString::fromLatin1(line.first(std::min<qsizetype>(line.size(), 40))));
            return 0;
        }
        if (!d->requestSent) {
            d->requestSent = true;
            d->Queue(StateRequestSent);
        }
        d->Queue(StateReceivingResponse);
        const int interim = a.interim;
        a = Answer();
        a.interim = interim;
        // libcurl has read this answer's status line before it hands it on.
        long status = 0;
        curl_easy_getinfo(d->easy, CURLINFO_RESPONSE_CODE, &status);
        a.status = int(status);
        return length;
    }
    if (line.isEmpty()) {
        if (a.status >= 100 && a.status < 200) {
            if (++a.interim > InterimLimit) {
                d->fault = QStringLiteral("more than %1 interim answers").arg(InterimLimit);
                return 0;
            }
            return length;
        }
        a.final = true;
        return d->ReadHead() && d->OnHeadEnd() ? length : 0;
    }

    return length;
}

// The final answer's fields, as libcurl has read them.
bool Inet::Private::ReadHead()
{
    Answer &a = answer;
    // libcurl takes the last of several lengths, and reads on to the close
    // past one beyond its range: either way, the body's end is in doubt.
    for (const QByteArray &value : FieldValues(easy, "Content-Length")) {
        const qint64 n = ContentLengthValue(value);
        if (n < 0 || (a.contentLength >= 0 && n != a.contentLength)) {
            fault = n < 0 ? QStringLiteral("an unusable Content-Length: \"%1\"")
                                .arg(QString::fromLatin1(value.left(40)))
                          : QStringLiteral("differing Content-Length values");
            return false;
        }
        a.contentLength = n;
    }
    for (const QByteArray &value : FieldValues(easy, "Transfer-Encoding"))
        a.chunks = a.chunks || HasToken(value, "chunked");
    a.contentType = LastFieldValue(easy, "Content-Type");
    a.contentEncoding = LastFieldValue(easy, "Content-Encoding").toLower();
    a.etag = LastFieldValue(easy, "ETag");
    a.lastModified = LastFieldValue(easy, "Last-Modified");
    a.acceptRanges = LastFieldValue(easy, "Accept-Ranges");
    a.contentRange = LastFieldValue(easy, "Content-Range");
    a.location = LastFieldValue(easy, "Location");
    // libcurl gives the wait in seconds, a date already turned into the
    // seconds from now.
    if (!FieldValues(easy, "Retry-After").isEmpty()) {
        // It reads 0 for a value it cannot read too: the engine's own wait
        // holds then.
        curl_off_t seconds = 0;
        curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &seconds);
        if (seconds > 0)
            a.retryAfterMs = seconds > RetryAfterLimitMs ? RetryAfterLimitMs + 1 : qint64(seconds) * 1000;
    }
    // An interim answer may set cookies too.
    a.setCookies = FieldValues(easy, "Set-Cookie", CURLH_HEADER | CURLH_1XX);
    return true;
}

// The final answer's head is in: decides what its body is for. Returns false
// to end the try at once.
bool Inet::Private::OnHeadEnd()
{
    Answer &a = answer;
    if (IsRedirectStatus(a.status)) {
        kind = Kind::Redirect;
        use = Use::Discard;
        return true;
    }
    if (a.status < 200 || a.status > 299) {
        kind = Kind::ErrorStatus;
        use = Use::Discard;
        return true;
    }

    kind = Kind::Body;
    // A length announced and then not gone by (another framing came with
    // it): libcurl reads the body as that framing says, and the connection
    // is not trusted with another request.
    curl_off_t framedLength = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &framedLength);
    if (a.contentLength >= 0 && framedLength != a.contentLength)
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    const bool identity = a.contentEncoding.isEmpty() || a.contentEncoding == "identity";
    if (a.status == 206) {
        if (resumeFrom <= 0) {
            fault = QStringLiteral("a partial answer (206) that was not asked for");
            return false;
        }
        const ContentRange range = ParseContentRange(a.contentRange);
        const bool fits = range.valid && range.first == resumeFrom
            && (resumeTotal < 0 || range.total == resumeTotal)
            && (resumeETag.isEmpty() || a.etag == resumeETag)
            && (resumeLastModified.isEmpty() || a.lastModified == resumeLastModified);
        if (!fits) {
            // The next try starts from the beginning.
            resumable = false;
            retryFault = QStringLiteral("the continued part does not fit (%1)")
                             .arg(QString::fromLatin1(a.contentRange));
            return false;
        }
    } else {
        // The whole body, from its start: whatever an earlier try kept goes.
        if ((received > 0 || resumeFrom > 0) && !RestartBody())
            return false;
        resumeTotal = a.contentLength;
        resumeETag = a.etag;
        resumeLastModified = a.lastModified;
        resumable = HasToken(a.acceptRanges, "bytes") && a.contentLength > 0
            && (IsStrongEntityTag(a.etag) || !a.lastModified.isEmpty()) && (toFile || identity);
    }
    if (contentType.isEmpty() || a.status != 206)
        contentType = a.contentType;

    // A file announced at or below the size wanted is not fetched.
    if (toFile && a.status != 206 && skipAtOrBelow >= 0 && a.contentLength >= 0
        && a.contentLength <= skipAtOrBelow) {
        skippedAtHead = true;
        if (file) {
            file->cancelWriting();
            file.reset();
        }
        received = 0;
        // HTTP/2 resets the stream and keeps the connection; HTTP/1.1 reads a
        // short body away to keep it, and closes it rather than read a long one.
        if (requestHttp2 || a.contentLength > DiscardLimitBytes)
            return false;
        use = Use::Discard;
        return true;
    }

    if (toFile && !file) {
        file = std::make_unique<PartFile>(saveFile);
        if (!file->open()) {
            fault = QStringLiteral("cannot create \"%1\": %2").arg(saveFile, file->errorString());
            file.reset();
            return false;
        }
    }
    if (!toFile && a.status != 206) {
        const bool known = decoder.Start(a.contentEncoding, [this](const char *data, qsizetype size) {
            if (body.size() + size > TextLimitBytes) {
                fault = QStringLiteral("text body over %1 bytes").arg(TextLimitBytes);
                return false;
            }
            body.append(data, size);
            return true;
        });
        if (!known) {
            fault = decoder.errorString();
            return false;
        }
    }
    use = Use::Keep;
    bodyStarted = true;
    watchingChunks = a.chunks && !requestHttp2;
    if (watchingChunks)
        chunkCheck.Reset();
    QueueProgress();
    return true;
}

size_t Inet::Private::OnWrite(char *data, size_t size, size_t count, void *self)
{
    auto *d = static_cast<Private *>(self);
    const size_t length = size * count;
    switch (d->use) {
    case Use::Discard:
        d->discarded += qint64(length);
        return d->discarded > DiscardLimitBytes ? 0 : length;
    case Use::Keep:
        if (!d->fault.isEmpty() || !d->Keep(data, length))
            return 0;
        if (d->abortCheck && d->abortCheck()) {
            d->abortedByCheck = true;
            return 0;
        }
        return length;
    case Use::None:
        break;
    }
    return 0;
}

bool Inet::Private::Keep(const char *data, size_t size)
{
    if (file) {
        if (file->write(data, qint64(size)) != qint64(size)) {
            fault = QStringLiteral("cannot write \"%1\": %2").arg(saveFile, file->errorString());
            return false;
        }
    } else if (!decoder.Write(data, qsizetype(size))) {
        if (fault.isEmpty())
            fault = decoder.errorString();
        return false;
    }
    received += qint64(size);
    return true;
}

bool Inet::Private::RestartBody()
{
    body.clear();
    received = 0;
    resumable = false;
    if (file && !file->restart()) {
        fault = QStringLiteral("cannot write \"%1\": %2").arg(saveFile, file->errorString());
        return false;
    }
    return true;
}

int Inet::Private::OnResolverStart(void *, void *, void *self)
{
    auto *d = static_cast<Private *>(self);
    d->resolving = true;
    d->Queue(StateResolving);
    return 0;
}

int Inet::Private::OnSocketOption(void *self, curl_socket_t socket, curlsocktype purpose)
{
    auto *d = static_cast<Private *>(self);
    if (purpose == CURLSOCKTYPE_IPCXN) {
        d->multi->NoteSocket(int(socket), d);
        if (d->resolving) {
            d->resolving = false;
            d->Queue(StateResolved);
        }
        d->connecting = true;
        d->Queue(StateConnecting);
    }
    return CURL_SOCKOPT_OK;
}

int Inet::Private::OnRequestReady(void *self, char *, char *, int, int)
{
    auto *d = static_cast<Private *>(self);
    if (d->connecting) {
        d->connecting = false;
        d->Queue(StateConnected);
    }
    d->requestOut = true;
    d->Queue(StateSendingRequest);
    return CURL_PREREQFUNC_OK;
}

int Inet::Private::OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    auto *d = static_cast<Private *>(self);
    if (!d->busy)
        return 0;
    if (type == CURLINFO_HEADER_OUT) {
        // The request line, as libcurl writes it for HTTP/2 too.
        const QByteArrayView text(data, qsizetype(size));
        const qsizetype end = text.indexOf('\r');
        const QByteArrayView first = end < 0 ? text : text.first(end);
        if (first.startsWith("GET "))
            d->requestHttp2 = first.endsWith(" HTTP/2") || first.endsWith(" HTTP/3");
    } else if (type == CURLINFO_DATA_IN && d->watchingChunks && d->use == Use::Keep
               && d->fault.isEmpty()) {
        if (!d->chunkCheck.Take(QByteArrayView(data, qsizetype(size))))
            d->fault = QStringLiteral("a malformed chunk size line");
    }
    return 0;
}

void Inet::Private::ConnectionClosing(bool closed)
{
    // Only the connection that carried this request is news; idle ones
    // libcurl lets go, or a failed attempt to connect, are not.
    if (!busy || !requestOut)
        return;
    Queue(closed ? StateClosed : StateClosing);
    if (closed)
        requestOut = false;
}

// ---------------------------------------------------------------------------

void Inet::Private::OnFinished(CURL *handle, CURLcode result)
{
    if (handle != easy || !inMulti)
        return;
    inMulti = false;
    if (!busy)
        return;

    if (session && !answer.setCookies.isEmpty())
        session->TakeResponseCookies(answer.setCookies, address, cookieSite);
    QueueProgress();
    if (abortedByCheck) {
        q->Cancel();
        return;
    }
    if (skippedAtHead) {
        QueueBeforeClose(StateResponseReceived);
        busy = false;
        Queue(StateCompleted);
        return;
    }
    if (!fault.isEmpty()) {
        Fail(fault);
        return;
    }
    if (!retryFault.isEmpty()) {
        Retry(retryFault);
        return;
    }

    // Whatever became of a redirect's body (cut here when it runs long), its
    // head named the next address.
    if (kind == Kind::Redirect) {
        Follow();
        return;
    }
    if (kind == Kind::ErrorStatus) {
        const QString reason = QStringLiteral("HTTP status %1").arg(answer.status);
        if (IsTransientStatus(answer.status))
            Retry(reason);
        else
            Fail(reason);
        return;
    }
    if (kind == Kind::Body && result == CURLE_OK) {
        Complete();
        return;
    }
    if (result == CURLE_OK) {
        Fail(QStringLiteral("no answer came"));
        return;
    }
    if (IsTransientFailure(result))
        Retry(CurlFailure(result));
    else
        Fail(CurlFailure(result));
}

void Inet::Private::Follow()
{
    QueueBeforeClose(StateResponseReceived);
    // Read from the head, not from libcurl, which forgets it when the body is
    // cut short.
    const QUrl next = answer.location.isEmpty()
        ? QUrl()
        : address.resolved(QUrl(QString::fromUtf8(answer.location), QUrl::TolerantMode));
    if (!next.isValid() || next.host().isEmpty()) {
        Fail(QStringLiteral("a redirect without a usable address"));
        return;
    }
    const QString scheme = next.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        Fail(QStringLiteral("a redirect to \"%1\" is not followed").arg(next.toString()));
        return;
    }
    if (++redirects > MaxRedirects) {
        Fail(QStringLiteral("more than %1 redirects").arg(MaxRedirects));
        return;
    }
    const QUrl target = next.adjusted(QUrl::RemoveFragment);
    const QByteArray request = target.toEncoded() + '\n'
        + (session ? session->CookieHeaderFor(target, cookieSite) : QByteArray());
    if (sentRequests.contains(request)) {
        Fail(QStringLiteral("a redirect loop at \"%1\"").arg(target.toString()));
        return;
    }
    sentRequests.insert(request);
    address = target;
    tries = 0;
    resumable = false;
    Begin();
}

void Inet::Private::Retry(const QString &reason)
{
    if (tries + 1 >= TransferTries) {
        Fail(reason + QStringLiteral(" (after %1 tries)").arg(TransferTries));
        return;
    }
    qint64 waitMs = RetryWaitMs(tries + 2, retryWaitMs);
    if (answer.retryAfterMs > RetryAfterLimitMs) {
        Fail(reason + QStringLiteral(" (the server asks to wait %1 s)").arg(answer.retryAfterMs / 1000));
        return;
    }
    if (answer.retryAfterMs >= 0)
        waitMs = answer.retryAfterMs;
    ++tries;
    // What was kept stays only when the next try can continue it.
    if (!resumable && received > 0 && !RestartBody()) {
        Fail(fault);
        return;
    }
    QueueProgress();
    retryTimer.start(int(waitMs));
    // The server asked for a pause: its other requests had better wait too.
    if (answer.retryAfterMs >= 0 && (answer.status == 429 || answer.status == 503))
        Q_EMIT q->ServerAskedToWait(address.host(), waitMs);
}

void Inet::Private::Complete()
{
    QueueProgress();
    if (!toFile && !decoder.Finish()) {
        Fail(decoder.errorString());
        return;
    }
    if (file && fileEnd == FileEnd::HandOver) {
        finishedFile = std::move(file);
    } else if (file) {
        if (!file->commit()) {
            Fail(QStringLiteral("cannot write \"%1\": %2").arg(saveFile, file->errorString()));
            return;
        }
        file.reset();
    }
    QueueBeforeClose(StateResponseReceived);
    busy = false;
    Queue(StateCompleted);
}

void Inet::Private::Fail(const QString &reason)
{
    errorString = reason;
    Release();
    Queue(StateError);
}

// An error found before the request went out still reaches the caller from
// the event loop, where it waits for it.
void Inet::Private::FailLater(const QString &reason)
{
    const quint64 at = serial;
    QTimer::singleShot(0, q, [this, at, reason] {
        if (at != serial || !busy)
            return;
        Fail(reason);
        Flush();
    });
}

// Ends the request's work; the states already noted are still raised.
void Inet::Private::Release()
{
    busy = false;
    retryTimer.stop();
    if (inMulti) {
        multi->Remove(easy);
        inMulti = false;
    }
    if (file) {
        file->cancelWriting();
        file.reset();
    }
    body.clear();
}

QString Inet::Private::CurlFailure(CURLcode code) const
{
    const QString detail = errorBuffer[0] ? QString::fromLocal8Bit(errorBuffer)
                                          : QString::fromLatin1(curl_easy_strerror(code));
    if (code == CURLE_OPERATION_TIMEDOUT)
        return QStringLiteral("no data for %1 s (%2)").arg((stallMs + 999) / 1000).arg(detail);
    return detail;
}

void Inet::Private::QueueProgress()
{
    if (!bodyStarted || received == progressQueued)
        return;
    progressQueued = received;
    QueueBeforeClose(Progress, received);
}

// Notes what came before the closing of the connection just noted: libcurl
// closes it before it reports the transfer done.
void Inet::Private::QueueBeforeClose(int state, qint64 value)
{
    qsizetype at = pending.size();
    while (at > 0 && (pending.at(at - 1).first == StateClosing || pending.at(at - 1).first == StateClosed))
        --at;
    pending.insert(at, {state, value});
}

void Inet::Private::Flush()
{
    const quint64 at = serial;
    while (!pending.isEmpty() && at == serial) {
        const QPair<int, qint64> entry = pending.takeFirst();
        if (entry.first == Progress) {
            Q_EMIT q->BodyProgress(entry.second);
            continue;
        }
        const int state = entry.first;
        // The same observation twice in a row is not news.
        if (state == lastState && state != StateError && state != StateCompleted)
            continue;
        lastState = state;
        Q_EMIT q->StateChanged(state);
    }
}

// ---------------------------------------------------------------------------

Inet::Inet(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this, nullptr))
{
}

Inet::Inet(CurlMulti &multi, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this, &multi))
{
}

Inet::~Inet()
{
    Cancel();
}

void Inet::Execute(const QString &url, const QString &operation)
{
    Cancel();
    d->toFile = std::exchange(d->nextToFile, false);
    d->fileEnd = std::exchange(d->nextFileEnd, FileEnd::InPlace);
    d->saveFile = std::exchange(d->nextSaveFile, QString());
    const QString referer = std::exchange(d->nextReferer, QString());
    d->skipAtOrBelow = std::exchange(d->nextSkipAtOrBelow, -1);
    d->skippedAtHead = false;
    d->body.clear();
    d->contentType.clear();
    d->errorString.clear();
    d->received = 0;
    d->progressQueued = -1;
    d->bodyStarted = false;
    d->resumable = false;
    d->resumeFrom = 0;
    d->resumeTotal = -1;
    d->resumeETag.clear();
    d->resumeLastModified.clear();
    d->fault.clear();
    d->lastState = -1;
    d->busy = true;

    if (operation.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0) {
        d->FailLater(QStringLiteral("unsupported operation: %1").arg(operation));
        return;
    }
    // The one door every address of a page, a server or a file passes.
    if (HasControlCharacter(url) || HasControlCharacter(referer)) {
        d->FailLater(QStringLiteral("an address or Referer with control characters"));
        return;
    }
    d->refererPage = referer.trimmed().isEmpty() ? QUrl()
                                                 : QUrl(referer.trimmed(), QUrl::TolerantMode);
    const QUrl address = QUrl(url.trimmed(), QUrl::TolerantMode).adjusted(QUrl::RemoveFragment);
    const QString scheme = address.scheme();
    if (!address.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || address.host().isEmpty()) {
        d->FailLater(QStringLiteral("not an http or https address: \"%1\"").arg(url));
        return;
    }
    d->Start(address, d->toFile);
}

void Inet::Cancel()
{
    ++d->serial;
    d->Release();
    d->finishedFile.reset();
    d->pending.clear();
}

bool Inet::StillExecuting() const
{
    return d->busy;
}

void Inet::SetSaveFile(const QString &path, FileEnd end)
{
    d->nextSaveFile = path;
    d->nextToFile = true;
    d->nextFileEnd = end;
}

std::unique_ptr<PartFile> Inet::TakeFinishedFile()
{
    return std::move(d->finishedFile);
}

void Inet::SetSkipAtOrBelow(qint64 bytes)
{
    d->nextSkipAtOrBelow = bytes;
}

bool Inet::SkippedAtHead() const
{
    return d->skippedAtHead;
}

void Inet::SetReferer(const QString &referer)
{
    d->nextReferer = referer;
}

void Inet::SetCookieSite(const QString &page)
{
    const QString text = page.trimmed();
    d->cookieSite = text.isEmpty() || HasControlCharacter(text) ? QUrl() : QUrl(text, QUrl::TolerantMode);
}

void Inet::SetSession(Session *session)
{
    d->session = session;
}

void Inet::SetAbortCheck(std::function<bool()> check)
{
    d->abortCheck = std::move(check);
}

void Inet::setStallTimeout(int ms)
{
    d->stallMs = std::max(1, ms);
}

int Inet::stallTimeout() const
{
    return d->stallMs;
}

void Inet::setRetryWait(int ms)
{
    d->retryWaitMs = std::max(0, ms);
}

qint64 Inet::BytesReceived() const
{
    return d->received;
}

QByteArray Inet::TakeBody()
{
    return std::exchange(d->body, QByteArray());
}

QByteArray Inet::ContentType() const
{
    return d->contentType;
}

QString Inet::ErrorString() const
{
    return d->errorString;
}

void Inet::AddTrustedCaFile(const QString &path)
{
    TrustedCa &ca = ExtraCa();
    if (ca.paths.contains(path))
        return;
    ca.paths.append(path);
    ++ca.generation;
}

void Inet::RemoveTrustedCaFile(const QString &path)
{
    TrustedCa &ca = ExtraCa();
    if (ca.paths.removeAll(path) > 0)
        ++ca.generation;
}
