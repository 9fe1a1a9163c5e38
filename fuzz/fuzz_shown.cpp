// What the getter takes from the browser view: a frame's location and the
// values of the live document. None of it reaches a request, a header, a
// file name or a folder unchecked: what passes the transfer's door goes out
// with no control character or blank, the Referer made of it is an origin or
// an address without its fragment, and the names made of it stay single
// names inside the download folder.
#include "FuzzSupport.h"

#include "core/TextFile.h"
#include "core/WebAddress.h"
#include "getter/engine/DownloadNaming.h"
#include "getter/engine/PageViewLinks.h"
#include "getter/engine/TransferRules.h"

#include <QUrl>

using namespace kiro;

namespace {

bool HeaderSafe(const QByteArray &value)
{
    for (const char c : value) {
        const uchar u = uchar(c);
        if (u <= 0x20 || u == 0x7f)
            return false;
    }
    return true;
}

bool SingleName(const QString &name)
{
    return !name.contains(u'/') && !name.contains(u'\\') && !HasControlCharacter(name)
        && name != QLatin1String(".") && name != QLatin1String("..");
}

// What Execute() would hand to libcurl, or nothing where the door refuses.
QByteArray Requested(const QString &address)
{
    if (HasControlCharacter(address))
        return QByteArray();
    return QUrl(address.trimmed(), QUrl::TolerantMode).adjusted(QUrl::RemoveFragment).toEncoded();
}

void CheckAddress(const QString &page, const QString &address)
{
    FUZZ_CHECK(HeaderSafe(Requested(address)), address);
    const QUrl from(page.trimmed(), QUrl::TolerantMode);
    const QByteArray referer = RefererValue(HasControlCharacter(page) ? QUrl() : from,
                                            QUrl(address.trimmed(), QUrl::TolerantMode));
    FUZZ_CHECK(HeaderSafe(referer) && !referer.contains('#'), page, address, QString::fromLatin1(referer));
    FUZZ_CHECK(referer.isEmpty() || referer.startsWith("http://") || referer.startsWith("https://"),
               page, QString::fromLatin1(referer));
    for (const int prefixed : {0, 1})
        FUZZ_CHECK(SingleName(SaveNameFor(address, prefixed)), address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString location = ConsumeUtf16(in, 2048);
    QList<LiveDocumentValue> values;
    while (in.remaining_bytes() > 0 && values.size() < 64) {
        LiveDocumentValue value;
        value.kind = LiveDocumentValue::Kind(in.ConsumeIntegralInRange<int>(0, 2));
        value.text = in.ConsumeBool() ? ConsumeUtf16(in, 4096) : ConsumeUtf8(in, 4096);
        values.append(value);
    }

    FUZZ_CHECK(HeaderSafe(Requested(location)), location);
    FUZZ_CHECK(SingleName(DownloadSubDirName(location)), location);
    FUZZ_CHECK(!DownloadSubDirName(location).contains(u'#'), location);
    CheckAddress(location, location);
    const QStringList addresses = LiveDocumentAddresses(values);
    for (const QString &address : addresses)
        CheckAddress(location, address);
    for (const LiveDocumentValue &value : std::as_const(values))
        CheckAddress(location, value.text);
    return 0;
}
