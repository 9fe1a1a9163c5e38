#include "PageAnalyzer.h"

#include "AddressRules.h"
#include "PageText.h"

#include "core/EmbeddedUrl.h"
#include "core/EventPump.h"
#include "core/Shared.h"
#include "core/TextFile.h"

#include <QSet>
#include <QVarLengthArray>

#include <utility>

namespace {

const QString AnalysingText = QStringLiteral("ＨＴＭＬを解析しています。しばらくお待ち下さい。");
const QString NoAddressText = QStringLiteral("ＨＴＭＬアドレスが存在しない．");
const QString NoFilesSuffix = QStringLiteral("は画像ファイルが存在しない．");

// Empties every later copy of a non-empty entry among the first count
// entries; the earliest one stays.
void RemoveDuplicates(QStringList &list, qsizetype count)
{
    count = qMin(count, list.size());
    QSet<QString> seen;
    seen.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        if (list.at(i).isEmpty())
            continue;
        const qsizetype before = seen.size();
        seen.insert(list.at(i));
        if (seen.size() == before)
            list[i].clear();
    }
}

// Whether text in capitals, one character for one, is upper.
bool UpperEquals(QStringView text, QStringView upper)
{
    if (text.size() != upper.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const char16_t u = c < 0x80 ? (c >= u'a' && c <= u'z' ? char16_t(c - 0x20) : c)
                                    : QChar::toUpper(c);
        if (u != upper.at(i).unicode())
            return false;
    }
    return true;
}

bool LooksLikePage(const QString &address)
{
    return address.endsWith(QLatin1Char('/'))
            || address.endsWith(QLatin1String("html"), Qt::CaseInsensitive)
            || address.endsWith(QLatin1String("htm"), Qt::CaseInsensitive)
            || address.endsWith(QLatin1String("asp"), Qt::CaseInsensitive);
}

} // namespace

PageAnalyzer::PageAnalyzer(GetterVars &vars, GetterSink &sink, TransferQueue &queue)
    : m_vars(vars)
    , m_sink(sink)
    , m_queue(queue)
{
    m_connections.append(QObject::connect(&m_queue, &TransferQueue::StateChanged, &m_queue,
                                          [this](int id, int state) {
        const auto fetch = m_fetches.find(id);
        const QString text = kiro::TransferStatusText(state);
        if (fetch == m_fetches.end() || text.isEmpty())
            return;
        fetch->statusText = text;
        if (id == m_awaited)
            m_sink.SetStatusText(text);
    }));
    m_connections.append(QObject::connect(&m_queue, &TransferQueue::Finished, &m_queue,
                                          [this](int id, const TransferQueue::Result &result) {
        const auto fetch = m_fetches.find(id);
        if (fetch == m_fetches.end())
            return;
        fetch->done = true;
        fetch->result = result;
    }));
    m_hooks.pumpEvents = [] { kiro::PumpEventsThrottled(); };
    m_hooks.pumpBetweenPasses = m_hooks.pumpEvents;
    m_hooks.reportAborted = [this] { ReportAborted(); };
}

PageAnalyzer::~PageAnalyzer()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        QObject::disconnect(connection);
    DropFetches();
}

TransferQueue::Id PageAnalyzer::Request(const QString &url, const QString &referer)
{
    TransferQueue::Request request;
    request.url = url;
    request.referer = referer;
    // Every request of a search is made from the searched page.
    request.cookieSite = m_vars.BaseURL;
    const TransferQueue::Id id = m_queue.Enqueue(request);
    m_fetches.insert(id, Fetch());
    return id;
}

PageAnalyzer::FetchOutcome PageAnalyzer::Await(TransferQueue::Id id, QString *text)
{
    text->clear();
    m_awaited = id;
    // What the page's transfer went through while others were waited for.
    const QString sofar = m_fetches.value(id).statusText;
    if (!sofar.isEmpty())
        m_sink.SetStatusText(sofar);
    const bool done = kiro::WaitFor([this, id] { return m_fetches.value(id).done; });
    m_awaited = 0;
    if (!done) {
        DropFetches();
        m_sink.SetStatusText(kiro::AbortedText);
        return FetchOutcome::Aborted;
    }
    const Fetch fetch = m_fetches.take(id);
    if (fetch.result.outcome == TransferQueue::Result::Failed)
        return FetchOutcome::Failed;
    *text = kiro::DecodePageText(fetch.result.body, fetch.result.contentType);
    return FetchOutcome::Done;
}

void PageAnalyzer::FetchAhead()
{
    // A few more wait in the queue than run, so that a page that arrives is
    // followed at once by the next request.
    const qsizetype ahead = m_queue.Limit() == 1 ? 1 : 2 * m_queue.Limit();
    while (m_aheadIds.size() < m_ahead.size() && m_aheadIds.size() - m_aheadTaken < ahead)
        m_aheadIds.append(Request(m_ahead.at(m_aheadIds.size()), m_searchedPage));
}

void PageAnalyzer::DropFetches()
{
    for (auto it = m_fetches.cbegin(); it != m_fetches.cend(); ++it)
        m_queue.Cancel(it.key());
    m_fetches.clear();
    m_ahead.clear();
    m_aheadIds.clear();
    m_aheadTaken = 0;
}

void PageAnalyzer::BeginSearch()
{
    m_options = GetterOptions::Current();
    m_queue.SetLimit(m_options.FilesAtOnce);
    m_anyPageText = false;
    m_analysisFailed = false;
    m_bound = Bound::None;
    m_subPagesFetched = 0;
}

kiro::LinkScanHooks PageAnalyzer::BoundedHooks(qsizetype limit) const
{
    kiro::LinkScanHooks hooks = m_hooks;
    hooks.limit = std::max<qsizetype>(limit, 0);
    return hooks;
}

void PageAnalyzer::NoteBound(Bound bound)
{
    if (m_bound == Bound::None)
        m_bound = bound;
    m_sink.SetStatusText(m_bound == Bound::SubPages ? kiro::SubPageBoundText : kiro::LinkBoundText);
}

void PageAnalyzer::ReportAborted()
{
    m_sink.SetStatusText(kiro::AbortedText);
}

void PageAnalyzer::ReportMatchError()
{
    m_analysisFailed = true;
    m_sink.SetStatusText(kiro::AnalysisErrorText);
}

void PageAnalyzer::AnalyzePage(const QString &url)
{
    // A search that reached a bound goes no further.
    if (m_bound != Bound::None)
        return;
    const QString pageFolder = kiro::PageFolder(url);
    const QString pageAddress = kiro::TrimSpaces(url);
    m_vars.PageLinks = QStringList{pageAddress};
    m_sink.SetStatusText(AnalysingText);
    m_pageViewLinked.clear();

    // A frame is asked for from the page that holds it, as the browser did.
    const QString base = kiro::TrimSpaces(m_vars.BaseURL);
    m_searchedPage = pageAddress;
    const FetchOutcome page = Await(Request(url, base == pageAddress ? QString() : base),
                                    &m_vars.HtmlText);
    if (page == FetchOutcome::Aborted)
        return;
    const bool pageFailed = page == FetchOutcome::Failed;
    if (!pageFailed && !m_vars.HtmlText.isEmpty())
        m_anyPageText = true;

    if (m_options.chkSubURL == 1) {
        // The page itself is entry 0.
        const kiro::LinkScanResult r = kiro::ExtractPageLinks(
                m_vars.LinkRegExp, m_vars.HtmlText, m_vars.PageLinks,
                BoundedHooks(kiro::MaxLinksPerSearch + 1));
        m_vars.PageLinkCount = r.count;
        if (r.matchError)
            ReportMatchError();
        if (r.limitReached)
            NoteBound(Bound::Links);
    } else {
        m_vars.PageLinkCount = 1;
    }
    if (m_vars.PageLinkCount == 0) {
        m_sink.SetStatusText(NoAddressText);
        return;
    }

    for (QString &link : m_vars.PageLinks)
        NormalisePageLink(link, pageAddress, pageFolder);
    // A page that could not be fetched is not asked for a second time.
    if (pageFailed)
        m_vars.PageLinks[0].clear();
    RemoveDuplicates(m_vars.PageLinks, m_vars.PageLinkCount);

    m_vars.CandidateCount = 0;
    m_vars.CandidateFiles = QStringList{QString()};

    // The page itself is examined from the text already fetched, when its
    // first entry still names the address that was fetched.
    QString fetchedAddress = pageAddress;
    const qsizetype fragment = fetchedAddress.lastIndexOf(QLatin1Char('#'));
    if (fragment >= 0)
        fetchedAddress.truncate(fragment);
    // The sub-pages go on their way while earlier ones are analysed; as many
    // as the bound lets the search fetch.
    DropFetches();
    for (qsizetype i = 0; i < m_vars.PageLinks.size(); ++i) {
        const QString &link = m_vars.PageLinks.at(i);
        if (m_subPagesFetched + m_ahead.size() >= kiro::MaxSubPagesPerSearch)
            break;
        if (!link.isEmpty() && !(i == 0 && link == fetchedAddress))
            m_ahead.append(link);
    }
    FetchAhead();
    for (qsizetype i = 0; i < m_vars.PageLinks.size(); ++i) {
        const QString link = m_vars.PageLinks.at(i);
        if (!link.isEmpty()) {
            if (i == 0 && link == fetchedAddress) {
                if (kiro::AbortFlag == 1) {
                    ReportAborted();
                } else {
                    m_vars.SubHtmlText = m_vars.HtmlText;
                    ExamineSubPageText(link);
                }
            } else {
                AnalyzeSubPage(link);
            }
        }
        kiro::PumpEventsThrottled();
        if (kiro::AbortFlag == 1) {
            ReportAborted();
            break;
        }
        if (m_bound != Bound::None)
            break;
    }

    // Pages fetched ahead that a stop or a bound left unread.
    DropFetches();
    RemoveDuplicates(m_vars.CandidateFiles, m_vars.CandidateCount);

    for (qsizetype i = 0; i < m_vars.CandidateFiles.size(); ++i) {
        const QString file = m_vars.CandidateFiles.at(i);
        if (!file.isEmpty()) {
            kiro::StoreAt(m_vars.FoundFiles, m_vars.FoundCount, file);
            ++m_vars.FoundCount;
        }
        kiro::PumpEventsThrottled();
        if (kiro::AbortFlag == 1) {
            ReportAborted();
            break;
        }
    }

    if (m_options.chkPageView == 1 && kiro::AbortFlag == 0) {
        QList<PageViewEntry> own;
        if (!pageFailed)
            CollectFromPageText(m_vars.HtmlText, pageAddress, own);
        AppendPageViewFiles(pageAddress, own);
    }

    if (m_vars.FoundCount != 0) {
        kiro::FileURLs = QStringList(m_vars.FoundCount);
    } else {
        kiro::FileURLs = QStringList{QString()};
        if (m_vars.FoundFiles.isEmpty())
            m_vars.FoundFiles.append(QString());
        else
            m_vars.FoundFiles[0].clear();
    }
    for (qsizetype i = 0; i < m_vars.FoundCount; ++i) {
        kiro::FileURLs[i] = m_vars.FoundFiles.at(i);
        kiro::PumpEventsThrottled();
        if (kiro::AbortFlag == 1) {
            ReportAborted();
            return;
        }
    }
}

void PageAnalyzer::AnalyzeSubPage(const QString &url)
{
    if (m_subPagesFetched >= kiro::MaxSubPagesPerSearch) {
        NoteBound(Bound::SubPages);
        return;
    }
    ++m_subPagesFetched;
    TransferQueue::Id id = 0;
    if (m_aheadTaken < m_aheadIds.size() && m_ahead.at(m_aheadTaken) == url) {
        id = m_aheadIds.at(m_aheadTaken++);
        FetchAhead();
    } else {
        id = Request(url, m_searchedPage);
    }
    const FetchOutcome outcome = Await(id, &m_vars.SubHtmlText);
    // A page that could not be fetched has no links, and the transfer's
    // error text stays in view.
    if (outcome != FetchOutcome::Done)
        return;
    if (m_options.chkPageView == 1)
        CollectFromPageText(m_vars.SubHtmlText, url, m_pageViewLinked);
    ExamineSubPageText(url);
}

void PageAnalyzer::ExamineSubPageText(const QString &url)
{
    const qsizetype firstNew = m_vars.CandidateCount;
    // What earlier pages found counts against the bound too.
    const kiro::LinkScanResult r = kiro::ExtractFileLinks(
            m_vars.LinkRegExp, m_vars.SubHtmlText, m_vars.CandidateFiles, firstNew,
            BoundedHooks(kiro::MaxLinksPerSearch - m_vars.FoundCount));
    m_vars.CandidateCount = r.count;
    if (r.matchError)
        ReportMatchError();
    if (r.limitReached)
        NoteBound(Bound::Links);
    if (m_vars.CandidateCount == 0) {
        m_sink.SetStatusText(url + NoFilesSuffix);
        return;
    }
    NormaliseCandidates(firstNew, url);
}

QList<PageAnalyzer::Extension> PageAnalyzer::ListedExtensions() const
{
    QList<Extension> extensions;
    for (qsizetype k = 1; k < m_options.ExtNames.size(); ++k) {
        const QString &name = m_options.ExtNames.at(k);
        extensions.append({QLatin1Char('.') + kiro::UpperSameLength(kiro::TrimSpaces(name)),
                           name.size(), m_options.ExtChecks.value(k, 0) != 0});
    }
    return extensions;
}

void PageAnalyzer::NormaliseCandidates(qsizetype from, const QString &url)
{
    const QString pageFolder = kiro::PageFolder(url);
    const QList<Extension> extensions = ListedExtensions();

    QStringList &files = m_vars.CandidateFiles;
    // The entries of earlier pages are in their final form already, and going
    // over them again would change none; a stop request is still seen first.
    bool stopped = false;
    if (from > 0) {
        kiro::PumpEventsThrottled();
        if (kiro::AbortFlag == 1) {
            ReportAborted();
            stopped = true;
        }
    }
    for (qsizetype i = from; !stopped && i < files.size(); ++i) {
        // Taken out while it is worked on: the steps let other handlers run.
        QString entry = std::move(files[i]);
        NormaliseCandidate(entry, url, pageFolder, extensions);
        files[i] = std::move(entry);
        if (kiro::AbortFlag == 1) {
            ReportAborted();
            stopped = true;
        }
    }

    for (qsizetype i = from; i < files.size(); ++i)
        FinishCandidate(files[i]);
}

void PageAnalyzer::FinishCandidate(QString &entry)
{
    if (kiro::HasParentStep(entry))
        entry = kiro::ResolveParentRefs(entry);
    if (kiro::IndexOfSlashPair(entry) >= 0)
        entry = kiro::CollapseSlashes(entry);
}

void PageAnalyzer::CollectFromPageText(const QString &text, const QString &url,
                                       QList<PageViewEntry> &into)
{
    const QStringList found = kiro::PageViewHtmlAddresses(text, [] {
        kiro::PumpEventsThrottled();
        return kiro::AbortFlag == 1;
    });
    for (const QString &address : found)
        into.append({address, url});
}

void PageAnalyzer::AppendPageViewFiles(const QString &url, QList<PageViewEntry> entries)
{
    // The page's own text first, then the page as the browser view shows it,
    // then the pages it links to.
    if (m_liveDocument) {
        const QStringList live = kiro::LiveDocumentAddresses(m_liveDocument(url));
        for (const QString &address : live)
            entries.append({address, url});
    }
    entries += std::exchange(m_pageViewLinked, {});

    QSet<QString> listed;
    listed.reserve(m_vars.FoundCount + entries.size());
    for (qsizetype i = 0; i < m_vars.FoundCount && i < m_vars.FoundFiles.size(); ++i)
        listed.insert(m_vars.FoundFiles.at(i));

    const QList<Extension> extensions = ListedExtensions();
    QString page;
    QString pageFolder;
    for (const PageViewEntry &entry : std::as_const(entries)) {
        if (kiro::AbortFlag == 1) {
            ReportAborted();
            return;
        }
        if (entry.page != page) {
            page = entry.page;
            pageFolder = kiro::PageFolder(page);
        }
        // Stored with spaces removed, as every match of the expressions is.
        QString file = kiro::TrimSpaces(entry.address);
        NormaliseCandidate(file, page, pageFolder, extensions);
        FinishCandidate(file);
        if (file.isEmpty() || listed.contains(file))
            continue;
        if (m_vars.FoundCount >= kiro::MaxLinksPerSearch) {
            NoteBound(Bound::Links);
            return;
        }
        listed.insert(file);
        kiro::StoreAt(m_vars.FoundFiles, m_vars.FoundCount, file);
        ++m_vars.FoundCount;
    }
}

void PageAnalyzer::NormaliseCandidate(QString &entry, const QString &url, const QString &pageFolder,
                                      const QList<Extension> &extensions) const
{
    if (entry.isEmpty())
        return;
    if (entry.startsWith(QLatin1Char('#'))) {
        entry.clear();
        return;
    }
    if (!kiro::StartsWithWebScheme(entry))
        entry = kiro::JoinToPage(entry, url, pageFolder);
    if (entry.contains(QLatin1Char('?'))) {
        if (entry.contains(QLatin1String("CGI?"), Qt::CaseInsensitive))
            entry.clear();
        else
            entry = kiro::ExtractEmbeddedURL(entry);
    }

    // Cut right after the extension: the last listed one found in the entry
    // decides, at its last occurrence. Looking from the end of the list, the
    // first one found is that one.
    QVarLengthArray<qsizetype, 16> dots;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        if (entry.at(i) == QLatin1Char('.'))
            dots.append(i);
    }
    qsizetype cutLength = -1;
    for (auto ext = extensions.crbegin(); ext != extensions.crend() && cutLength < 0; ++ext) {
        for (qsizetype d = dots.size() - 1; d >= 0; --d) {
            if (UpperEquals(QStringView(entry).mid(dots[d], ext->dotted.size()), ext->dotted)) {
                cutLength = dots[d] + ext->dotted.size();
                break;
            }
        }
    }
    kiro::PumpEventsThrottled();
    if (cutLength < 0) {
        entry.clear();
        return;
    }
    entry.truncate(cutLength);

    // Files of an unticked extension are not wanted.
    for (const Extension &ext : extensions) {
        if (!ext.ticked
            && UpperEquals(QStringView(entry).right(ext.length), QStringView(ext.dotted).mid(1))) {
            entry.clear();
            return;
        }
    }
}

void PageAnalyzer::NormalisePageLink(QString &link, const QString &pageAddress,
                                     const QString &pageFolder) const
{
    if (link.contains(QLatin1Char('?')))
        link = kiro::ExtractEmbeddedURL(link);
    if (!link.isEmpty() && !kiro::StartsWithWebScheme(link)) {
        if (link.startsWith(QLatin1Char('#')))
            link.clear();   // only an anchor in this same page
        else
            link = kiro::TrimSpaces(kiro::JoinToPage(link, pageAddress, pageFolder));
    }
    if (kiro::HasParentStep(link))
        link = kiro::ResolveParentRefs(link);
    const qsizetype fragment = link.lastIndexOf(QLatin1Char('#'));
    if (fragment >= 0)
        link.truncate(fragment);
    if (!link.isEmpty() && !LooksLikePage(link))
        link.clear();
}
