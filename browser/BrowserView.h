#pragma once

#include "getter/engine/PageViewLinks.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWebEngineView>

#include <functional>
#include <memory>

class BrowserPage;
class QWebEngineNewWindowRequest;

// One frame of the shown document. A frame of another site cannot be read:
// readable is false and location empty.
struct FrameInfo
{
    bool readable = false;
    QString location;
};

// What one document of the shown page names: its address, and in document
// order the sources and srcsets of its pictures, the targets of its links and
// the computed background images of its elements.
struct ShownDocument
{
    QString location;
    QList<kiro::LiveDocumentValue> values;
};

// The page view of the browser window, offering the members and events the
// rest of the program relies on.
//
// Address texts: LocationURL() and NavigateComplete2 give the address in its
// encoded form (what the page's own location.href shows); StatusTextChange
// and BeforeNavigate2 give it as the view reports a link.
//
// Events (signals, always delivered on the window thread):
//   StatusTextChange(text)      the link under the pointer, "" when it leaves.
//   NewWindow2(&view, &cancel)  the page asks for a new window. No window is
//                               ever opened: a handler may name a view to take
//                               the new window's navigation (that view then
//                               raises BeforeNavigate2); otherwise it is dropped.
//   NavigateComplete2(view, url) a navigation completed: the page's when its
//                               address changes to the new document's (not
//                               on a reload), a frame's once the page has
//                               loaded or, later, when the frame navigates;
//                               the page's comes before its frames'. A frame
//                               of another site, whose address the view
//                               cannot read, reports an empty url; one inside
//                               such a frame is not seen.
//   BeforeNavigate2(view, url, &cancel) this view is about to load url; a
//                               handler that sets cancel stops it.
//   ZoomWheel(direction)        the wheel turned with Ctrl held over the page:
//                               +1 to enlarge, -1 to shrink. The page does
//                               not see that turn.
//
// The view asks for pages in Japanese first. "View page source" shows the
// source in this view, and its context menu offers no new windows or tabs.
class BrowserView : public QWebEngineView
{
    Q_OBJECT

public:
    explicit BrowserView(QWidget *parent = nullptr);
    ~BrowserView() override;

    // A call that cannot be done (no history, nothing loading) does nothing.
    void GoBack();
    void GoForward();
    void Refresh();
    void Stop();
    // Starts loading the address typed by the user; an empty one shows a
    // blank page.
    void Navigate(const QString &url);
    void Navigate2(const QString &url);
    // The address of the top-level page now shown; "" before the first load.
    QString LocationURL() const;

    // The document's frames, read asynchronously; done gets ok = false when
    // the document or its frame list cannot be read. done is not called when
    // the view is gone (or going) before the answer.
    void ReadFramesAsync(std::function<void(bool ok, const QList<FrameInfo> &frames)> done);
    // The same, waiting for the answer while the window stays live (events
    // are handled). Returns false when the list cannot be read, when giveUp()
    // turns true, when the view is destroyed meanwhile or after timeoutMs.
    bool ReadFrames(QList<FrameInfo> *frames, const std::function<bool()> &giveUp = {},
                    int timeoutMs = 5000);
    // Reads the shown page's document (frame -1) or that of its frame of the
    // given index, waiting like ReadFrames. Returns false when that document
    // cannot be read (no such frame, a frame of another site), when giveUp()
    // turns true, when the view is destroyed meanwhile or after timeoutMs.
    bool ReadDocument(int frame, ShownDocument *document, const std::function<bool()> &giveUp = {},
                      int timeoutMs = 15000);
    // The number of frames of the document as last seen: when a navigation
    // completes, it is the count at that moment (0 for a page's new
    // document); -1 when the document offers no frame list.
    int KnownFrameCount() const { return m_frameCount; }

    // Hands this view the navigation of a new window it was named for in
    // NewWindow2: BeforeNavigate2 is raised and, unless cancelled, the
    // address is loaded here.
    void TakeNewWindowNavigation(const QUrl &url);

    // Shows the source of the page now shown, in this view.
    void ViewSource();

    // The user's own input on the page (a press of a mouse button or a key,
    // a command of the context menu, an address to go to): how many so far,
    // and how long ago the last was (-1: none since the shown document came).
    // What the page's scripts do is not counted.
    quint64 UserInputCount() const { return m_userInputs; }
    qint64 MsSinceUserInput() const;

Q_SIGNALS:
    void StatusTextChange(const QString &text);
    void NewWindow2(BrowserView **newView, bool *cancel);
    void NavigateComplete2(BrowserView *view, const QString &url);
    void BeforeNavigate2(BrowserView *view, const QString &url, bool *cancel);
    void ZoomWheel(int direction);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class BrowserPage;

    bool RaiseBeforeNavigate2(const QUrl &url);
    void OnNewWindowRequested(QWebEngineNewWindowRequest &request);
    void OnLoadStarted();
    void OnUrlChanged();
    void OnLoadFinished();
    void OnFrameNavigated(const QString &url, int topFrameCount);
    void ReleaseFrameReports(int frameCount);

    BrowserPage *m_page = nullptr;
    // Lives exactly as long as the view; answers that come later see it gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    bool m_pageLoading = false;
    bool m_newDocument = false;
    bool m_frameReadPending = false;
    int m_frameCount = -1;
    quint64 m_loadGeneration = 0;
    QStringList m_heldFrameReports;
    QTimer m_frameReadTimeout;
    quint64 m_userInputs = 0;
    QElapsedTimer m_sinceUserInput;

    void NoteUserInput();
};
