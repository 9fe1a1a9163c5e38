#pragma once

#include <QString>

// How an installed KIRO is laid out: its application id (the name of its
// desktop entry, icon and metainfo) and how to tell an installed program
// from one run where it was built.
namespace kiro {

extern const QString ApplicationId;

// Where the install rules put the desktop entry for a program in programFolder.
QString InstalledDesktopEntry(const QString &programFolder);
// True when programFolder holds an installed KIRO, that is when that desktop
// entry is there.
bool ProgramIsInstalled(const QString &programFolder);

} // namespace kiro
