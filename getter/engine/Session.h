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

    // The value of the Cookie header for a request to url made from the page
    // site (none: the request stands for itself, as a page the user opens);
    // "" when none. As a page view sends them: a cookie marked Strict or Lax,
    // or not marked (Lax is the default), goes only to a request of the same
    // site as that page; one marked None only over https.
    QByteArray CookieHeaderFor(const QUrl &url, const QUrl &site = QUrl()) const;

    // The Set-Cookie values of a response to url, a request made from the
    // page site. Each cookie is kept (an expired one removes the kept one)
    // and raised in CookieReceived only where a page view would keep it:
    // url may set it, a Secure one (and one marked None, which must be
    // Secure) only from https, "__Secure-" and "__Host-" names by their
    // rules, at most 4096 bytes, at most 180 for a domain and 3300 in all;
    // from a request to another site than the page's, only one marked None.
    void TakeResponseCookies(const QList<QByteArray> &setCookieValues, const QUrl &url,
                             const QUrl &site = QUrl());

    // The registrable domain of host (its public suffix and one label more,
    // "example.co.jp" for "www.example.co.jp"); the host itself for an IP
    // address or a name that is a public suffix. In lower case.
    static QString SiteOf(const QString &host);
    static bool SameSite(const QUrl &a, const QUrl &b);

    // The browser's store reports its cookies here.
    void InsertCookie(const QNetworkCookie &cookie);
    void RemoveCookie(const QNetworkCookie &cookie);

    QList<QNetworkCookie> Cookies() const;

Q_SIGNALS:
    void CookieReceived(const QNetworkCookie &cookie, const QUrl &origin);

private:
    bool MayKeep(const QNetworkCookie &cookie, const QUrl &url, bool crossSite) const;
    bool HasRoomFor(const QNetworkCookie &cookie) const;

    class Jar;
    std::unique_ptr<Jar> m_jar;
    QByteArray m_userAgent;
};
