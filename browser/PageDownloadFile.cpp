#include "PageDownloadFile.h"

#include "core/Shared.h"
#include "getter/engine/DownloadNaming.h"
#include "getter/engine/PartFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDirIterator>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Enough tries to get past any number of copies a user keeps.
constexpr int MaxNameTries = 10000;
constexpr int MaxReserveTries = 20;

bool Taken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Splits a name into its stem and its extension (with the dot). A leading
// dot starts no extension; compressed archives keep ".tar" with theirs.
void SplitName(const QString &name, QString *stem, QString *extension)
{
    static const QRegularExpression tarExtension(
            QStringLiteral("\\.tar\\.[A-Za-z0-9]{1,4}$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch tar = tarExtension.match(name);
    qsizetype dot = tar.hasMatch() ? tar.capturedStart() : name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        dot = name.size();
    *stem = name.left(dot);
    *extension = name.mid(dot);
}

} // namespace

PageDownloadFile::PageDownloadFile(const QString &folder, const QString &suggestedName)
    : m_folder(QDir::fromNativeSeparators(folder)),
      m_wantedName(kiro::PageDownloadName(suggestedName))
{
}

PageDownloadFile::~PageDownloadFile() = default;

QString PageDownloadFile::reservedName() const
{
    return m_part ? QFileInfo(m_part->partPath()).fileName() : QString();
}

QString PageDownloadFile::reservedPath() const
{
    return m_part ? m_part->partPath() : QString();
}

bool PageDownloadFile::reserve()
{
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("保存先のフォルダー「%1」を作れません。")
                          .arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    for (int tries = 0; tries < MaxReserveTries; ++tries) {
        auto part = std::make_unique<PartFile>(kiro::JoinPath(m_folder, m_wantedName));
        if (!part->reserve())
            break;
        // The engine's partial data goes beside the reserved name: that
        // name must be free too, or its file would be taken for ours.
        if (Taken(part->partPath() + PartialSuffix()))
            continue;
        m_part = std::move(part);
        return true;
    }
    m_error = QStringLiteral("保存先のフォルダー「%1」にファイルを作れません。")
                      .arg(QDir::toNativeSeparators(m_folder));
    return false;
}

bool PageDownloadFile::commit()
{
    const QString reserved = reservedPath();
    if (reserved.isEmpty() || !QFileInfo(reserved).isFile()) {
        m_error = QStringLiteral("受信したファイルが見つかりません。");
        discard();
        return false;
    }
    // The name may have been taken since it was found free: the next free
    // one is tried then.
    const bool kept = m_part->commit(
            [this] { return kiro::JoinPath(m_folder, kiro::FreeName(m_folder, m_wantedName)); },
            MaxNameTries);
    if (!kept) {
        m_error = QStringLiteral("ファイルに「%1」などの名前を付けられません。").arg(m_wantedName);
        discard();
        return false;
    }
    m_finalPath = m_part->finalPath();
    m_part.reset();
    return true;
}

void PageDownloadFile::discard()
{
    if (!m_part)
        return;
    QFile::remove(m_part->partPath() + PartialSuffix());
    m_part.reset();   // removes the reserved file
}

namespace kiro {

bool IsProgramFileName(const QString &name)
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    for (const QString &own : {QStringLiteral("KIRO.ini"), QStringLiteral("Extsn.fil"),
                               QStringLiteral("Fav.fil"), QStringLiteral("qt.conf"), program}) {
        if (!own.isEmpty() && name.compare(own, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString PageDownloadName(const QString &suggestedName)
{
    const QString name = SafeName(suggestedName.trimmed());
    if (name.isEmpty())
        return QStringLiteral("download");
    // The program's own files are never written by a page.
    return IsProgramFileName(name) ? QLatin1Char('_') + name : name;
}

QString PageDownloadFolder(const QString &downloadFolder)
{
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(downloadFolder));
    const auto same = [&folder](const QString &other) {
        if (other.isEmpty())
            return false;
        const QString a = QFileInfo(folder).canonicalFilePath();
        const QString b = QFileInfo(QDir::fromNativeSeparators(other)).canonicalFilePath();
        return (!a.isEmpty() && a == b)
            || folder == QDir::cleanPath(QDir::fromNativeSeparators(other));
    };
    if (same(QCoreApplication::applicationDirPath()) || same(AppDir))
        return JoinPath(folder, QStringLiteral("ダウンロード"));
    return folder;
}

int RemoveLeftoverParts(const QString &folder, qint64 olderThanSecs)
{
    // The names reserve() makes, and the engine's partial data beside them.
    static const QRegularExpression leftover(QStringLiteral("^\\..*\\.[A-Za-z0-9]{6}\\.part(\\.download)?$"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-olderThanSecs);
    int removed = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink() || !leftover.match(info.fileName()).hasMatch())
            continue;
        if (info.lastModified().toUTC() > before)
            continue;
        removed += QFile::remove(info.filePath()) ? 1 : 0;
    }
    return removed;
}

QString FreeName(const QString &folder, const QString &name)
{
    if (!Taken(JoinPath(folder, name)))
        return name;
    QString stem;
    QString extension;
    SplitName(name, &stem, &extension);
    for (int number = 2;; ++number) {
        // A long name is shortened again, its number kept apart by the hash.
        const QString candidate = SafeName(stem + QStringLiteral(" (%1)").arg(number) + extension);
        if (!Taken(JoinPath(folder, candidate)))
            return candidate;
    }
}

QString ByteSizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 バイト").arg(bytes);
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = bytes / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString DownloadProgressText(const QString &name, qint64 received, qint64 total)
{
    QString text = QStringLiteral("ダウンロード中：%1　%2").arg(name, ByteSizeText(received));
    if (total > 0) {
        text += QStringLiteral(" / %1（%2%）")
                        .arg(ByteSizeText(total))
                        .arg(std::clamp<qint64>(received * 100 / total, 0, 100));
    }
    return text;
}

QString DownloadDoneText(const QString &path)
{
    return QStringLiteral("ダウンロードが完了しました：%1").arg(QDir::toNativeSeparators(path));
}

QString DownloadFailedText(const QString &address, const QString &reason)
{
    return QStringLiteral("ダウンロードに失敗しました：%1（原因：%2）ファイルは保存されていません。")
            .arg(address, reason);
}

QString DownloadBlockedText(const QString &address)
{
    return QStringLiteral("ダウンロードをブロックしました：%1").arg(address);
}

} // namespace kiro
