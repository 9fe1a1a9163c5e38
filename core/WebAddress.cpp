#include "WebAddress.h"

namespace kiro {

bool StartsWithWebScheme(QStringView address)
{
    return address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
            || StartsWithHttps(address);
}

bool StartsWithHttps(QStringView address)
{
    return address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

int SchemePrefixLength(QStringView address)
{
    return StartsWithHttps(address) ? 8 : 7;
}

QString FolderOf(QStringView address)
{
    // Position counted from 1, as the slashes of the scheme prefix are.
    const qsizetype p = address.lastIndexOf(QLatin1Char('/')) + 1;
    if (p > SchemePrefixLength(address))
        return address.left(p).toString();
    return address.toString() + QLatin1Char('/');
}

} // namespace kiro
