#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

// The addresses of pictures and files that a page names where the link
// expressions do not look: srcset candidates, lazy-loading attributes, CSS
// url(...) and the document the browser view shows. Every function returns
// the addresses as written (relative ones stay relative), in document order;
// values with a scheme other than http or https (data:, blob:, javascript:,
// mailto:, ...) name nothing to fetch and are left out.
namespace kiro {

// The lazy-loading attributes that hold one address (or a CSS url(...)), in
// lower case: those of the common lazy-loading scripts and galleries.
const QStringList &LazyAddressAttributes();
// The attributes that hold a srcset, in lower case.
const QStringList &SrcsetAttributes();

// The candidates' addresses of a srcset value, parsed as browsers do: an
// address runs to white space, so it may hold commas ("a.jpg?x=1,2 2x,
// b.jpg 3x" has a.jpg?x=1,2 and b.jpg); commas that end an address separate
// candidates; a descriptor runs to a comma outside parentheses.
QStringList SrcsetAddresses(QStringView srcset);

// The addresses of the url(...) functions of CSS text (quoted or not, with
// CSS escapes undone). Comments and strings outside url(...) are skipped; a
// url( that CSS itself would reject (a quote or "(" in an unquoted address)
// gives nothing.
QStringList CssUrlAddresses(QStringView css);

// From the text of a fetched page: every srcset and lazy-loading attribute's
// addresses, and the url(...)s of style attributes and of <style> blocks.
// Attribute values have their character references undone (&amp;, &quot;,
// &#38; ...). Comments and scripts are skipped; a tag that the text ends
// inside (an unclosed quote) counts for nothing, as in a browser. giveUp is
// asked now and then; when it answers true, the scan ends with what it has.
QStringList PageViewHtmlAddresses(QStringView html, const std::function<bool()> &giveUp = {});

// One value read from the live document of the browser view.
struct LiveDocumentValue {
    enum Kind {
        Address,   // an address as the document resolved it (img src, a href)
        Srcset,    // a srcset attribute as written
        Css,       // a computed background-image
    };
    Kind kind = Address;
    QString text;
};

// The addresses that the values name, in their order.
QStringList LiveDocumentAddresses(const QList<LiveDocumentValue> &values);

// Whether two addresses name the same document: equal after their fragments
// are dropped and their paths normalised ("http://host" is "http://host/").
bool SameDocumentAddress(const QString &a, const QString &b);

} // namespace kiro
