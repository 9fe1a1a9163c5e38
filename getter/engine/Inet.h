#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CurlMulti;
class PartFile;
class Session;

// The getter's transfer component: one HTTP or HTTPS GET at a time on
// libcurl, driven by the event loop, with connections kept for the next
// request. It reports through StateChanged with the numbers below. Every
// request that is not cancelled ends with exactly one StateError or
// StateCompleted; a cancelled one reports nothing more.
//
// A request's body goes either into memory (TakeBody() after StateCompleted;
// at most 64 MiB after decompression, a larger one is an error) or, when
// SetSaveFile() named a path before Execute(), to a file: into a temporary
// file in the path's folder (made once 256 KiB have come; a smaller body is
// written at its end) that takes the path's name only once the body is
// complete and intact, or, with FileEnd::HandOver, is handed to the caller
// complete but unnamed, to put in place itself. After an error or a cancel
// nothing of it remains on disk. A file is the server's bytes: it is asked
// for without compression and never decoded.
//
// Any status outside 2xx, a partial answer that was not asked for, a body cut
// short, a TLS failure and a stall are errors; so are answers whose framing
// is in doubt though libcurl would read them (differing or unreadable
// Content-Length values, another protocol's status line, a malformed chunk
// size). An address or Referer with a control character is never sent. Redirects are followed to http
// and https only, at most 10; a request repeated unchanged is a loop. A
// refused or reset connection, a time-out and the statuses 408, 429, 500,
// 502, 503 and 504 are tried again, three tries in all, after growing waits or
// the server's Retry-After (up to 30 s); a body cut short continues with a
// byte range when the server offers ranges and the resource is unchanged.
// Proxies come from the environment as curl reads them (http_proxy,
// https_proxy, no_proxy).
class Inet : public QObject
{
    Q_OBJECT

public:
    enum State {
        StateResolving = 1,         // a name look-up starts
        StateResolved = 2,          // the look-up gave an address (a socket is made)
        StateConnecting = 3,        // a new connection starts
        StateConnected = 4,         // connected (for HTTPS: the TLS handshake is done)
        StateSendingRequest = 5,    // the request goes out on a new or kept connection
        StateRequestSent = 6,
        StateReceivingResponse = 7, // the response's first line arrived
        StateResponseReceived = 8,  // the whole response arrived
        StateClosing = 9,           // the connection that carried the request is closed
        StateClosed = 10,
        StateError = 11,
        StateCompleted = 12,        // the body is complete (and the file in place, or handed over)
    };

    // With a multi handle of its own: its connections are its own.
    explicit Inet(QObject *parent = nullptr);
    // On a multi handle shared with other transfers, and their connections;
    // it must outlive this Inet.
    explicit Inet(CurlMulti &multi, QObject *parent = nullptr);
    ~Inet() override;

    // Starts a request and returns at once; a request still running is
    // cancelled first. Only "GET" of an http or https address is done; any
    // other request ends with StateError, raised from the event loop.
    void Execute(const QString &url, const QString &operation);

    // Ends the running request, if any (a retry wait included), and throws
    // away what it received.
    void Cancel();

    bool StillExecuting() const;

    enum class FileEnd {
        InPlace,    // the file takes its name before StateCompleted
        HandOver,   // TakeFinishedFile() hands it over after StateCompleted
    };
    // For the next Execute() only: the body goes to this file, not memory.
    void SetSaveFile(const QString &path, FileEnd end = FileEnd::InPlace);
    // The complete file of the last request made with FileEnd::HandOver, not
    // yet named; null when there is none. One not taken is thrown away by the
    // next Execute() or Cancel().
    std::unique_ptr<PartFile> TakeFinishedFile();

    // For the next Execute() only, with SetSaveFile(): a file whose head
    // announces a Content-Length of at most this many bytes is not fetched.
    // The request completes with SkippedAtHead(), nothing written.
    void SetSkipAtOrBelow(qint64 bytes);
    bool SkippedAtHead() const;

    // For the next Execute() only: the page the request is made from (none
    // when empty). Each hop's Referer is worked out from it as browsers do:
    // the whole address for the same origin, the origin for another one,
    // nothing from https to http.
    void SetReferer(const QString &referer);

    // The page the user searches, as the site every request is made from:
    // the cookies of another site that are Strict or Lax stay at home, as a
    // page view keeps them. Empty: every request stands for itself.
    void SetCookieSite(const QString &page);

    // The cookies and User-Agent every request carries; without one, no
    // cookies and a plain User-Agent. Not owned.
    void SetSession(Session *session);

    // Asked after every piece of body read; when it holds, the request is
    // cancelled at once.
    void SetAbortCheck(std::function<bool()> check);

    // A request that receives nothing for this long ends (and is tried
    // again). libcurl counts whole seconds: the limit is rounded up.
    void setStallTimeout(int ms);
    int stallTimeout() const;
    // The wait before the second try; the third waits twice as long.
    void setRetryWait(int ms);

    // Body bytes kept by the current or last request.
    qint64 BytesReceived() const;
    // The in-memory body of the last completed request; empties it.
    QByteArray TakeBody();
    // The final response's Content-Type header, "" when none came.
    QByteArray ContentType() const;
    // Why the last request failed, for logs and tests.
    QString ErrorString() const;

    // Certificates of this file are trusted too, by every Inet of the
    // process (tests, with their own authority). The environment variable
    // CURL_CA_BUNDLE, as curl reads it, replaces the system's authorities
    // instead. Verification itself is never switched off.
    static void AddTrustedCaFile(const QString &path);
    static void RemoveTrustedCaFile(const QString &path);

Q_SIGNALS:
    void StateChanged(int state);
    // After each batch of body kept: the bytes kept so far (0 when the body
    // starts, and again when a body is fetched anew from its start).
    void BodyProgress(qint64 bytesReceived);
    // A 429 or 503 with Retry-After: this request waits so long before it
    // tries again, as the server asked.
    void ServerAskedToWait(const QString &host, qint64 waitMs);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
