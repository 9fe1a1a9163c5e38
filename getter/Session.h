#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QObject>
#include <QUrl>

#include <memory>

// The browser's session as the getter's requests carry it: the cookies the
// page view holds and its User-Agent, so that the getter fetches what the
// user sees (after a login or an age check). The window layer fills it from
// the page view's cookie store and hands on the cookies that the getter's
// responses set (CookieReceived).
class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    // What a request without a browser says it is.
    static QByteArray DefaultUserAgent();

    QByteArray UserAgent() const { return m_userAgent; }
    void SetUserAgent(const QByteArray &userAgent);

    // The value of the Cookie header for a request to url; "" when none.
    QByteArray CookieHeaderFor(const QUrl &url) const;

    // The Set-Cookie values of a response to url. Each cookie that url may
    // set is kept (an expired one removes the kept one) and raised in
    // CookieReceived.
    void TakeResponseCookies(const QList<QByteArray> &setCookieValues, const QUrl &url);

    // The browser's store reports its cookies here.
    void InsertCookie(const QNetworkCookie &cookie);
    void RemoveCookie(const QNetworkCookie &cookie);

    QList<QNetworkCookie> Cookies() const;

Q_SIGNALS:
    void CookieReceived(const QNetworkCookie &cookie, const QUrl &origin);

private:
    class Jar;
    std::unique_ptr<Jar> m_jar;
    QByteArray m_userAgent;
};
