// Naming: whatever the addresses, the page's sub-folder and a file's name
// are each one valid entry of at most 255 bytes as the file system writes
// them, and the file's path stays inside the download folder.
#include "FuzzSupport.h"

#include "getter/engine/DownloadNaming.h"

#include <QDir>
#include <QFile>

using namespace kiro;

namespace {

const QString DownloadFolder = QStringLiteral("/srv/kiro-fuzz/downloads");

void CheckEntry(const QString &entry, const QString &from)
{
    FUZZ_CHECK(!entry.isEmpty(), from);
    FUZZ_CHECK(entry != QLatin1String(".") && entry != QLatin1String(".."), from, entry);
    FUZZ_CHECK(!entry.contains(QLatin1Char('/')) && !entry.contains(QLatin1Char('\\')), from, entry);
    FUZZ_CHECK(!entry.contains(QChar(0)), from, entry);
    FUZZ_CHECK(!HasHalfCharacter(entry), from, entry);
    FUZZ_CHECK(QFile::encodeName(entry).size() <= 255, from, entry);
    // A safe name is its own safe name.
    FUZZ_CHECK(SafeName(entry) == entry, from, entry);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int chkFileName = in.ConsumeBool() ? 1 : 0;
    const bool wide = in.ConsumeBool();
    // Names come from pages that may be in UTF-16, half characters included.
    const QString page = wide ? ConsumeUtf16(in, 400) : ConsumeUtf8(in, 800);
    const QString file = wide ? ConsumeUtf16(in, 4000) : ConsumeUtf8(in, 8000);

    const QString sub = DownloadSubDirName(page);
    CheckEntry(sub, page);
    const QString folder = JoinPath(DownloadFolder, sub);
    FUZZ_CHECK(folder == DownloadFolder + QLatin1Char('/') + sub, page, folder);

    const QString name = SaveNameFor(file, chkFileName);
    if (!name.isEmpty()) {
        CheckEntry(name, file);
        const QString path = JoinPath(folder, name);
        FUZZ_CHECK(QDir::cleanPath(path) == path, file, path);
        FUZZ_CHECK(path.startsWith(folder + QLatin1Char('/')), file, path);
    }

    const QString safe = SafeName(file);
    FUZZ_CHECK(safe.isEmpty() == file.isEmpty(), file);
    if (!safe.isEmpty())
        CheckEntry(safe, file);
    return 0;
}
