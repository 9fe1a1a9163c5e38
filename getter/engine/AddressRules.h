#pragma once

#include "core/WebAddress.h"

#include <QString>
#include <QStringView>

// The address helpers of the search: where a page's relative links lie, and
// how a joined address is brought into one form. They work on the address
// text as the page wrote it, without parsing it as a URL, so that every
// search lists the same addresses for the same page.
namespace kiro {

// The folder of a page address, ending in "/": the address, without its query
// and fragment, up to its last "/" when that lies after the scheme's "//";
// otherwise that address followed by "/".
QString PageFolder(const QString &pageAddress);

// A relative link joined to the page it was found on. A link beginning with
// "//" takes the page's scheme; one beginning with a single "/" takes the
// page's scheme, host and port; any other is put after pageFolder. A page
// address without an http or https scheme has only its folder to offer.
QString JoinToPage(const QString &link, const QString &pageAddress, const QString &pageFolder);

// Every run of "/" after the scheme shrinks to one "/", and the scheme is
// written "http://" (or "https://" for an https address). "" for an address
// that is empty or all spaces.
QString CollapseSlashes(const QString &address);

// Each "../" is removed with the path segment before it; one directly after
// the host is simply removed. "./" is left alone. "" for an address that is
// empty or all spaces; an address that begins with "../" has nothing to go
// up from and comes back as it was.
QString ResolveParentRefs(const QString &address);

// Where the first "//" at or after from begins, or -1.
qsizetype IndexOfSlashPair(QStringView text, qsizetype from = 0);

// Whether the text holds a "../".
bool HasParentStep(QStringView text);

// The text in capitals, one character for one, so that positions found in
// it are positions in the text.
QString UpperSameLength(QStringView text);

} // namespace kiro
