// Link extraction and the address rules: the passes over a page's text never
// make the engine give up on text that holds no half character, and the
// address helpers agree with their step-by-step definitions, which repeat
// one small step over the whole text until nothing is left to do. The scans
// of srcset, lazy-loading attributes and CSS give only addresses to fetch.
#include "FuzzSupport.h"

#include "core/EmbeddedUrl.h"
#include "core/Shared.h"
#include "core/TextFile.h"
#include "core/WebAddress.h"
#include "getter/engine/AddressRules.h"
#include "getter/engine/LinkExtraction.h"
#include "getter/engine/PageViewLinks.h"

#include <QUrl>

using namespace kiro;

namespace {

// One "/" of the first pair removed, and the spaces trimmed, again and again.
QString CollapseSlashesStepwise(const QString &address)
{
    if (TrimSpaces(address).isEmpty())
        return QString();
    const bool https = StartsWithHttps(address);
    QString rest = address.mid(SchemePrefixLength(address));
    for (qsizetype p = rest.indexOf(QLatin1String("//")); p >= 0;
         p = rest.indexOf(QLatin1String("//"))) {
        rest = TrimSpaces(rest.left(p) + rest.mid(p + 1));
    }
    return (https ? QLatin1String("https://") : QLatin1String("http://")) + rest;
}

// The first "../" removed with the segment before it, and the spaces
// trimmed, again and again. A "../" with nothing before it cannot be taken:
// the address stays as it was.
QString ResolveParentRefsStepwise(const QString &address)
{
    if (TrimSpaces(address).isEmpty())
        return QString();
    const qsizetype keep = SchemePrefixLength(address);
    QString s = address;
    for (qsizetype p = s.indexOf(QLatin1String("../")); p >= 0;
         p = s.indexOf(QLatin1String("../"))) {
        if (p == 0)
            return address;
        QString head = s.left(p - 1);
        const qsizetype q = head.lastIndexOf(QLatin1Char('/')) + 1;
        head = q <= keep ? head + QLatin1Char('/') : head.left(q);
        s = TrimSpaces(head + s.mid(p + 3));
    }
    return s;
}

void CheckAddressRules(const QString &address, const QString &page)
{
    const QString collapsed = CollapseSlashes(address);
    FUZZ_CHECK(collapsed == CollapseSlashesStepwise(address), address, collapsed);
    if (!collapsed.isEmpty()) {
        FUZZ_CHECK(StartsWithWebScheme(collapsed), address, collapsed);
        FUZZ_CHECK(collapsed.indexOf(QLatin1String("//"), SchemePrefixLength(collapsed)) < 0,
                   address, collapsed);
    }

    const QString resolved = ResolveParentRefs(address);
    FUZZ_CHECK(resolved == ResolveParentRefsStepwise(address), address, resolved);

    const QString upper = UpperSameLength(address);
    FUZZ_CHECK(upper.size() == address.size(), address);

    // The target a jump link carries is a piece of the link.
    const QString embedded = ExtractEmbeddedURL(address);
    FUZZ_CHECK(embedded == address || address.contains(embedded), address, embedded);

    const QString folder = PageFolder(page);
    FUZZ_CHECK(folder.endsWith(QLatin1Char('/')), page, folder);
    if (!StartsWithWebScheme(address) && StartsWithWebScheme(page)) {
        const QString joined = JoinToPage(address, page, folder);
        FUZZ_CHECK(StartsWithWebScheme(joined), page, address, joined);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    QString page = ConsumeUtf8(in, 120);
    if (!StartsWithWebScheme(page))
        page.prepend(in.ConsumeBool() ? QLatin1String("https://") : QLatin1String("http://"));
    const QString text = QString::fromUtf8(ConsumeRemainingBytes(in));

    AbortFlag = 0;
    const LinkScanHooks hooks;
    QRegularExpression linkRegExp;
    QStringList pageLinks{page};
    const LinkScanResult pages = ExtractPageLinks(linkRegExp, text, pageLinks, hooks);
    FUZZ_CHECK(!pages.matchError, text);
    FUZZ_CHECK(pages.count == pageLinks.size(), text);

    QStringList files{QString()};
    const LinkScanResult found = ExtractFileLinks(linkRegExp, text, files, 0, hooks);
    FUZZ_CHECK(!found.matchError, text);
    FUZZ_CHECK(found.count == 0 || found.count == files.size(), text);

    // pageLinks[0] is the page itself.
    for (const QStringList *links : {&pageLinks, &files}) {
        for (qsizetype i = links == &pageLinks ? 1 : 0; i < links->size(); ++i) {
            const QString &link = links->at(i);
            FUZZ_CHECK(TrimSpaces(link) == link, link);
            CheckAddressRules(link, page);
        }
    }
    // Text the passes would never give as one link.
    CheckAddressRules(text.left(400), page);

    QStringList added = PageViewHtmlAddresses(text);
    added += SrcsetAddresses(text);
    added += CssUrlAddresses(text);
    for (const QString &address : std::as_const(added)) {
        // HTML's spaces (not all of Unicode's) end an address.
        const auto htmlSpace = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r'; };
        FUZZ_CHECK(!address.isEmpty() && !htmlSpace(address.front()) && !htmlSpace(address.back()), address);
        const QString scheme = QUrl(address).scheme().toLower();
        FUZZ_CHECK(scheme.isEmpty() || scheme == u"http" || scheme == u"https", address);
    }
    return 0;
}
