#include "Session.h"

#include <QDateTime>
#include <QNetworkCookieJar>

// QNetworkCookieJar already knows which cookie goes to which address (domain,
// path, secure, expiry) and which cookie an address may set.
class Session::Jar : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::allCookies;
    using QNetworkCookieJar::deleteCookie;
    using QNetworkCookieJar::insertCookie;
    using QNetworkCookieJar::validateCookie;
};

Session::Session(QObject *parent)
    : QObject(parent)
    , m_jar(std::make_unique<Jar>())
    , m_userAgent(DefaultUserAgent())
{
}

Session::~Session() = default;

QByteArray Session::DefaultUserAgent()
{
    return QByteArrayLiteral("Mozilla/5.0");
}

void Session::SetUserAgent(const QByteArray &userAgent)
{
    m_userAgent = userAgent.isEmpty() ? DefaultUserAgent() : userAgent;
}

QByteArray Session::CookieHeaderFor(const QUrl &url) const
{
    const QList<QNetworkCookie> cookies = m_jar->cookiesForUrl(url);
    QByteArray header;
    for (const QNetworkCookie &cookie : cookies) {
        if (!header.isEmpty())
            header += "; ";
        header += cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
    }
    return header;
}

void Session::TakeResponseCookies(const QList<QByteArray> &setCookieValues, const QUrl &url)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QByteArray &value : setCookieValues) {
        const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(value);
        for (QNetworkCookie cookie : cookies) {
            const bool hostOnly = cookie.domain().isEmpty();
            cookie.normalize(url);
            if (!m_jar->validateCookie(cookie, url))
                continue;
            if (!cookie.isSessionCookie() && cookie.expirationDate() <= now)
                m_jar->deleteCookie(cookie);
            else
                m_jar->insertCookie(cookie);
            // The browser's store reads a domain as "this host and below".
            if (hostOnly)
                cookie.setDomain(QString());
            Q_EMIT CookieReceived(cookie, url);
        }
    }
}

void Session::InsertCookie(const QNetworkCookie &cookie)
{
    m_jar->insertCookie(cookie);
}

void Session::RemoveCookie(const QNetworkCookie &cookie)
{
    m_jar->deleteCookie(cookie);
}

QList<QNetworkCookie> Session::Cookies() const
{
    return m_jar->allCookies();
}
