#include "CommandLine.h"

#include "Shared.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

namespace kiro {

namespace {

QString g_commandLineAddress;

// Qt's options that take their value as the next argument. A platform plugin
// removes the ones it understands before KIRO sees them; the others must not
// turn their value into an address.
bool TakesValue(QString option)
{
    static const QStringList names = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"), QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"), QStringLiteral("style"),
        QStringLiteral("stylesheet"), QStringLiteral("session"),
        QStringLiteral("display"), QStringLiteral("geometry"), QStringLiteral("name"),
        QStringLiteral("title"), QStringLiteral("visual"), QStringLiteral("ncols"),
    };
    if (option.contains(QLatin1Char('=')))
        return false;
    option.remove(0, option.startsWith(QLatin1String("--")) ? 2 : 1);
    return names.contains(option);
}

bool HasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// The address to show for one argument, or "" when it is not one KIRO opens.
QString AddressOf(const QString &argument, const QString &workingFolder)
{
    QUrl url;
    const QFileInfo file(QDir(workingFolder), argument);
    if (argument.contains(QLatin1String("://")))
        // An address, even where the working folder holds a path that reads
        // the same ("http:/host"), which Qt would take first.
        url = QUrl::fromUserInput(argument.trimmed());
    else if (file.exists())
        url = QUrl::fromLocalFile(file.absoluteFilePath());
    else
        url = QUrl::fromUserInput(argument.trimmed(), workingFolder);
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!url.isValid() || !(web || scheme == QLatin1String("file")) || (web && url.host().isEmpty()))
        return QString();
    // Encoded, so that the address box hands the view exactly this address.
    return url.toString(QUrl::FullyEncoded);
}

} // namespace

CommandLineRequest ReadCommandLine(const QStringList &arguments, const QString &workingFolder)
{
    CommandLineRequest request;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (!optionsEnded) {
            if (argument == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            if (argument == QLatin1String("--webEngineArgs"))
                break;
            if (argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
                if (TakesValue(argument))
                    ++i;
                continue;
            }
        }
        if (argument.trimmed().isEmpty())
            continue;
        if (!request.address.isEmpty()) {
            request.extra.append(argument);
            continue;
        }
        if (!HasControlCharacter(argument))
            request.address = AddressOf(argument, workingFolder);
        if (request.address.isEmpty())
            request.refused.append(argument);
    }
    return request;
}

void UseCommandLine(const QStringList &arguments)
{
    const CommandLineRequest request = ReadCommandLine(arguments, QDir::currentPath());
    const auto report = [](const QString &note) {
        std::fputs((note + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    };
    for (const QString &argument : request.refused)
        report(QStringLiteral("KIRO: 「%1」は開けるアドレスではないため、無視しました。").arg(argument));
    for (const QString &argument : request.extra)
        report(QStringLiteral("KIRO: 開くアドレスは一つだけです。「%1」は無視しました。").arg(argument));
    SetCommandLineAddress(request.address);
}

void SetCommandLineAddress(const QString &address)
{
    g_commandLineAddress = address;
}

QString StartUpAddress()
{
    return g_commandLineAddress.isEmpty() ? FstHpAdrs : g_commandLineAddress;
}

} // namespace kiro
