#include "PageText.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>

namespace kiro {

namespace {

// Declarations in a page sit in its head; this much is plenty.
constexpr qsizetype HeadScanBytes = 16 * 1024;

QByteArray Unquote(QByteArray value)
{
    value = value.trimmed();
    while (!value.isEmpty() && (value.front() == '"' || value.front() == '\''))
        value.remove(0, 1);
    while (!value.isEmpty() && (value.back() == '"' || value.back() == '\''))
        value.chop(1);
    return value.trimmed().toLower();
}

// Qt's name for a charset label, or "" when Qt has no decoder for it.
QByteArray DecoderName(const QByteArray &label)
{
    static const struct {
        const char *label;
        const char *name;
    } aliases[] = {
        {"shift_jis", "CP932"}, {"shift-jis", "CP932"}, {"sjis", "CP932"}, {"x-sjis", "CP932"},
        {"ms_kanji", "CP932"}, {"csshiftjis", "CP932"}, {"windows-31j", "CP932"},
        {"cp932", "CP932"}, {"ms932", "CP932"}, {"x-ms-cp932", "CP932"},
        {"euc-jp", "EUC-JP"}, {"x-euc-jp", "EUC-JP"}, {"eucjp", "EUC-JP"},
        {"cseucpkdfmtjapanese", "EUC-JP"},
        {"utf8", "UTF-8"}, {"unicode-1-1-utf-8", "UTF-8"},
        // Browsers read these as windows-1252, which agrees on every printable byte.
        {"iso-8859-1", "windows-1252"}, {"iso8859-1", "windows-1252"}, {"latin1", "windows-1252"},
        {"us-ascii", "windows-1252"}, {"ascii", "windows-1252"},
    };
    for (const auto &alias : aliases) {
        if (label == alias.label)
            return alias.name;
    }
    if (label.isEmpty())
        return QByteArray();
    QStringDecoder probe(label.constData());
    return probe.isValid() ? label : QByteArray();
}

struct Decoded {
    QString text;
    bool clean = false;
};

Decoded DecodeWith(const QByteArray &name, const QByteArray &body)
{
    QStringDecoder decoder(name.constData());
    Decoded result;
    result.text = decoder.decode(body);
    result.clean = !decoder.hasError();
    return result;
}

// How much a decoding looks like Japanese text rather than misread bytes.
int JapaneseScore(const QString &text)
{
    int score = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x3041 && u <= 0x309F)
            score += 2;                  // hiragana
        else if ((u >= 0x30A0 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF)
                 || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF01 && u <= 0xFF5E))
            score += 1;                  // katakana, kanji, full-width marks and letters
        else if (u >= 0xFF61 && u <= 0xFF9F)
            score -= 2;                  // half-width katakana: what EUC-JP read as Shift_JIS gives
        else if ((u >= 0xE000 && u <= 0xF8FF) || u == 0xFFFD || u == 0x001A
                 || (u >= 0x0080 && u <= 0x009F))
            score -= 4;                  // private use, replacement, C1 controls
    }
    return score;
}

// What kind of bytes a body holds, found in one pass. The bytes are looked at
// in blocks without a branch per byte, which the compiler vectorises.
enum class ByteKind { Ascii, AsciiWithEscape, High };

ByteKind KindOfBytes(QByteArrayView body)
{
    constexpr qsizetype Block = 64;
    const uchar *p = reinterpret_cast<const uchar *>(body.data());
    const qsizetype n = body.size();
    bool escape = false;
    for (qsizetype i = 0; i < n; i += Block) {
        const qsizetype end = std::min(n, i + Block);
        uchar high = 0;
        uchar esc = 0;
        for (qsizetype k = i; k < end; ++k) {
            high |= p[k] & 0x80;
            esc |= p[k] == 0x1B;
        }
        if (high)
            return ByteKind::High;
        escape = escape || esc;
    }
    return escape ? ByteKind::AsciiWithEscape : ByteKind::Ascii;
}

// Whether the text holds a UTF-16 surrogate, paired or not; checked in
// blocks as above.
bool HasSurrogates(QStringView text)
{
    constexpr qsizetype Block = 64;
    const char16_t *p = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; i += Block) {
        const qsizetype end = std::min(n, i + Block);
        bool any = false;
        for (qsizetype k = i; k < end; ++k)
            any |= (p[k] & 0xF800) == 0xD800;
        if (any)
            return true;
    }
    return false;
}

// Whether the bytes hold the word (ASCII letters in lower case) in any mix of
// cases: Horspool's search, which looks at about one byte in the word's
// length. Setting bit 5 lowers an ASCII capital and keeps a lower-case
// letter; no other byte becomes a lower-case letter by it.
bool ContainsAsciiWord(QByteArrayView bytes, QByteArrayView word)
{
    const qsizetype m = word.size();
    if (m == 0 || bytes.size() < m)
        return m == 0;
    std::array<qsizetype, 256> shift;
    shift.fill(m);
    for (qsizetype k = 0; k + 1 < m; ++k) {
        const uchar lower = uchar(word[k]);
        shift[lower] = shift[lower & ~0x20] = m - 1 - k;
    }
    for (qsizetype i = 0; i + m <= bytes.size(); i += shift[uchar(bytes[i + m - 1])]) {
        qsizetype k = m - 1;
        while (k >= 0 && (uchar(bytes[i + k]) | 0x20) == uchar(word[k]))
            --k;
        if (k < 0)
            return true;
    }
    return false;
}

std::optional<QString> DecodeByBom(const QByteArray &body)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(body.constData() + 3, body.size() - 3);
    // The mark says the byte order; Qt's decoder, told to keep the mark,
    // would read both orders as its own.
    const bool little = body.startsWith("\xFF\xFE");
    if (little || body.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return decoder.decode(QByteArrayView(body).sliced(2));
    }
    return std::nullopt;
}

Decoded Detect(const QByteArray &body)
{
    switch (KindOfBytes(body)) {
    case ByteKind::AsciiWithEscape:
        if (body.contains("\x1B$B") || body.contains("\x1B$@"))
            return DecodeWith("ISO-2022-JP", body);
        [[fallthrough]];
    case ByteKind::Ascii:
        return {QString::fromLatin1(body), true};
    case ByteKind::High:
        break;
    }
    Decoded utf8 = DecodeWith("UTF-8", body);
    if (utf8.clean)
        return utf8;
    Decoded sjis = DecodeWith("CP932", body);
    Decoded euc = DecodeWith("EUC-JP", body);
    if (sjis.clean != euc.clean)
        return sjis.clean ? sjis : euc;
    if (JapaneseScore(euc.text) > JapaneseScore(sjis.text))
        return euc;
    return sjis;
}

// Half a character (an unpaired UTF-16 surrogate, which a UTF-16 page can
// carry) becomes U+FFFD, as a browser shows it: the expression engine rejects
// a whole text that holds one, and would find no link in it.
QString WithoutHalfCharacters(QString text)
{
    if (!HasSurrogates(text))
        return text;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate())
            ++i;
        else
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QString DecodeText(const QByteArray &body, const QByteArray &contentType)
{
    if (const std::optional<QString> text = DecodeByBom(body))
        return *text;

    QByteArray name = DecoderName(CharsetOfContentType(contentType));
    if (name.isEmpty())
        name = DecoderName(CharsetOfPageHead(body));
    if (name.isEmpty())
        return Detect(body).text;

    Decoded declared = DecodeWith(name, body);
    if (declared.clean)
        return declared.text;
    // A wrong declaration is common on older Japanese sites; a reading with
    // no errors beats one with errors.
    Decoded detected = Detect(body);
    return detected.clean ? detected.text : declared.text;
}

} // namespace

QByteArray CharsetOfContentType(const QByteArray &contentType)
{
    const QList<QByteArray> parameters = contentType.split(';');
    for (qsizetype i = 1; i < parameters.size(); ++i) {
        const QByteArray parameter = parameters.at(i).trimmed();
        const qsizetype eq = parameter.indexOf('=');
        if (eq > 0 && parameter.left(eq).trimmed().toLower() == "charset")
            return Unquote(parameter.mid(eq + 1));
    }
    return QByteArray();
}

QByteArray CharsetOfPageHead(const QByteArray &body)
{
    static const QRegularExpression meta(
        QStringLiteral("<meta\\b[^>]*?\\bcharset\\s*=\\s*[\"']?\\s*([A-Za-z0-9._:\\-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression xml(
        QStringLiteral("^\\s*<\\?xml\\b[^>]*?\\bencoding\\s*=\\s*[\"']([A-Za-z0-9._:\\-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QByteArrayView headBytes = QByteArrayView(body).first(std::min(body.size(), HeadScanBytes));
    // Most pages declare nothing; the expressions are not run on those.
    if (!ContainsAsciiWord(headBytes, "charset") && !ContainsAsciiWord(headBytes, "encoding"))
        return QByteArray();
    const QString head = QString::fromLatin1(headBytes);
    QRegularExpressionMatch match = xml.match(head);
    if (!match.hasMatch())
        match = meta.match(head);
    if (!match.hasMatch())
        return QByteArray();
    QByteArray label = match.captured(1).toLatin1().toLower();
    // A page that can say so in ASCII is not UTF-16.
    if (label.startsWith("utf-16"))
        label = "utf-8";
    return label;
}

QString DecodePageText(const QByteArray &body, const QByteArray &contentType)
{
    return WithoutHalfCharacters(DecodeText(body, contentType));
}

int JapaneseTextScore(const QString &text)
{
    return JapaneseScore(text);
}

} // namespace kiro
