#include "Session.h"

#include <QDateTime>
#include <QHostAddress>
#include <QNetworkCookieJar>

#include <libpsl.h>

namespace {

// A page view's limits on what one site may keep.
constexpr int MaxCookiesPerDomain = 180;
constexpr int MaxCookies = 3300;
constexpr int MaxCookieBytes = 4096;

const psl_ctx_t *PublicSuffixes()
{
    // The newest of the built-in list and the system's.
    static const psl_ctx_t *const list = [] {
        const psl_ctx_t *latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return list;
}

bool IsSecureScheme(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

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

QString Session::SiteOf(const QString &host)
{
    const QString lower = host.toLower();
    if (lower.isEmpty() || !QHostAddress(lower).isNull())
        return lower;
    const QByteArray name = lower.toUtf8();
    const psl_ctx_t *list = PublicSuffixes();
    const char *domain = list ? psl_registrable_domain(list, name.constData()) : nullptr;
    return domain ? QString::fromUtf8(domain) : lower;
}

bool Session::SameSite(const QUrl &a, const QUrl &b)
{
    return SiteOf(a.host()) == SiteOf(b.host());
}

QByteArray Session::CookieHeaderFor(const QUrl &url, const QUrl &site) const
{
    const QList<QNetworkCookie> cookies = m_jar->cookiesForUrl(url);
    const bool crossSite = !site.isEmpty() && !SameSite(site, url);
    QByteArray header;
    for (const QNetworkCookie &cookie : cookies) {
        if (crossSite && (cookie.sameSitePolicy() != QNetworkCookie::SameSite::None
                          || !cookie.isSecure() || !IsSecureScheme(url)))
            continue;
        if (!header.isEmpty())
            header += "; ";
        header += cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
    }
    return header;
}

bool Session::MayKeep(const QNetworkCookie &cookie, const QUrl &url, bool crossSite) const
{
    const bool secureOrigin = IsSecureScheme(url);
    const bool none = cookie.sameSitePolicy() == QNetworkCookie::SameSite::None;
    if (cookie.isSecure() && !secureOrigin)
        return false;
    if (none && !cookie.isSecure())
        return false;
    if (crossSite && !none)
        return false;
    if (cookie.name().size() + cookie.value().size() > MaxCookieBytes)
        return false;
    if (cookie.name().startsWith("__Secure-") && !cookie.isSecure())
        return false;
    if (cookie.name().startsWith("__Host-")
        && (!cookie.isSecure() || !cookie.domain().isEmpty() || cookie.path() != QLatin1String("/")))
        return false;
    return true;
}

bool Session::HasRoomFor(const QNetworkCookie &cookie) const
{
    const QList<QNetworkCookie> all = m_jar->allCookies();
    int sameDomain = 0;
    for (const QNetworkCookie &kept : all) {
        // One that takes the place of a kept one needs no room.
        if (kept.hasSameIdentifier(cookie))
            return true;
        if (kept.domain().compare(cookie.domain(), Qt::CaseInsensitive) == 0)
            ++sameDomain;
    }
    return sameDomain < MaxCookiesPerDomain && all.size() < MaxCookies;
}

void Session::TakeResponseCookies(const QList<QByteArray> &setCookieValues, const QUrl &url,
                                  const QUrl &site)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool crossSite = !site.isEmpty() && !SameSite(site, url);
    for (const QByteArray &value : setCookieValues) {
        const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(value);
        for (QNetworkCookie cookie : cookies) {
            const bool hostOnly = cookie.domain().isEmpty();
            // Judged as the header gave it, before its domain is filled in.
            if (!MayKeep(cookie, url, crossSite))
                continue;
            cookie.normalize(url);
            if (!m_jar->validateCookie(cookie, url))
                continue;
            const bool removal = !cookie.isSessionCookie() && cookie.expirationDate() <= now;
            if (!removal && !HasRoomFor(cookie))
                continue;
            if (removal)
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
