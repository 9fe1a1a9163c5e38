#include "AddressText.h"

#include "core/WebAddress.h"

namespace kiro {

namespace {

// The byte of the escape starting at i, or -1 when there is none. Only
// escapes that start at the last-but-two character or earlier count.
int EscapeAt(const QString &s, qsizetype i)
{
    if (i + 2 >= s.size() || s.at(i) != QLatin1Char('%'))
        return -1;
    const int high = HexDigitValue(s.at(i + 1));
    const int low = HexDigitValue(s.at(i + 2));
    if (high < 0 || low < 0)
        return -1;
    return high * 16 + low;
}

// Decodes the UTF-8 character whose escapes start at i. Returns the number
// of escapes used, 0 when they do not form a valid character.
int DecodeUtf8At(const QString &s, qsizetype i, char32_t *codePoint)
{
    const int lead = EscapeAt(s, i);
    int length = 0;
    char32_t cp = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    for (int k = 1; k < length; ++k) {
        const int next = EscapeAt(s, i + 3 * k);
        if (next < 0x80 || next > 0xBF)
            return 0;
        cp = (cp << 6) | char32_t(next & 0x3F);
    }
    if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *codePoint = cp;
    return length;
}

} // namespace

void DecodePercent(QString &s)
{
    if (s.size() < 3)
        return;
    QString out;
    out.reserve(s.size());
    qsizetype i = 0;
    while (i < s.size()) {
        const int byte = EscapeAt(s, i);
        if (byte < 0) {
            out += s.at(i);
            ++i;
        } else if (byte < 0x80) {
            out += QChar(char16_t(byte));
            i += 3;
        } else {
            char32_t cp = 0;
            const int used = DecodeUtf8At(s, i, &cp);
            if (used > 0) {
                out += QString::fromUcs4(&cp, 1);
                i += 3 * used;
            } else {
                out += s.mid(i, 3);
                i += 3;
            }
        }
    }
    s = out;
}

QString FolderPart(const QString &url)
{
    return FolderOf(url);
}

bool ContainsWebAddress(const QString &text)
{
    return text.contains(QLatin1String("HTTP://"), Qt::CaseInsensitive)
            || text.contains(QLatin1String("HTTPS://"), Qt::CaseInsensitive);
}

} // namespace kiro
