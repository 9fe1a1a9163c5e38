#include "PageViewLinks.h"

#include "core/WebAddress.h"

#include <QUrl>

namespace kiro {

namespace {

bool IsHtmlSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\r' || u == u'\f';
}

bool IsAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

bool IsAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

QChar AsciiLower(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') ? QChar(char16_t(u + 0x20)) : c;
}

// Whether text, in ASCII lower case, is lower (itself in lower case).
bool EqualsLower(QStringView text, QLatin1StringView lower)
{
    if (text.size() != lower.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (AsciiLower(text.at(i)) != QLatin1Char(lower.at(i)))
            return false;
    }
    return true;
}

bool StartsWithLower(QStringView text, qsizetype at, QLatin1StringView lower)
{
    return at + lower.size() <= text.size() && EqualsLower(text.mid(at, lower.size()), lower);
}

QStringView TrimHtmlSpace(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsHtmlSpace(text.at(begin)))
        ++begin;
    while (end > begin && IsHtmlSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// A scheme, then ':' — and not http or https: nothing to fetch.
bool HasOtherScheme(QStringView address)
{
    if (address.isEmpty() || !IsAsciiLetter(address.at(0)))
        return false;
    qsizetype i = 1;
    while (i < address.size()) {
        const QChar c = address.at(i);
        if (IsAsciiLetter(c) || IsAsciiDigit(c) || c == QLatin1Char('+') || c == QLatin1Char('-')
            || c == QLatin1Char('.')) {
            ++i;
            continue;
        }
        break;
    }
    if (i >= address.size() || address.at(i) != QLatin1Char(':'))
        return false;
    const QStringView scheme = address.left(i);
    return !EqualsLower(scheme, QLatin1StringView("http"))
            && !EqualsLower(scheme, QLatin1StringView("https"));
}

void AddAddress(QStringList &out, QStringView address)
{
    address = TrimHtmlSpace(address);
    if (!address.isEmpty() && !HasOtherScheme(address))
        out.append(address.toString());
}

void AppendCharacter(QString &out, uint code)
{
    // A reference to nothing a text can hold stands for the replacement character.
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    const char32_t c = code;
    out += QString::fromUcs4(&c, 1);
}

// The attribute value with its character references undone: the numeric
// ones and the five named ones that addresses and styles use.
QString DecodeCharacterReferences(QStringView value)
{
    if (!value.contains(QLatin1Char('&')))
        return value.toString();
    static const struct { QLatin1StringView name; char16_t c; } named[] = {
        {QLatin1StringView("amp;"), u'&'}, {QLatin1StringView("quot;"), u'"'},
        {QLatin1StringView("apos;"), u'\''}, {QLatin1StringView("lt;"), u'<'},
        {QLatin1StringView("gt;"), u'>'},
    };
    QString out;
    out.reserve(value.size());
    qsizetype i = 0;
    while (i < value.size()) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('&')) {
            out += c;
            ++i;
            continue;
        }
        bool replaced = false;
        if (i + 1 < value.size() && value.at(i + 1) == QLatin1Char('#')) {
            qsizetype j = i + 2;
            const bool hex = j < value.size() && AsciiLower(value.at(j)) == QLatin1Char('x');
            if (hex)
                ++j;
            const qsizetype digitsAt = j;
            uint code = 0;
            while (j < value.size() && (hex ? HexDigitValue(value.at(j)) >= 0 : IsAsciiDigit(value.at(j)))) {
                if (code <= 0x10FFFF)
                    code = code * (hex ? 16 : 10) + uint(hex ? HexDigitValue(value.at(j)) : value.at(j).unicode() - u'0');
                ++j;
            }
            if (j > digitsAt) {
                if (j < value.size() && value.at(j) == QLatin1Char(';'))
                    ++j;
                AppendCharacter(out, code);
                i = j;
                replaced = true;
            }
        } else {
            for (const auto &entity : named) {
                if (StartsWithLower(value, i + 1, entity.name)) {
                    out += QChar(entity.c);
                    i += 1 + entity.name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += c;
            ++i;
        }
    }
    return out;
}

// Undoes a CSS escape starting after its backslash at text[i]; returns the
// position after it.
qsizetype ReadCssEscape(QStringView text, qsizetype i, QString &out)
{
    if (i >= text.size())
        return i;
    if (HexDigitValue(text.at(i)) < 0) {
        // An escaped newline inside a string continues the string.
        if (text.at(i) != QLatin1Char('\n'))
            out += text.at(i);
        return i + 1;
    }
    uint code = 0;
    qsizetype n = 0;
    while (i < text.size() && n < 6 && HexDigitValue(text.at(i)) >= 0) {
        code = code * 16 + uint(HexDigitValue(text.at(i)));
        ++i;
        ++n;
    }
    if (i < text.size() && IsHtmlSpace(text.at(i)))
        ++i;
    AppendCharacter(out, code);
    return i;
}

// A CSS string from its opening quote at text[i]; returns the position after
// it. A string that a newline or the end of the text cuts counts as ended there.
qsizetype ReadCssString(QStringView text, qsizetype i, QString *out)
{
    const QChar quote = text.at(i++);
    QString scratch;
    QString &value = out ? *out : scratch;
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == quote)
            return i + 1;
        if (c == QLatin1Char('\n'))
            return i;
        if (c == QLatin1Char('\\')) {
            i = ReadCssEscape(text, i + 1, value);
            continue;
        }
        if (out)
            value += c;
        ++i;
    }
    return i;
}

// The argument of url( whose "(" is just before text[i]; returns the
// position after its ")". *ok is false for an argument CSS rejects.
qsizetype ReadCssUrl(QStringView text, qsizetype i, QString *value, bool *ok)
{
    *ok = true;
    while (i < text.size() && IsHtmlSpace(text.at(i)))
        ++i;
    if (i < text.size() && (text.at(i) == QLatin1Char('"') || text.at(i) == QLatin1Char('\''))) {
        i = ReadCssString(text, i, value);
        while (i < text.size() && IsHtmlSpace(text.at(i)))
            ++i;
        if (i < text.size() && text.at(i) == QLatin1Char(')'))
            ++i;
        return i;
    }
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(')'))
            return i + 1;
        if (IsHtmlSpace(c)) {
            while (i < text.size() && IsHtmlSpace(text.at(i)))
                ++i;
            if (i >= text.size() || text.at(i) == QLatin1Char(')'))   // blanks, then ")" or the end
                return qMin(i + 1, text.size());
            *ok = false;
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('(')) {
            *ok = false;
            ++i;
            continue;
        }
        if (c == QLatin1Char('\\')) {
            i = ReadCssEscape(text, i + 1, *value);
            continue;
        }
        *value += c;
        ++i;
    }
    return i;
}

bool IsCssNameCharacter(QChar c)
{
    return IsAsciiLetter(c) || IsAsciiDigit(c) || c == QLatin1Char('-') || c == QLatin1Char('_')
            || c.unicode() >= 0x80 || c == QLatin1Char('\\');
}

void AddCssUrls(QStringList &out, QStringView css)
{
    qsizetype i = 0;
    while (i < css.size()) {
        const QChar c = css.at(i);
        if (c == QLatin1Char('/') && i + 1 < css.size() && css.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = css.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? css.size() : end + 2;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            i = ReadCssString(css, i, nullptr);
        } else if ((c == QLatin1Char('u') || c == QLatin1Char('U'))
                   && StartsWithLower(css, i, QLatin1StringView("url("))
                   && (i == 0 || !IsCssNameCharacter(css.at(i - 1)))) {
            QString value;
            bool ok = true;
            i = ReadCssUrl(css, i + 4, &value, &ok);
            if (ok)
                AddAddress(out, value);
        } else {
            ++i;
        }
    }
}

void AddSrcsetAddresses(QStringList &out, QStringView srcset)
{
    const qsizetype end = srcset.size();
    qsizetype i = 0;
    while (true) {
        while (i < end && (IsHtmlSpace(srcset.at(i)) || srcset.at(i) == QLatin1Char(',')))
            ++i;
        if (i >= end)
            return;
        const qsizetype start = i;
        while (i < end && !IsHtmlSpace(srcset.at(i)))
            ++i;
        QStringView address = srcset.mid(start, i - start);
        if (address.endsWith(QLatin1Char(','))) {
            while (address.endsWith(QLatin1Char(',')))
                address.chop(1);
        } else {
            // The descriptors, up to a comma outside parentheses.
            bool inParens = false;
            while (i < end) {
                const QChar c = srcset.at(i++);
                if (inParens) {
                    if (c == QLatin1Char(')'))
                        inParens = false;
                } else if (c == QLatin1Char(',')) {
                    break;
                } else if (c == QLatin1Char('(')) {
                    inParens = true;
                }
            }
        }
        AddAddress(out, address);
    }
}

bool IsOneOf(QStringView name, const QStringList &lowerNames)
{
    for (const QString &lower : lowerNames) {
        if (name.size() == lower.size() && name.compare(lower, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// What one attribute of a tag names.
void AddAttributeAddresses(QStringList &out, QStringView name, QStringView rawValue)
{
    if (name.size() < 5)
        return;
    if (EqualsLower(name, QLatin1StringView("style"))) {
        AddCssUrls(out, DecodeCharacterReferences(rawValue));
    } else if (IsOneOf(name, SrcsetAttributes())) {
        AddSrcsetAddresses(out, DecodeCharacterReferences(rawValue));
    } else if (StartsWithLower(name, 0, QLatin1StringView("data-"))
               && IsOneOf(name, LazyAddressAttributes())) {
        const QString value = DecodeCharacterReferences(rawValue);
        // Background attributes of some scripts hold CSS rather than an address.
        if (value.contains(QLatin1String("url("), Qt::CaseInsensitive))
            AddCssUrls(out, value);
        else
            AddAddress(out, value);
    }
}

// Elements whose content is text up to their end tag, not markup.
bool IsRawTextElement(QStringView tag)
{
    for (const char *name : {"script", "style", "textarea", "title", "xmp", "iframe",
                             "noembed", "noframes", "plaintext"}) {
        if (EqualsLower(tag, QLatin1StringView(name)))
            return true;
    }
    return false;
}

// A tokenizer tolerant of any text: every step moves forward, so a page is
// read in one pass whatever it holds.
class HtmlScanner
{
public:
    HtmlScanner(QStringView html, const std::function<bool()> &giveUp)
        : m_html(html), m_giveUp(giveUp)
    {
    }

    QStringList Run()
    {
        qsizetype i = 0;
        qsizetype nextCheck = CheckInterval;
        while (i < m_html.size()) {
            if (i >= nextCheck) {
                if (m_giveUp && m_giveUp())
                    break;
                nextCheck = i + CheckInterval;
            }
            i = m_html.indexOf(QLatin1Char('<'), i);
            if (i < 0)
                break;
            i = ReadMarkup(i);
        }
        return m_out;
    }

private:
    static constexpr qsizetype CheckInterval = 256 * 1024;

    // Reads the markup that opens at m_html[i] ('<'); returns where the text
    // goes on.
    qsizetype ReadMarkup(qsizetype i)
    {
        const qsizetype n = m_html.size();
        if (i + 1 >= n)
            return n;
        const QChar next = m_html.at(i + 1);
        if (next == QLatin1Char('!')) {
            if (StartsWithLower(m_html, i + 2, QLatin1StringView("--"))) {
                // "<!-->" and "<!--->" are empty comments.
                qsizetype j = i + 4;
                if (StartsWithLower(m_html, j, QLatin1StringView(">")))
                    return j + 1;
                if (StartsWithLower(m_html, j, QLatin1StringView("->")))
                    return j + 2;
                const qsizetype end = m_html.indexOf(QLatin1String("-->"), j);
                return end < 0 ? n : end + 3;
            }
            return SkipPast(i + 2, QLatin1Char('>'));
        }
        if (next == QLatin1Char('/') || next == QLatin1Char('?'))
            return SkipPast(i + 2, QLatin1Char('>'));
        if (!IsAsciiLetter(next))
            return i + 1;
        return ReadStartTag(i + 1);
    }

    qsizetype SkipPast(qsizetype i, QChar c) const
    {
        const qsizetype at = m_html.indexOf(c, i);
        return at < 0 ? m_html.size() : at + 1;
    }

    // A start tag whose name begins at m_html[i].
    qsizetype ReadStartTag(qsizetype i)
    {
        const qsizetype n = m_html.size();
        const qsizetype nameAt = i;
        while (i < n && !IsHtmlSpace(m_html.at(i)) && m_html.at(i) != QLatin1Char('/')
               && m_html.at(i) != QLatin1Char('>'))
            ++i;
        const QStringView tag = m_html.mid(nameAt, i - nameAt);

        // What the tag names counts once its ">" is seen.
        QStringList found;
        while (true) {
            while (i < n && (IsHtmlSpace(m_html.at(i)) || m_html.at(i) == QLatin1Char('/')))
                ++i;
            if (i >= n)
                return n;
            if (m_html.at(i) == QLatin1Char('>')) {
                ++i;
                break;
            }
            const qsizetype attrAt = i++;
            while (i < n && !IsHtmlSpace(m_html.at(i)) && m_html.at(i) != QLatin1Char('/')
                   && m_html.at(i) != QLatin1Char('>') && m_html.at(i) != QLatin1Char('='))
                ++i;
            const QStringView name = m_html.mid(attrAt, i - attrAt);
            qsizetype j = i;
            while (j < n && IsHtmlSpace(m_html.at(j)))
                ++j;
            if (j >= n || m_html.at(j) != QLatin1Char('='))
                continue;   // an attribute without a value
            i = j + 1;
            while (i < n && IsHtmlSpace(m_html.at(i)))
                ++i;
            if (i >= n)
                return n;
            QStringView value;
            const QChar quote = m_html.at(i);
            if (quote == QLatin1Char('"') || quote == QLatin1Char('\'')) {
                const qsizetype close = m_html.indexOf(quote, i + 1);
                if (close < 0)
                    return n;   // the tag never ends
                value = m_html.mid(i + 1, close - i - 1);
                i = close + 1;
            } else {
                const qsizetype valueAt = i;
                while (i < n && !IsHtmlSpace(m_html.at(i)) && m_html.at(i) != QLatin1Char('>'))
                    ++i;
                value = m_html.mid(valueAt, i - valueAt);
            }
            AddAttributeAddresses(found, name, value);
        }
        m_out += found;

        if (!IsRawTextElement(tag))
            return i;
        const qsizetype end = FindEndTag(tag, i);
        if (EqualsLower(tag, QLatin1StringView("style")))
            AddCssUrls(m_out, m_html.mid(i, end - i));
        return end;
    }

    // Where the content of a raw-text element that starts at m_html[i] ends:
    // at its end tag, or at the end of the text.
    qsizetype FindEndTag(QStringView tag, qsizetype i) const
    {
        const QString closing = QLatin1String("</") + tag;
        while (true) {
            const qsizetype at = m_html.indexOf(closing, i, Qt::CaseInsensitive);
            if (at < 0)
                return m_html.size();
            const qsizetype after = at + closing.size();
            if (after >= m_html.size() || IsHtmlSpace(m_html.at(after))
                || m_html.at(after) == QLatin1Char('/') || m_html.at(after) == QLatin1Char('>'))
                return at;
            i = after;
        }
    }

    QStringView m_html;
    const std::function<bool()> &m_giveUp;
    QStringList m_out;
};

} // namespace

const QStringList &LazyAddressAttributes()
{
    static const QStringList names = {
        QStringLiteral("data-src"), QStringLiteral("data-lazy-src"), QStringLiteral("data-lazy"),
        QStringLiteral("data-lazyload"), QStringLiteral("data-original"),
        QStringLiteral("data-original-src"), QStringLiteral("data-url"), QStringLiteral("data-echo"),
        QStringLiteral("data-src-retina"), QStringLiteral("data-hi-res"),
        QStringLiteral("data-bg"), QStringLiteral("data-bg-hidpi"), QStringLiteral("data-background"),
        QStringLiteral("data-background-image"), QStringLiteral("data-poster"),
        QStringLiteral("data-full"), QStringLiteral("data-full-src"), QStringLiteral("data-large"),
        QStringLiteral("data-large-file"), QStringLiteral("data-medium-file"),
        QStringLiteral("data-orig-file"), QStringLiteral("data-zoom-image"),
        QStringLiteral("data-zoom-src"), QStringLiteral("data-image"), QStringLiteral("data-img"),
    };
    return names;
}

const QStringList &SrcsetAttributes()
{
    static const QStringList names = {QStringLiteral("srcset"), QStringLiteral("data-srcset"),
                                      QStringLiteral("data-lazy-srcset")};
    return names;
}

QStringList SrcsetAddresses(QStringView srcset)
{
    QStringList out;
    AddSrcsetAddresses(out, srcset);
    return out;
}

QStringList CssUrlAddresses(QStringView css)
{
    QStringList out;
    AddCssUrls(out, css);
    return out;
}

QStringList PageViewHtmlAddresses(QStringView html, const std::function<bool()> &giveUp)
{
    return HtmlScanner(html, giveUp).Run();
}

QStringList LiveDocumentAddresses(const QList<LiveDocumentValue> &values)
{
    QStringList out;
    for (const LiveDocumentValue &value : values) {
        switch (value.kind) {
        case LiveDocumentValue::Address: AddAddress(out, value.text); break;
        case LiveDocumentValue::Srcset: AddSrcsetAddresses(out, value.text); break;
        case LiveDocumentValue::Css: AddCssUrls(out, value.text); break;
        }
    }
    return out;
}

bool SameDocumentAddress(const QString &a, const QString &b)
{
    auto form = [](const QString &address) {
        QUrl url(address.trimmed());
        url = url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments);
        if (url.path().isEmpty() && !url.host().isEmpty())
            url.setPath(QStringLiteral("/"));
        return url;
    };
    const QUrl first = form(a);
    return first.isValid() && !first.isEmpty() && first == form(b);
}

} // namespace kiro
