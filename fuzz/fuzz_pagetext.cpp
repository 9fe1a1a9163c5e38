// A fetched page's way to text: the content codings undone, then the bytes
// decoded by the declared or detected character set. However the body is cut
// into pieces it decodes the same, and the text never holds half a
// character, so the link passes can always read it.
#include "FuzzSupport.h"

#include "core/Shared.h"
#include "getter/engine/ContentDecoder.h"
#include "getter/engine/LinkExtraction.h"
#include "getter/engine/PageText.h"

#include <vector>

using namespace kiro;

namespace {

struct Decoding {
    bool ok = false;
    QByteArray output;
};

// The body through a decoder, in pieces of the given sizes (the rest in one).
Decoding Decode(const QByteArray &coding, const QByteArray &body, const std::vector<size_t> &cuts)
{
    Decoding result;
    ContentDecoder decoder;
    const bool started = decoder.Start(coding, [&](const char *data, qsizetype size) {
        result.output.append(data, size);
        return result.output.size() <= 8 * 1024 * 1024;
    });
    if (!started)
        return result;
    qsizetype at = 0;
    for (const size_t cut : cuts) {
        const qsizetype piece = qMin(qsizetype(cut), body.size() - at);
        if (!decoder.Write(body.constData() + at, piece))
            return result;
        at += piece;
    }
    if (!decoder.Write(body.constData() + at, body.size() - at))
        return result;
    result.ok = decoder.Finish();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static const QByteArray codings[] = {"", "gzip", "deflate", "deflate, gzip", "x-gzip, identity"};
    const QByteArray coding = codings[in.ConsumeIntegralInRange<size_t>(0, std::size(codings) - 1)];
    std::vector<size_t> cuts(in.ConsumeIntegralInRange(0, 6));
    for (size_t &cut : cuts)
        cut = in.ConsumeIntegralInRange<size_t>(0, 300);
    const QByteArray contentType = QByteArray::fromStdString(in.ConsumeRandomLengthString(60));
    const QByteArray body = ConsumeRemainingBytes(in);

    const Decoding whole = Decode(coding, body, {});
    const Decoding pieces = Decode(coding, body, cuts);
    FUZZ_CHECK(whole.ok == pieces.ok, QString::fromLatin1(coding));
    if (whole.ok) {
        FUZZ_CHECK(whole.output == pieces.output, QString::fromLatin1(coding));
        if (coding.isEmpty())
            FUZZ_CHECK(whole.output == body);
    }

    const QByteArray page = whole.ok ? whole.output.left(256 * 1024) : body;
    const QString text = DecodePageText(page, contentType);
    FUZZ_CHECK(!HasHalfCharacter(text), QString::fromLatin1(contentType));
    if (page.isEmpty())
        FUZZ_CHECK(text.isEmpty());

    const QByteArray charset = CharsetOfContentType(contentType);
    FUZZ_CHECK(charset == charset.toLower(), QString::fromLatin1(contentType));
    const QByteArray declared = CharsetOfPageHead(page);
    FUZZ_CHECK(declared == declared.toLower() && !declared.startsWith("utf-16"));

    AbortFlag = 0;
    QRegularExpression linkRegExp;
    QStringList links{QString()};
    FUZZ_CHECK(!ExtractFileLinks(linkRegExp, text, links, 0, LinkScanHooks()).matchError,
               QString::fromLatin1(contentType));
    return 0;
}
