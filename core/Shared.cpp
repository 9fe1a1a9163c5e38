#include "Shared.h"

namespace kiro {

QString AppDir;
QString IniPath;
const QString DefaultHomePage = QStringLiteral("https://ja.wikipedia.org/");
QString StdHpAdrs = DefaultHomePage;
QString FstHpAdrs = DefaultHomePage;
QString FstDir;
qint64 grhkb = 1;
int chkSubURL = 0;
int chkFileName = 0;
int chkPageView = 0;
int FilesAtOnce = 4;
int AbortFlag = 0;
QString TargetURL;
QString FavAdrs;
QStringList PageURLs;
QStringList FileURLs;
QStringList ExtNames{QString()};
QList<int> ExtChecks{0};
QString ExtName;
int ExtCheck = 0;
QString FavName;
QString FavEntry;
int FileNo = 0;
QString IniReadBuf(IniBufferWidth, QLatin1Char(' '));
QString IniWriteBuf(IniBufferWidth, QLatin1Char(' '));
qint64 IniResult = 0;

} // namespace kiro
