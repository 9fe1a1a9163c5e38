#include "BrowserView.h"

#include "core/Shared.h"
#include "core/WebAddress.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QWheelEvent>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebChannel>

#include <memory>

namespace {

// Qt WebEngine tells nothing about frames. A script of the page's own, run in
// the application's world of the top document, watches every frame element
// load and reports the frame's address over a web channel. The page's scripts
// live in another world: they can neither reach the channel nor touch the
// script's listeners, and the event they might fake is not a trusted one. The
// address is read from the frame's location, which the page cannot forge; a
// frame of another site cannot be read and is reported without one.
const QString FrameReportScript = QStringLiteral(
        "(function () {"
        "  if (window !== window.top || typeof qt === 'undefined' || !qt.webChannelTransport) return;"
        "  var reports = null, waiting = [];"
        "  new QWebChannel(qt.webChannelTransport, function (channel) {"
        "    reports = channel.objects.kiroFrameReports;"
        "    waiting.forEach(function (r) { reports.frameNavigated(r[0], r[1]); });"
        "    waiting = null;"
        "  });"
        "  var send = function (href) {"
        "    var r = [window.frames.length, href];"
        "    if (reports) reports.frameNavigated(r[0], r[1]); else waiting.push(r);"
        "  };"
        "  var readable = function (w) {"
        "    try { return { href: String(w.location.href), document: w.document }; } catch (e) { return null; }"
        "  };"
        // The frames of a frame loaded before it did; they are told after it.
        "  var sendNested = function (w) {"
        "    for (var i = 0; i < w.frames.length; ++i) {"
        "      var inner = readable(w.frames[i]);"
        "      send(inner ? inner.href : '');"
        "      if (!inner) continue;"
        "      watch(inner.document);"
        "      sendNested(w.frames[i]);"
        "    }"
        "  };"
        "  var watch = function (d) {"
        "    if (!d || d.__kiroWatched) return;"
        "    d.__kiroWatched = true;"
        "    d.addEventListener('load', function (event) {"
        "      var element = event.target;"
        "      if (!event.isTrusted || !(element instanceof HTMLIFrameElement || element instanceof HTMLFrameElement)) return;"
        "      var frame = element.contentWindow && readable(element.contentWindow);"
        "      send(frame ? frame.href : '');"
        "      if (!frame) return;"
        "      watch(frame.document);"
        "      sendNested(element.contentWindow);"
        "    }, true);"
        "  };"
        "  watch(document);"
        "})();");

// One entry per frame in document order; a frame of another site reads as null.
const QString ReadFramesScript = QStringLiteral(
        "Array.from({length: window.frames.length}, (_, i) => {"
        "  try { return String(window.frames[i].location.href); } catch (e) { return null; }"
        "})");

// The document of the page (frame -1) or of one of its frames, as ShownDocument
// holds it: its location, then pairs of a kind ("a" an address, "s" a srcset,
// "c" a computed background image) and a value; null when it cannot be read.
const QString ReadDocumentScript = QStringLiteral(
        "(function (frame) {"
        "  var w = window;"
        "  if (frame >= 0) {"
        "    if (frame >= window.frames.length) return null;"
        "    w = window.frames[frame];"
        "  }"
        "  var d, location;"
        "  try { d = w.document; location = String(w.location.href); } catch (e) { return null; }"
        "  var out = [location];"
        "  if (!d) return out;"
        "  var add = function (kind, value) {"
        "    if (typeof value === 'string' && value !== '') out.push(kind, value);"
        "  };"
        "  var view = d.defaultView || w;"
        "  var all = d.getElementsByTagName('*');"
        "  for (var i = 0; i < all.length; ++i) {"
        "    var e = all[i];"
        "    if (e.namespaceURI === 'http://www.w3.org/1999/xhtml') {"
        "      var name = e.localName;"
        "      if (name === 'img') {"
        "        add('a', e.currentSrc); add('a', e.src); add('s', e.getAttribute('srcset'));"
        "      } else if (name === 'source') {"
        "        add('s', e.getAttribute('srcset'));"
        "      } else if (name === 'a') {"
        "        add('a', e.href);"
        "      }"
        "    }"
        "    var style = view.getComputedStyle(e);"
        "    if (style && style.backgroundImage && style.backgroundImage !== 'none')"
        "      add('c', style.backgroundImage);"
        "  }"
        "  return out;"
        "})(%1)");

// Runs the event loop until answered holds; false when giveUp() turns true,
// the view behind alive goes, or timeoutMs pass first.
bool WaitForAnswer(const std::function<bool()> &answered, const std::weak_ptr<int> &alive,
                   const std::function<bool()> &giveUp, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the wait below now and then, so that giveUp and the time-out are
    // seen even when nothing else happens.
    QTimer wake;
    wake.start(50);
    while (!answered()) {
        if (alive.expired() || (giveUp && giveUp()))
            return false;
        if (elapsed.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// When the frame list does not answer after a page has loaded, its frames'
// reports are still delivered, counted as having no frame list.
constexpr int FrameReadTimeoutMs = 3000;

} // namespace

// Where the frame report script's reports arrive.
class FrameReports : public QObject
{
    Q_OBJECT

public:
    explicit FrameReports(QObject *parent, std::function<void(int, const QString &)> report)
        : QObject(parent), m_report(std::move(report))
    {
    }

public Q_SLOTS:
    void frameNavigated(int topFrameCount, const QString &href)
    {
        // A location never holds such characters; nothing else may pass.
        if (kiro::HasControlCharacter(href) || topFrameCount < 0)
            return;
        m_report(topFrameCount, href);
    }

private:
    std::function<void(int, const QString &)> m_report;
};

// The page behind a BrowserView: it raises the view's BeforeNavigate2 and
// takes the frames' reports from its web channel.
class BrowserPage : public QWebEnginePage
{
public:
    BrowserPage(BrowserView *view)
        : QWebEnginePage(view), m_view(view)
    {
        QFile library(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        const QString channelLibrary = library.open(QIODevice::ReadOnly)
                ? QString::fromUtf8(library.readAll()) : QString();
        QWebEngineScript script;
        script.setName(QStringLiteral("kiro-frame-report"));
        script.setSourceCode(channelLibrary + QLatin1Char('\n') + FrameReportScript);
        // Before any frame of the document can have loaded.
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::ApplicationWorld);
        script.setRunsOnSubFrames(false);
        scripts().insert(script);

        auto *channel = new QWebChannel(this);
        channel->registerObject(QStringLiteral("kiroFrameReports"),
                                new FrameReports(channel, [this](int count, const QString &href) {
            if (m_view)
                m_view->OnFrameNavigated(href, count);
        }));
        setWebChannel(channel, QWebEngineScript::ApplicationWorld);
    }

    void triggerAction(WebAction action, bool checked = false) override
    {
        if (m_view && (action == SavePage || action == DownloadLinkToDisk
                       || action == DownloadImageToDisk || action == DownloadMediaToDisk))
            m_view->NoteUserInput();
        // The engine would show the source in a new window, which the
        // browser window never opens.
        if (action == ViewSource) {
            if (m_view)
                m_view->ViewSource();
            return;
        }
        QWebEnginePage::triggerAction(action, checked);
    }

    // The view is going: nothing the page still does may reach it.
    void DetachView() { m_view = nullptr; }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        return m_view && m_view->RaiseBeforeNavigate2(url);
    }

    // The engine's own dialogs carry English titles; these say the same in
    // Japanese. From a document's second dialog on, the user may silence the
    // rest of them: a page that loops on alert() does not hold the window.
    void javaScriptAlert(const QUrl &origin, const QString &message) override
    {
        if (m_dialogsSilenced)
            return;
        QMessageBox box(QMessageBox::NoIcon, DialogTitle(origin), message, QMessageBox::Ok, m_view);
        box.setTextFormat(Qt::PlainText);
        OfferSilence(box);
        box.exec();
        TakeSilence(box);
    }

    bool javaScriptConfirm(const QUrl &origin, const QString &message) override
    {
        if (m_dialogsSilenced)
            return false;
        QMessageBox box(QMessageBox::NoIcon, DialogTitle(origin), message,
                        QMessageBox::Ok | QMessageBox::Cancel, m_view);
        box.setTextFormat(Qt::PlainText);
        OfferSilence(box);
        const bool ok = box.exec() == QMessageBox::Ok;
        TakeSilence(box);
        return ok;
    }

    bool javaScriptPrompt(const QUrl &origin, const QString &message, const QString &defaultValue,
                          QString *result) override
    {
        if (m_dialogsSilenced)
            return false;
        QDialog dialog(m_view);
        dialog.setWindowTitle(DialogTitle(origin));
        auto *layout = new QVBoxLayout(&dialog);
        auto *label = new QLabel(message, &dialog);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        auto *edit = new QLineEdit(defaultValue, &dialog);
        layout->addWidget(label);
        layout->addWidget(edit);
        QCheckBox *silence = nullptr;
        if (m_dialogsShown > 0) {
            silence = new QCheckBox(SilenceText(), &dialog);
            silence->setObjectName(QStringLiteral("chkNoMoreDialogs"));
            layout->addWidget(silence);
        }
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        ++m_dialogsShown;
        const bool ok = dialog.exec() == QDialog::Accepted;
        if (silence && silence->isChecked())
            m_dialogsSilenced = true;
        if (ok && result)
            *result = edit->text();
        return ok;
    }

public:
    // A new document starts with its dialogs heard again.
    void ResetDialogs()
    {
        m_dialogsShown = 0;
        m_dialogsSilenced = false;
    }

    static QString SilenceText() { return QStringLiteral("このページでこれ以上ダイアログを表示しない"); }

protected:

private:
    void OfferSilence(QMessageBox &box)
    {
        if (m_dialogsShown++ == 0)
            return;
        auto *silence = new QCheckBox(SilenceText(), &box);
        silence->setObjectName(QStringLiteral("chkNoMoreDialogs"));
        box.setCheckBox(silence);
    }

    void TakeSilence(const QMessageBox &box)
    {
        if (box.checkBox() && box.checkBox()->isChecked())
            m_dialogsSilenced = true;
    }

    static QString DialogTitle(const QUrl &origin)
    {
        const QString host = origin.host();
        return host.isEmpty() ? QStringLiteral("ページからのメッセージ")
                              : QStringLiteral("%1 からのメッセージ").arg(host);
    }

    BrowserView *m_view;
    int m_dialogsShown = 0;
    bool m_dialogsSilenced = false;
};

BrowserView::BrowserView(QWidget *parent)
    : QWebEngineView(parent)
{
    auto *webPage = new BrowserPage(this);
    webPage->profile()->setHttpAcceptLanguage(QString::fromLatin1(kiro::AcceptLanguage));
    // A local page (a file saved from the Internet) reads no other local file.
    webPage->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    m_page = webPage;
    setPage(webPage);
    // The page's surface is a child widget the engine may replace; each one
    // is watched for Ctrl with the wheel.
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        child->installEventFilter(this);
    connect(webPage, &QWebEnginePage::linkHovered, this, &BrowserView::StatusTextChange);
    connect(webPage, &QWebEnginePage::newWindowRequested, this, &BrowserView::OnNewWindowRequested);
    connect(webPage, &QWebEnginePage::loadStarted, this, &BrowserView::OnLoadStarted);
    connect(webPage, &QWebEnginePage::loadFinished, this, &BrowserView::OnLoadFinished);
    connect(webPage, &QWebEnginePage::urlChanged, this, &BrowserView::OnUrlChanged);

    m_frameReadTimeout.setSingleShot(true);
    m_frameReadTimeout.setInterval(FrameReadTimeoutMs);
    connect(&m_frameReadTimeout, &QTimer::timeout, this, [this] {
        if (m_frameReadPending)
            ReleaseFrameReports(-1);
    });
}

BrowserView::~BrowserView()
{
    // The page outlives this part of the view and answers its pending frame
    // reads from its own destructor: those answers must find nobody.
    m_alive.reset();
    m_frameReadTimeout.stop();
    if (m_page) {
        m_page->DetachView();
        disconnect(m_page, nullptr, this, nullptr);
    }
}

void BrowserView::GoBack()
{
    back();
}

void BrowserView::GoForward()
{
    forward();
}

void BrowserView::Refresh()
{
    reload();
}

void BrowserView::Stop()
{
    stop();
}

void BrowserView::Navigate(const QString &url)
{
    const QString text = url.trimmed();
    const QUrl address = text.isEmpty() ? QUrl(QStringLiteral("about:blank"))
                                        : QUrl::fromUserInput(text);
    if (!address.isValid())
        return;
    // What the user typed or chose: a download it leads to is the user's.
    NoteUserInput();
    load(address);
}

void BrowserView::Navigate2(const QString &url)
{
    Navigate(url);
}

QString BrowserView::LocationURL() const
{
    return page()->url().toString(QUrl::FullyEncoded);
}

void BrowserView::ReadFramesAsync(std::function<void(bool, const QList<FrameInfo> &)> done)
{
    const std::weak_ptr<int> alive = m_alive;
    page()->runJavaScript(ReadFramesScript, QWebEngineScript::ApplicationWorld,
                          [alive, done](const QVariant &result) {
        if (alive.expired())
            return;
        if (result.typeId() != QMetaType::QVariantList) {
            done(false, {});
            return;
        }
        QList<FrameInfo> frames;
        const QVariantList entries = result.toList();
        for (const QVariant &entry : entries) {
            FrameInfo frame;
            frame.readable = entry.typeId() == QMetaType::QString;
            if (frame.readable)
                frame.location = entry.toString();
            frames.append(frame);
        }
        done(true, frames);
    });
}

bool BrowserView::ReadFrames(QList<FrameInfo> *frames, const std::function<bool()> &giveUp,
                             int timeoutMs)
{
    struct Answer
    {
        bool done = false;
        bool ok = false;
        QList<FrameInfo> frames;
    };
    // The answer may come after this call has given up; it then lands here
    // and nowhere else.
    auto answer = std::make_shared<Answer>();
    // The view may go while this waits (its window closed for good).
    const std::weak_ptr<int> alive = m_alive;
    ReadFramesAsync([answer](bool ok, const QList<FrameInfo> &read) {
        answer->done = true;
        answer->ok = ok;
        answer->frames = read;
    });

    if (!WaitForAnswer([answer] { return answer->done; }, alive, giveUp, timeoutMs))
        return false;
    if (frames)
        *frames = answer->frames;
    return answer->ok;
}

bool BrowserView::ReadDocument(int frame, ShownDocument *document,
                               const std::function<bool()> &giveUp, int timeoutMs)
{
    struct Answer
    {
        bool done = false;
        QVariant result;
    };
    auto answer = std::make_shared<Answer>();
    const std::weak_ptr<int> alive = m_alive;
    page()->runJavaScript(ReadDocumentScript.arg(qMax(frame, -1)), QWebEngineScript::ApplicationWorld,
                          [answer](const QVariant &result) {
        answer->done = true;
        answer->result = result;
    });
    if (!WaitForAnswer([answer] { return answer->done; }, alive, giveUp, timeoutMs))
        return false;
    if (answer->result.typeId() != QMetaType::QVariantList)
        return false;
    const QVariantList entries = answer->result.toList();
    if (entries.isEmpty())
        return false;
    ShownDocument read;
    read.location = entries.at(0).toString();
    for (qsizetype i = 1; i + 1 < entries.size(); i += 2) {
        const QString kind = entries.at(i).toString();
        kiro::LiveDocumentValue value;
        value.kind = kind == QLatin1String("s") ? kiro::LiveDocumentValue::Srcset
                : kind == QLatin1String("c") ? kiro::LiveDocumentValue::Css
                                             : kiro::LiveDocumentValue::Address;
        value.text = entries.at(i + 1).toString();
        read.values.append(value);
    }
    if (document)
        *document = std::move(read);
    return true;
}

void BrowserView::TakeNewWindowNavigation(const QUrl &url)
{
    if (RaiseBeforeNavigate2(url))
        load(url);
}

void BrowserView::ViewSource()
{
    const QUrl shown = page()->url();
    if (shown.isEmpty() || shown.scheme() == QLatin1String("view-source"))
        return;
    load(QUrl(QStringLiteral("view-source:") + shown.toString(QUrl::FullyEncoded)));
}

void BrowserView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu();
    if (!menu)
        return;
    menu->setObjectName(QStringLiteral("WBContextMenu"));
    // There is one window: the link opens in it, in place of a new window
    // or tab.
    for (QWebEnginePage::WebAction action : {QWebEnginePage::OpenLinkInNewTab,
                                             QWebEnginePage::OpenLinkInNewWindow,
                                             QWebEnginePage::OpenLinkInNewBackgroundTab})
        menu->removeAction(pageAction(action));
    const QWebEngineContextMenuRequest *request = lastContextMenuRequest();
    QAction *openLink = pageAction(QWebEnginePage::OpenLinkInThisWindow);
    if (request && request->linkUrl().isValid() && !menu->actions().contains(openLink)) {
        QAction *first = menu->actions().value(0);
        menu->insertAction(first, openLink);
        if (first && !first->isSeparator())
            menu->insertSeparator(first);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

bool BrowserView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this) {
        if (event->type() == QEvent::ChildAdded) {
            QObject *child = static_cast<QChildEvent *>(event)->child();
            if (child->isWidgetType())
                child->installEventFilter(this);
        }
        return QWebEngineView::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
        // Events the window system delivers, and those a test posts as a
        // user would; a page's scripts make none of these.
        NoteUserInput();
        break;
    default:
        break;
    }
    if (event->type() == QEvent::Wheel) {
        auto *wheel = static_cast<QWheelEvent *>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            const int delta = wheel->angleDelta().y();
            if (delta != 0)
                Q_EMIT ZoomWheel(delta > 0 ? 1 : -1);
            return true;
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

void BrowserView::NoteUserInput()
{
    ++m_userInputs;
    m_sinceUserInput.start();
}

qint64 BrowserView::MsSinceUserInput() const
{
    return m_sinceUserInput.isValid() ? m_sinceUserInput.elapsed() : -1;
}

bool BrowserView::RaiseBeforeNavigate2(const QUrl &url)
{
    bool cancel = false;
    Q_EMIT BeforeNavigate2(this, url.toString(), &cancel);
    return !cancel;
}

void BrowserView::OnNewWindowRequested(QWebEngineNewWindowRequest &request)
{
    BrowserView *newView = nullptr;
    bool cancel = false;
    Q_EMIT NewWindow2(&newView, &cancel);
    // The request is never opened as a window: left alone, it is dropped.
    if (!cancel && newView)
        newView->TakeNewWindowNavigation(request.requestedUrl());
}

void BrowserView::OnLoadStarted()
{
    m_page->ResetDialogs();
    ++m_loadGeneration;
    m_pageLoading = true;
    m_newDocument = true;
    m_frameReadPending = false;
    m_frameReadTimeout.stop();
    m_heldFrameReports.clear();
}

void BrowserView::OnUrlChanged()
{
    // The page's address changes when its new document is committed, long
    // before its pictures and frames have loaded: that is when its navigation
    // has completed. A new document holds no frames yet.
    if (m_newDocument) {
        m_newDocument = false;
        m_frameCount = 0;
        // What the user did led here; the new document has not been asked
        // for anything yet.
        m_sinceUserInput.invalidate();
    }
    Q_EMIT NavigateComplete2(this, LocationURL());
}

void BrowserView::OnLoadFinished()
{
    m_pageLoading = false;
    m_newDocument = false;
    m_frameReadPending = true;
    m_frameReadTimeout.start();
    const quint64 generation = m_loadGeneration;
    ReadFramesAsync([this, generation](bool ok, const QList<FrameInfo> &frames) {
        if (generation == m_loadGeneration && m_frameReadPending)
            ReleaseFrameReports(ok ? int(frames.size()) : -1);
    });
}

void BrowserView::OnFrameNavigated(const QString &url, int topFrameCount)
{
    // The frames of a page being loaded are reported once the page has
    // loaded and its frames have been counted.
    if (m_pageLoading || m_frameReadPending) {
        m_heldFrameReports.append(url);
        return;
    }
    m_frameCount = topFrameCount;
    Q_EMIT NavigateComplete2(this, url);
}

void BrowserView::ReleaseFrameReports(int frameCount)
{
    m_frameReadPending = false;
    m_frameReadTimeout.stop();
    m_frameCount = frameCount;
    const QStringList held = std::exchange(m_heldFrameReports, {});
    const quint64 generation = m_loadGeneration;
    for (const QString &url : held) {
        // A handler may have started another navigation meanwhile.
        if (generation != m_loadGeneration)
            break;
        Q_EMIT NavigateComplete2(this, url);
    }
}

#include "BrowserView.moc"
