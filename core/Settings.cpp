#include "Settings.h"

#include "Installation.h"
#include "MessageSeam.h"
#include "ProfileIni.h"
#include "RecordFile.h"
#include "Shared.h"

#include <algorithm>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryFile>

namespace kiro {

namespace {

QString g_programFolderOverride;
bool g_appDirIsUserData = false;

bool FolderWritable(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kiro-write-test-XXXXXX")));
    return probe.open();
}

QString WithSeparator(QString folder)
{
    folder = QDir::toNativeSeparators(folder);
    if (!folder.endsWith(PathSeparator()))
        folder += PathSeparator();
    return folder;
}

QString DefaultDownloadFolder()
{
    if (!g_appDirIsUserData)
        return AppDir;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return downloads.isEmpty() ? AppDir : WithSeparator(downloads);
}

} // namespace

void OverrideProgramFolder(const QString &folder)
{
    g_programFolderOverride = folder;
}

void SetAppDirFromProgram()
{
    QString folder = g_programFolderOverride.isEmpty()
            ? QCoreApplication::applicationDirPath() : g_programFolderOverride;
    g_appDirIsUserData = false;
    // An installed program's folder belongs to the system even where it can
    // be written (as root, or a prefix in the user's home): files left there
    // would outlive the package and be shared by every user.
    if (ProgramIsInstalled(folder) || !FolderWritable(folder)) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (!data.isEmpty() && QDir().mkpath(data)) {
            folder = data;
            g_appDirIsUserData = true;
        }
    }
    // A drive root such as D:\ already ends in its separator.
    AppDir = WithSeparator(folder);
}

bool AppDirIsUserDataFolder()
{
    return g_appDirIsUserData;
}

bool DownloadFolderVolumeUsable(const QString &folder)
{
#ifdef Q_OS_WIN
    // The drive is the first three characters, as in D:\ .
    const QString root = folder.left(3);
    if (root.size() < 3 || root.at(1) != QLatin1Char(':'))
        return false;
    const QStorageInfo volume(root);
    return volume.isValid() && volume.isReady();
#else
    if (folder.isEmpty())
        return false;
    // Without drive letters: the folder, or its parent, must exist on a
    // mounted file system that is ready.
    QFileInfo info(QDir::cleanPath(folder));
    QString probe;
    if (info.isDir())
        probe = info.absoluteFilePath();
    else if (QFileInfo(info.absolutePath()).isDir())
        probe = info.absolutePath();
    else
        return false;
    const QStorageInfo volume(probe);
    return volume.isValid() && volume.isReady();
#endif
}

bool ParseNumber(QStringView text, qint64 *value)
{
    static const QRegularExpression numeric(
            QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = TrimBlanks(text.toString().normalized(QString::NormalizationForm_KC)).toString();
    if (!numeric.match(t).hasMatch())
        return false;

    bool ok = false;
    qint64 n = t.toLongLong(&ok);
    if (!ok) {
        // The pattern above holds only numbers: a failed conversion is one
        // too large (infinity) or too small (zero) for a double, and is kept
        // within range like any other.
        const double d = t.toDouble();
        if (d >= double(LargestThreshold))
            n = LargestThreshold;
        else if (d <= -double(LargestThreshold))
            n = -LargestThreshold;
        else
            n = RoundHalfEven(d);
    }
    *value = qBound(-LargestThreshold, n, LargestThreshold);
    return true;
}

QString FormatThreshold(qint64 value)
{
    const QString digits = QString::number(qAbs(value)).rightJustified(10, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

void LoadSettings()
{
    IniPath = AppDir + QStringLiteral("KIRO.ini");
    IniReadBuf = QString(IniBufferWidth, QLatin1Char(' '));

    StdHpAdrs = DefaultHomePage;
    FstHpAdrs = DefaultHomePage;
    FstDir = DefaultDownloadFolder();
    grhkb = 1;
    chkSubURL = 0;
    chkFileName = 0;
    chkPageView = 0;
    FilesAtOnce = DefaultFilesAtOnce;

    auto read = [](const char *key, int bufferSize) {
        IniResult = GetProfileString(IniSection, QLatin1String(key), QString(),
                                     &IniReadBuf, bufferSize, IniPath);
        return IniResult != 0;
    };

    if (read("StdHpAdrs", 200))
        StdHpAdrs = IniReadBuf;
    if (read("FstHpAdrs", 200))
        FstHpAdrs = IniReadBuf;
    // The download folder is read at the addresses' length so that a folder
    // the settings dialog saved comes back whole.
    if (read("FstDir", 200)) {
        const QString folder = IniReadBuf;
        if (DownloadFolderVolumeUsable(folder)) {
            FstDir = folder;
        } else {
            ShowMessage(QStringLiteral("ダウンロード初期設定フォルダを変更しました。\r\n"
                                       "設定画面で確認して下さい。"),
                        QStringLiteral("確認"));
        }
    }
    // A value that is not a number keeps the key's default.
    qint64 n = 0;
    if (read("grhkb", 11) && ParseNumber(IniReadBuf, &n))
        grhkb = n;
    if (read("chkSubURL", 2) && ParseNumber(IniReadBuf, &n))
        chkSubURL = int(n);
    if (read("chkFileName", 2) && ParseNumber(IniReadBuf, &n))
        chkFileName = int(n);
    if (read("chkPageView", 2) && ParseNumber(IniReadBuf, &n))
        chkPageView = int(n);
    if (read("FilesAtOnce", 2) && ParseNumber(IniReadBuf, &n))
        FilesAtOnce = int(std::clamp<qint64>(n, MinFilesAtOnce, MaxFilesAtOnce));
}

QString ExtsnFilePath()
{
    return AppDir + QStringLiteral("Extsn.fil");
}

QString FavFilePath()
{
    return AppDir + QStringLiteral("Fav.fil");
}

QList<ExtensionEntry> DefaultExtensions()
{
    static const char *const names[] = {"avi", "bmp", "gif", "jpeg", "jpg", "lzh", "mov",
                                        "mpeg", "mpg", "ra", "ram", "rm", "zip"};
    QList<ExtensionEntry> entries;
    for (const char *name : names)
        entries.append({QLatin1String(name), 1});
    return entries;
}

void CreateDefaultExtsnFile()
{
    if (QFileInfo::exists(ExtsnFilePath()))
        return;
    WriteExtensionFile(ExtsnFilePath(), DefaultExtensions());
}

void EnsureFileExists(const QString &path)
{
    if (QFileInfo::exists(path))
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        ++FileNo;
}

QList<ExtensionEntry> ReadExtensionFile(const QString &path)
{
    QList<ExtensionEntry> entries;
    for (const QStringList &fields : ReadRecordFile(path)) {
        ExtName = RecordText(fields, 0);
        ExtCheck = RecordNumber(fields, 1);
        entries.append({ExtName, ExtCheck});
    }
    return entries;
}

namespace {

QList<Record> ExtensionRecords(const QList<ExtensionEntry> &entries)
{
    QList<Record> records;
    records.reserve(entries.size());
    for (const ExtensionEntry &e : entries)
        records.append({RecordField::Text(e.name), RecordField::Number(e.check)});
    return records;
}

} // namespace

SaveResult EncodeExtensionFile(const QList<ExtensionEntry> &entries, QByteArray *bytes)
{
    return EncodeRecordFile(ExtensionRecords(entries), bytes);
}

SaveResult WriteExtensionFile(const QString &path, const QList<ExtensionEntry> &entries)
{
    return WriteRecordFile(path, ExtensionRecords(entries));
}

void SetExtensionList(const QList<ExtensionEntry> &entries)
{
    ExtNames = QStringList{QString()};
    ExtChecks = QList<int>{0};
    for (const ExtensionEntry &e : entries) {
        ExtNames.append(e.name);
        ExtChecks.append(e.check);
    }
}

void LoadExtensionList()
{
    SetExtensionList(ReadExtensionFile(ExtsnFilePath()));
}

} // namespace kiro
