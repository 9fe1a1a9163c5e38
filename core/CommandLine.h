#pragma once

#include <QString>
#include <QStringList>

// The command line: at most one address, which the start-up shows in place of
// the start page (this is how the desktop hands KIRO a link to open).
//
// - Arguments that begin with "-" are options and belong to Qt or to the page
//   engine; KIRO takes none. Qt's options that take a value keep it even
//   where the running platform does not use them (-display on offscreen).
//   Everything after "--webEngineArgs" is the page engine's.
// - "--" ends the options: the next argument is an address even when it
//   begins with "-".
// - The first argument that is an address KIRO opens is shown: an http, https
//   or file address, a host with an optional path (example.com/a.html, taken
//   as http), or the path of a local file or folder (relative paths count from
//   the working folder).
// - Empty arguments are skipped. Other schemes (javascript:, data:, ...), text
//   with control characters, and every argument after the address are ignored
//   and reported.
namespace kiro {

struct CommandLineRequest {
    QString address;       // empty: the start page
    QStringList refused;   // not an address KIRO opens
    QStringList extra;     // further arguments after the address
};

CommandLineRequest ReadCommandLine(const QStringList &arguments, const QString &workingFolder);

// Reads arguments (without the program's name), keeps the address for the
// start-up and reports each ignored argument on the standard error output.
void UseCommandLine(const QStringList &arguments);

void SetCommandLineAddress(const QString &address);
// What the start-up shows: the command line's address, else the start page.
QString StartUpAddress();

} // namespace kiro
