#include "EmbeddedUrl.h"

#include "EcmaRegExp.h"
#include "TextFile.h"

namespace kiro {

QString ExtractEmbeddedURL(const QString &url)
{
    // Prepared once: this runs for every link and every status text.
    static const QRegularExpression pattern =
            MakeEcmaRegExp(QStringLiteral("(\\?)([\\s\\w=]*)(HTTPS?://[^&#]+)([&#]*)"));
    if (!url.contains(QLatin1Char('?')))
        return url;
    QString result = url;
    auto it = pattern.globalMatch(url);
    while (it.hasNext()) {
        const QString target = TrimSpaces(it.next().captured(3));
        if (!target.isEmpty())
            result = target;
    }
    return result;
}

} // namespace kiro
