#pragma once

#include "GetterSink.h"
#include "GetterVars.h"
#include "LinkExtraction.h"
#include "PageViewLinks.h"
#include "TransferQueue.h"

#include <QHash>

#include <QString>
#include <QStringList>

#include <functional>

// The getter's search of one page: its text, the pages it links to, and the
// addresses of the files linked from them, which end up in FileURLs. It works
// on the window's variables and shows its texts through the window's sink; all
// its requests go through the window's transfer queue. The pages a page links
// to are fetched ahead, FilesAtOnce at a time, and analysed in list order:
// the list is the same as with one at a time.
class PageAnalyzer
{
public:
    PageAnalyzer(GetterVars &vars, GetterSink &sink, TransferQueue &queue);
    ~PageAnalyzer();

    // The values of the browser view's live document for a searched page (the
    // page handed over or one of its frames), in document order; none when the
    // view does not show that page or cannot be read.
    using LiveDocumentReader = std::function<QList<kiro::LiveDocumentValue>(const QString &page)>;
    // Where the search reads the page as shown when chkPageView is 1.
    void SetLiveDocumentReader(LiveDocumentReader reader) { m_liveDocument = std::move(reader); }

    // A search starts: forgets what the pages of the previous one gave, and
    // takes the options it goes by.
    void BeginSearch();

    // Searches one page (the page handed over, or one of its frames) and
    // republishes everything found so far in the search as FileURLs.
    void AnalyzePage(const QString &url);

    // Fetches one page and adds the files it links to to CandidateFiles.
    void AnalyzeSubPage(const QString &url);

    // Whether some page given to AnalyzePage since BeginSearch gave text.
    bool anyPageText() const { return m_anyPageText; }
    // Whether the expression engine gave up on some text since BeginSearch,
    // so that files may be missing from the list. The window shows it when
    // the search is over (later transfers cover the text shown meanwhile).
    bool analysisFailed() const { return m_analysisFailed; }

    // Which bound of a search ended it, so that it went no further.
    enum class Bound { None, SubPages, Links };
    Bound boundReached() const { return m_bound; }

private:
    struct Extension {
        QString dotted;       // "." and the name without its spaces, in capitals
        qsizetype length;     // length of the name as listed, spaces included
        bool ticked;
    };

    // An address found on the page and where it was found.
    struct PageViewEntry {
        QString address;
        QString page;
    };

    QList<Extension> ListedExtensions() const;

    // One page's text through the queue, its transfer's states shown while
    // it is waited for.
    enum class FetchOutcome { Done, Failed, Aborted };
    TransferQueue::Id Request(const QString &url, const QString &referer);
    FetchOutcome Await(TransferQueue::Id id, QString *text);
    // Keeps FilesAtOnce of the pages to come on their way.
    void FetchAhead();
    void DropFetches();
    void ExamineSubPageText(const QString &url);
    void NormaliseCandidates(qsizetype from, const QString &url);
    void NormaliseCandidate(QString &entry, const QString &url, const QString &pageFolder,
                            const QList<Extension> &extensions) const;
    static void FinishCandidate(QString &entry);
    void CollectFromPageText(const QString &text, const QString &url,
                             QList<PageViewEntry> &into);
    // Appends to FoundFiles the files that chkPageView finds for the page at
    // url and that are not listed yet: those of entries (its own text), of
    // the page as shown, then of the pages it links to.
    void AppendPageViewFiles(const QString &url, QList<PageViewEntry> entries);
    void NormalisePageLink(QString &link, const QString &pageAddress,
                           const QString &pageFolder) const;
    void ReportMatchError();
    // Runs an extraction under the bound on links: at most `room` entries
    // from links[from] on.
    kiro::LinkScanHooks BoundedHooks(qsizetype limit) const;
    void NoteBound(Bound bound);
    void ReportAborted();

    GetterVars &m_vars;
    GetterSink &m_sink;
    TransferQueue &m_queue;
    GetterOptions m_options;
    QList<QMetaObject::Connection> m_connections;

    struct Fetch {
        bool done = false;
        TransferQueue::Result result;
        QString statusText;
    };
    QHash<TransferQueue::Id, Fetch> m_fetches;   // asked for and not yet analysed
    TransferQueue::Id m_awaited = 0;
    QStringList m_ahead;                 // the sub-pages to fetch, in the order analysed
    QList<TransferQueue::Id> m_aheadIds; // of those asked for so far
    qsizetype m_aheadTaken = 0;
    kiro::LinkScanHooks m_hooks;
    LiveDocumentReader m_liveDocument;
    // What chkPageView collects in one AnalyzePage call from the texts of the
    // pages the page links to.
    QList<PageViewEntry> m_pageViewLinked;
    QString m_searchedPage;   // the page the sub-pages are linked from
    bool m_anyPageText = false;
    bool m_analysisFailed = false;
    Bound m_bound = Bound::None;
    int m_subPagesFetched = 0;
};
