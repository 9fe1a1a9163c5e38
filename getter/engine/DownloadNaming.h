#pragma once

#include <QString>

// Where a downloaded file goes and what its list item says afterwards. Names
// are made from the addresses the user asked for, never from a redirect or a
// server header, and are always safe single names: no address can place a
// file outside the page's sub-folder.
namespace kiro {

// A name the file system takes as one plain entry in a folder: path
// separators, characters Windows or Linux forbid, control characters and
// half characters (an unpaired UTF-16 surrogate) become "_"; names of dots
// only become underscores; names Windows reserves (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, with any extension, any case) get a leading "_"; a name over
// 255 bytes as the file system writes it (UTF-8 on Linux, UTF-16 units on
// Windows) is shortened around its extension with "~" and 8 hex digits of a
// hash of the whole name. Percent-escapes are kept. An empty name stays
// empty. Linear in the name's length.
QString SafeName(QString name);

// The page's download sub-folder: the page address after "http://" (or
// "https://") with "/" and "." as "_", made safe. Never empty.
QString DownloadSubDirName(const QString &baseUrl);

// The folder-path prefix of a file address (the address up to its last "/",
// after the scheme, "/" and "." as "_"), before it is made safe.
QString UrlPrefixFor(const QString &fileUrl);

// The file name for a file address: what follows its last "/", with the
// prefix and "@" in front when chkFileName is 1, made safe. Empty when the
// address is empty, has no "/" or names nothing: such an item is not fetched.
QString SaveNameFor(const QString &fileUrl, int chkFileName);

// folder and name joined with exactly one separator between them, whether or
// not folder already ends with one.
QString JoinPath(const QString &folder, const QString &name);

// The list item's text after a download: the old text filled with spaces
// and cut to 150 characters, a blank, then the result.
QString FileItemResultText(const QString &oldText, const QString &result);
inline constexpr int FileItemTextWidth = 150;

// What an item of the file list shows: before a download its text is the
// whole address, however long; once a download has written its result
// (hasResult), the filled address without its fill and the result.
struct FileItemParts {
    QString address;
    QString result;
};
FileItemParts SplitFileItemText(const QString &text, bool hasResult);

// A kept file's size for its list item: bytes / 1024 + 0.5, rounded with
// halves to the even number, then "kb" ("37kb"; 1025 bytes give "2kb").
QString KilobyteText(qint64 receivedBytes);

// Whether a file of receivedBytes is kept under a threshold of grhkb
// kilobytes: only a file larger than grhkb * 1024 bytes stays.
bool IsAboveThreshold(qint64 grhkb, qint64 receivedBytes);

} // namespace kiro
