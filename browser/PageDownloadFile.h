#pragma once

#include <QString>

#include <memory>

class PartFile;

// A file downloaded from the page view into the download folder.
//
// The page engine writes to the name it is given and replaces whatever is
// there; while the data comes it keeps it beside that name with
// PartialSuffix appended. So the engine gets a hidden name reserved for this
// download alone, and only the complete file takes its real name: the
// wanted one when it is free, else "name (2).ext", "name (3).ext", ...
// Nothing that was in the folder before, or appeared there meanwhile, is
// replaced or removed: the getter's file writer (PartFile) holds the name and
// puts the file in place. No widgets here.
class PageDownloadFile
{
public:
    // suggestedName: the engine's name for the file; it is made safe.
    PageDownloadFile(const QString &folder, const QString &suggestedName);
    ~PageDownloadFile();

    // Creates the folder when it is missing, and the reserved file in it.
    bool reserve();
    // Gives the complete file its free name; on failure nothing of it stays.
    bool commit();
    // Removes what this download wrote: the reserved file and the engine's
    // partial data, never anything else.
    void discard();

    QString folder() const { return m_folder; }
    QString wantedName() const { return m_wantedName; }
    // The file name the engine is to write (in folder()); valid after reserve().
    QString reservedName() const;
    QString reservedPath() const;
    // The file's place after commit().
    QString finalPath() const { return m_finalPath; }
    // Why reserve() or commit() failed, in Japanese.
    QString errorString() const { return m_error; }

    // What the page engine appends to the name it writes while data comes.
    static QString PartialSuffix() { return QStringLiteral(".download"); }

private:
    QString m_folder;
    QString m_wantedName;
    std::unique_ptr<PartFile> m_part;   // the reserved file
    QString m_finalPath;
    QString m_error;
};

namespace kiro {

// A name for a file the engine suggests: made safe like the getter's file
// names; "download" when nothing is left; one of the program's own files
// (KIRO.ini, Extsn.fil, Fav.fil, qt.conf, the program itself) gets a leading
// "_".
QString PageDownloadName(const QString &suggestedName);
bool IsProgramFileName(const QString &name);

// Where the page's downloads go in the download folder: the folder itself, or
// its sub-folder "ダウンロード" when it is the program's folder (the one that
// holds the program or its settings), so that nothing a page sends lands
// among the program's files.
QString PageDownloadFolder(const QString &downloadFolder);

// Removes from folder the reserved and partial files of downloads that a
// crash left behind, not touched for olderThanSecs (another KIRO may still be
// writing a newer one). Returns how many went.
int RemoveLeftoverParts(const QString &folder, qint64 olderThanSecs);

// name itself when nothing in folder bears it, else the first free one of
// "stem (2).ext", "stem (3).ext", ... (".tar.gz" and the like count as one
// extension).
QString FreeName(const QString &folder, const QString &name);

// "512 バイト", "1.5 KB", "3.4 MB", "1.2 GB".
QString ByteSizeText(qint64 bytes);

// The status bar's text while a file comes: its name, what has arrived and,
// when the size is known, of how much and the percentage.
QString DownloadProgressText(const QString &name, qint64 received, qint64 total);

// The status bar's texts at the end of a download.
QString DownloadDoneText(const QString &path);
QString DownloadFailedText(const QString &address, const QString &reason);
QString DownloadBlockedText(const QString &address);

} // namespace kiro
