#include "WebAddress.h"

namespace kiro {

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

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

bool HasControlCharacter(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

} // namespace kiro
