#pragma once

class QWebEngineProfile;
class Session;

// The getter's side of the page view's session (getter/engine/Session.h), kept in
// step with the view's profile: every cookie of its store, both ways, and its
// User-Agent. The first call for a profile makes the session (owned by the
// profile) and starts listening, so it should come before the first page
// loads; later calls return the same session with the User-Agent refreshed.
Session *BrowserSessionOf(QWebEngineProfile *profile);
