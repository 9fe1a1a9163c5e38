#include "SettingsValues.h"

#include "core/Shared.h"
#include "core/TextFile.h"

#include <QRegularExpression>
#include <QUrl>

namespace kiro {

QString IniValueField(const QString &value)
{
    return value.leftJustified(IniBufferWidth, QLatin1Char(' '), true);
}

bool ParseThreshold(const QString &text, qint64 *value)
{
    static const QRegularExpression numeric(
            QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (!numeric.match(t).hasMatch())
        return false;

    qint64 n = 0;
    bool ok = false;
    const qint64 whole = t.toLongLong(&ok);
    if (ok) {
        n = whole;
    } else {
        const double d = t.toDouble(&ok);
        if (!ok)
            return false;
        if (d >= double(LargestThreshold))
            n = LargestThreshold;
        else if (d <= -double(LargestThreshold))
            n = -LargestThreshold;
        else
            n = RoundHalfEven(d);
    }
    *value = qBound(-LargestThreshold, n, LargestThreshold);
    return true;
}

QString FormatThreshold(qint64 value)
{
    const QString digits = QString::number(qAbs(value)).rightJustified(10, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

QString AddressForStorage(const QString &address)
{
    bool plain = true;
    for (QChar c : address) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e || c == QLatin1Char('"')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return address;

    const QUrl url(address, QUrl::TolerantMode);
    // A one-letter scheme is a drive letter, not a scheme.
    if (url.isValid() && url.scheme().size() > 1)
        return QString::fromLatin1(url.toEncoded());
    const QUrl guessed = QUrl::fromUserInput(address);
    if (guessed.isValid())
        return QString::fromLatin1(guessed.toEncoded());
    return QString::fromLatin1(QUrl::toPercentEncoding(address, "!#$%&'()*+,/:;=?@[]~"));
}

} // namespace kiro
