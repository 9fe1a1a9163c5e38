#include "SettingsValues.h"

#include "core/Shared.h"
#include "core/TextFile.h"

#include <QUrl>

namespace kiro {

QString IniValueField(const QString &value)
{
    return value.leftJustified(IniBufferWidth, QLatin1Char(' '), true);
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
