#include "EcmaRegExp.h"

namespace kiro {

namespace {

// ECMAScript's white space and line terminators, as class members.
const QLatin1String kSpaceClassBody(
        "\\t\\n\\x{0B}\\f\\r \\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}"
        "\\x{202F}\\x{205F}\\x{3000}\\x{FEFF}");

} // namespace

QString EcmaToPcre(const QString &ecmaPattern)
{
    QString out;
    out.reserve(ecmaPattern.size() + 64);
    bool inClass = false;
    for (qsizetype i = 0; i < ecmaPattern.size(); ++i) {
        const QChar c = ecmaPattern.at(i);
        if (c == QLatin1Char('\\') && i + 1 < ecmaPattern.size()) {
            const QChar next = ecmaPattern.at(i + 1);
            ++i;
            if (next == QLatin1Char('s')) {
                out += inClass ? QString(kSpaceClassBody)
                               : QLatin1Char('[') + QString(kSpaceClassBody) + QLatin1Char(']');
            } else if (next == QLatin1Char('S') && !inClass) {
                out += QLatin1String("[^") + QString(kSpaceClassBody) + QLatin1Char(']');
            } else {
                out += c;
                out += next;
            }
            continue;
        }
        if (!inClass && c == QLatin1Char('['))
            inClass = true;
        else if (inClass && c == QLatin1Char(']'))
            inClass = false;
        out += c;
    }
    return out;
}

QRegularExpression MakeEcmaRegExp(const QString &ecmaPattern)
{
    QRegularExpression re(EcmaToPcre(ecmaPattern), QRegularExpression::CaseInsensitiveOption);
    re.optimize();
    return re;
}

} // namespace kiro
