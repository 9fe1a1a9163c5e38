// The readers of KIRO.ini, Extsn.fil and Fav.fil on any bytes: the loaded
// settings stay within their limits, a number reads as a number within the
// threshold's range, and what the writers store of what was read reads back
// the same.
#include "FuzzSupport.h"

#include "core/MessageSeam.h"
#include "core/ProfileIni.h"
#include "core/RecordFile.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "core/TextFile.h"
#include "favorites/FavoritesFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace kiro;

namespace {

const QStringList SettingKeys{"StdHpAdrs", "FstHpAdrs", "FstDir", "grhkb", "chkSubURL",
                              "chkFileName"};

void Put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

// A value the INI file holds as it is: nothing the reader drops or a line
// cannot carry.
bool StorableValue(const QString &value)
{
    return TrimBlanks(value) == value && FirstUnstorableCharacter(value, Folding::NotAllowed).isEmpty();
}

void CheckProfile(const QString &path, const QByteArray &bytes, FuzzedDataProvider &in)
{
    Put(path, bytes);
    LoadSettings();
    FUZZ_CHECK(StdHpAdrs.size() <= 199 && FstHpAdrs.size() <= 199 && FstDir.size() <= 199);
    FUZZ_CHECK(grhkb >= -LargestThreshold && grhkb <= LargestThreshold);
    FUZZ_CHECK(chkSubURL >= -9 && chkSubURL <= 9 && chkFileName >= -9 && chkFileName <= 9);

    QList<ProfileValue> values;
    for (const QString &key : SettingKeys) {
        if (in.ConsumeBool())
            values.append({key, ConsumeUtf8(in, 40)});
    }
    const QString extraKey = ConsumeUtf8(in, 12);
    if (!extraKey.isEmpty() && StorableValue(extraKey) && !extraKey.contains(QLatin1Char('='))
        && !extraKey.startsWith(QLatin1Char('[')) && !extraKey.startsWith(QLatin1Char(';')))
        values.append({extraKey, ConsumeUtf8(in, 40)});
    for (const ProfileValue &v : std::as_const(values)) {
        if (!StorableValue(v.value))
            return;
    }

    QByteArray written;
    if (ProfileWithValues(IniSection, values, path, &written) != SaveResult::Ok)
        return;
    Put(path, written);
    for (const ProfileValue &v : std::as_const(values)) {
        QString read;
        GetProfileString(IniSection, v.key, QStringLiteral("<none>"), &read, 100000, path);
        FUZZ_CHECK(read == v.value, v.key, v.value, read, QString::fromLatin1(written.toHex(' ')));
    }
    // Setting the same values again changes nothing.
    QByteArray again;
    FUZZ_CHECK(ProfileWithValues(IniSection, values, path, &again) == SaveResult::Ok);
    FUZZ_CHECK(again == written, QString::fromLatin1(written.toHex(' ')),
               QString::fromLatin1(again.toHex(' ')));
}

void CheckExtensions(const QString &path, const QByteArray &bytes)
{
    Put(path, bytes);
    QList<ExtensionEntry> kept;
    for (const ExtensionEntry &e : ReadExtensionFile(path)) {
        if (!e.name.contains(QLatin1Char('"'))
            && FirstUnstorableCharacter(e.name, Folding::NotAllowed).isEmpty())
            kept.append(e);
    }
    FUZZ_CHECK(WriteExtensionFile(path, kept) == SaveResult::Ok);
    const QList<ExtensionEntry> back = ReadExtensionFile(path);
    FUZZ_CHECK(back.size() == kept.size(), QString::fromLatin1(bytes.toHex(' ')));
    for (qsizetype i = 0; i < kept.size(); ++i) {
        FUZZ_CHECK(back.at(i).name == kept.at(i).name && back.at(i).check == kept.at(i).check,
                   kept.at(i).name, back.at(i).name);
    }
}

void CheckFavorites(const QString &path, const QByteArray &bytes)
{
    Put(path, bytes);
    QList<Favorite> kept;
    for (const Favorite &f : ReadFavorites(path)) {
        if (FavoriteNameProblem(f.name).isEmpty() && !f.entry.contains(QLatin1Char('"'))
            && FirstUnstorableCharacter(f.name, Folding::NotAllowed).isEmpty()
            && FirstUnstorableCharacter(f.entry, Folding::NotAllowed).isEmpty())
            kept.append(f);
    }
    FUZZ_CHECK(WriteFavorites(path, kept) == SaveResult::Ok);
    const QList<Favorite> back = ReadFavorites(path);
    FUZZ_CHECK(back.size() == kept.size(), QString::fromLatin1(bytes.toHex(' ')));
    for (qsizetype i = 0; i < kept.size(); ++i) {
        FUZZ_CHECK(back.at(i).name == kept.at(i).name && back.at(i).entry == kept.at(i).entry,
                   kept.at(i).name, back.at(i).name, kept.at(i).entry, back.at(i).entry);
    }
}

void CheckNumber(const QString &text)
{
    qint64 n = 12345;
    if (!ParseNumber(text, &n)) {
        FUZZ_CHECK(n == 12345, text);
        return;
    }
    FUZZ_CHECK(n >= -LargestThreshold && n <= LargestThreshold, text);
    const QString t = TrimBlanks(text).toString();
    bool plain = !t.isEmpty() && t.size() <= 10;
    for (const QChar c : t)
        plain = plain && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (plain)
        FUZZ_CHECK(n == t.toLongLong(), text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const bool ready = [] {
        SetMessageHandler([](const QString &, const QString &) {});
        AppDir = dir.path() + QLatin1Char('/');
        return dir.isValid();
    }();
    if (!ready)
        std::abort();

    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange(0, 3);
    const QString number = ConsumeUtf8(in, 24);
    const QByteArray bytes = QByteArray::fromStdString(in.ConsumeRandomLengthString(4096));
    switch (which) {
    case 0:
        CheckProfile(AppDir + QStringLiteral("KIRO.ini"), bytes, in);
        break;
    case 1:
        CheckExtensions(AppDir + QStringLiteral("Extsn.fil"), bytes);
        break;
    case 2:
        CheckFavorites(AppDir + QStringLiteral("Fav.fil"), bytes);
        break;
    default:
        break;
    }
    CheckNumber(number);
    return 0;
}
