#include "BrowserSession.h"

#include "getter/engine/Session.h"

#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

namespace {

const char SessionName[] = "kiro-browser-session";

} // namespace

Session *BrowserSessionOf(QWebEngineProfile *profile)
{
    if (!profile)
        return nullptr;
    auto *session = profile->findChild<Session *>(QLatin1String(SessionName),
                                                  Qt::FindDirectChildrenOnly);
    if (!session) {
        session = new Session(profile);
        session->setObjectName(QLatin1String(SessionName));
        QWebEngineCookieStore *store = profile->cookieStore();
        QObject::connect(store, &QWebEngineCookieStore::cookieAdded, session, &Session::InsertCookie);
        QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, session, &Session::RemoveCookie);
        QObject::connect(session, &Session::CookieReceived, store,
                         [store](const QNetworkCookie &cookie, const QUrl &origin) {
                             store->setCookie(cookie, origin);
                         });
        // Cookies the profile had before (a stored profile): each comes by cookieAdded.
        store->loadAllCookies();
    }
    session->SetUserAgent(profile->httpUserAgent().toUtf8());
    return session;
}
