#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The values every window shares. They live for the whole run; windows
// exchange data only through them and through each other's controls.
namespace kiro {

extern QString AppDir;      // program folder, always ending in a separator
extern QString IniPath;     // AppDir + "KIRO.ini"
extern QString StdHpAdrs;   // standard home page
extern QString FstHpAdrs;   // start page
extern QString FstDir;      // initial download folder
extern qint64 grhkb;        // size threshold in kilobytes
extern int chkSubURL;       // 1 = also collect from the pages the page links to
extern int chkFileName;     // 1 = put the address's folder path in front of file names
extern int chkPageView;     // 1 = also collect from srcset, lazy-loading attributes, CSS and the page as shown
extern int FilesAtOnce;     // files the getter fetches at the same time, 1 to 8
extern int AbortFlag;       // 1 = stop or leave requested
extern QString TargetURL;   // page handed from the browser to the getter
extern QString FavAdrs;     // address handed back from the favorites window
extern QStringList PageURLs;
extern QStringList FileURLs;
extern QStringList ExtNames;   // element 0 is "" and not part of the list
extern QList<int> ExtChecks;   // parallel to ExtNames; element 0 is 0
extern QString ExtName;        // fields of the extension record being read
extern int ExtCheck;
extern QString FavName;        // fields of the favorites record being read
extern QString FavEntry;
extern int FileNo;             // number of the file most recently opened
extern QString IniReadBuf;
extern QString IniWriteBuf;
extern qint64 IniResult;

// The built-in default home page.
extern const QString DefaultHomePage;

// The languages every request asks for, Japanese first: the page view's and
// the getter's alike.
inline const QByteArray AcceptLanguage = QByteArrayLiteral("ja,en-US;q=0.8,en;q=0.6");

// What the browser and the getter show while "Exit" closes them.
inline const QString ClosingText = QStringLiteral("終了処理が完了するまで、しばらくお待ち下さい。");

// Width of the INI value buffers, blanks included.
constexpr int IniBufferWidth = 200;

} // namespace kiro
