#include "AddressRules.h"

#include "core/TextFile.h"

#include <vector>

namespace kiro {

namespace {

const QLatin1String HttpPrefix("http://");
const QLatin1String HttpsPrefix("https://");
const QLatin1String ParentStep("../");

// The address without its query and fragment.
QStringView WithoutQuery(QStringView address)
{
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (c == QLatin1Char('?') || c == QLatin1Char('#'))
            return address.left(i);
    }
    return address;
}

// Text that grows at its end and shrinks back to a prefix, knowing where its
// "/" characters are, so that finding the last one costs nothing.
class PathBuffer
{
public:
    explicit PathBuffer(qsizetype capacity) { m_text.reserve(capacity); }

    void Append(QStringView part)
    {
        for (qsizetype i = 0; i < part.size(); ++i) {
            if (part.at(i) == QLatin1Char('/'))
                m_slashes.push_back(m_text.size() + i);
        }
        m_text.append(part);
    }

    void Truncate(qsizetype size)
    {
        m_text.truncate(size);
        while (!m_slashes.empty() && m_slashes.back() >= size)
            m_slashes.pop_back();
    }

    // 1-based position of the last "/", 0 when there is none.
    qsizetype LastSlashPosition() const
    {
        return m_slashes.empty() ? 0 : m_slashes.back() + 1;
    }

    void TrimLeadingSpaces()
    {
        const qsizetype n = LeadingSpaces(m_text);
        if (n == 0)
            return;
        m_text.remove(0, n);
        for (qsizetype &pos : m_slashes)
            pos -= n;
    }

    const QString &Text() const { return m_text; }
    QString &Text() { return m_text; }

private:
    QString m_text;
    std::vector<qsizetype> m_slashes;
};

} // namespace

QString PageFolder(const QString &pageAddress)
{
    return FolderOf(WithoutQuery(pageAddress));
}

QString JoinToPage(const QString &link, const QString &pageAddress, const QString &pageFolder)
{
    if (!link.startsWith(QLatin1Char('/')) || !StartsWithWebScheme(pageAddress))
        return pageFolder + link;
    const bool https = StartsWithHttps(pageAddress);
    if (link.startsWith(QLatin1String("//")))
        return (https ? QLatin1String("https:") : QLatin1String("http:")) + link;
    // Scheme, host and port: up to the first "/", "?" or "#" after the "//".
    const qsizetype hostStart = SchemePrefixLength(pageAddress);
    qsizetype hostEnd = hostStart;
    while (hostEnd < pageAddress.size()) {
        const QChar c = pageAddress.at(hostEnd);
        if (c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#'))
            break;
        ++hostEnd;
    }
    return (https ? QString(HttpsPrefix) : QString(HttpPrefix))
            + QStringView(pageAddress).mid(hostStart, hostEnd - hostStart) + link;
}

qsizetype IndexOfSlashPair(QStringView text, qsizetype from)
{
    for (qsizetype i = text.indexOf(QLatin1Char('/'), from); i >= 0 && i + 1 < text.size();
         i = text.indexOf(QLatin1Char('/'), i + 1)) {
        if (text.at(i + 1) == QLatin1Char('/'))
            return i;
    }
    return -1;
}

bool HasParentStep(QStringView text)
{
    for (qsizetype i = text.indexOf(QLatin1Char('.')); i >= 0 && i + 2 < text.size();
         i = text.indexOf(QLatin1Char('.'), i + 1)) {
        if (text.at(i + 1) == QLatin1Char('.') && text.at(i + 2) == QLatin1Char('/'))
            return true;
    }
    return false;
}

QString CollapseSlashes(const QString &address)
{
    const bool https = StartsWithHttps(address);
    const qsizetype prefixLength = SchemePrefixLength(address);
    const qsizetype firstPair = IndexOfSlashPair(address, prefixLength);
    // Most addresses are in this form already.
    if (firstPair < 0 && address.startsWith(https ? HttpsPrefix : HttpPrefix))
        return address;
    if (TrimSpaces(QStringView(address)).isEmpty())
        return QString();
    QString rest = address.mid(prefixLength);
    if (firstPair >= 0) {
        // Removing one "/" of the first pair and trimming spaces, again and
        // again, comes to this: trimming the ends never joins two "/".
        QChar *out = rest.data();
        const QChar *in = out;
        const QChar *const end = in + rest.size();
        QChar *const begin = out;
        for (; in != end; ++in) {
            if (*in == QLatin1Char('/') && out != begin && out[-1] == QLatin1Char('/'))
                continue;
            *out++ = *in;
        }
        rest.truncate(out - begin);
        rest = TrimSpaces(rest);
    }
    return (https ? QString(HttpsPrefix) : QString(HttpPrefix)) + rest;
}

QString ResolveParentRefs(const QString &address)
{
    if (TrimSpaces(address).isEmpty())
        return QString();
    qsizetype next = address.indexOf(ParentStep);
    if (next <= 0)
        return address;

    // Each step joins the text before the "../", cut back to its last "/",
    // to the text after it. Done in one sweep: the text already swept never
    // holds a "../" except one that a step's appended "/" completes at its end.
    const qsizetype keep = SchemePrefixLength(address);
    PathBuffer head(address.size());
    qsizetype read = 0;
    while (true) {
        qsizetype stepAt;   // where the "../" begins in head's text
        if (head.Text().endsWith(ParentStep)) {
            stepAt = head.Text().size() - 3;
        } else {
            next = address.indexOf(ParentStep, read);
            if (next < 0)
                break;
            head.Append(QStringView(address).mid(read, next - read));
            stepAt = head.Text().size();
            read = next + 3;
        }
        // The character before the "../" goes with it; with nothing before it,
        // the step cannot be taken and the address stays as it was.
        if (stepAt == 0)
            return address;
        head.Truncate(stepAt - 1);
        const qsizetype q = head.LastSlashPosition();
        if (q <= keep)
            head.Append(QStringView(u"/"));
        else
            head.Truncate(q);
        head.TrimLeadingSpaces();
    }
    QString &s = head.Text();
    s.append(QStringView(address).mid(read));
    s.chop(TrailingSpaces(s));
    return s;
}

QString UpperSameLength(QStringView text)
{
    QString upper(text.size(), Qt::Uninitialized);
    QChar *out = upper.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = text.at(i).toUpper();
    return upper;
}

} // namespace kiro
