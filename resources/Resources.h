#pragma once

#include <QIcon>
#include <QString>

// The pictures live in a static library, so their registration is not pulled
// in on its own: main() and the window tests call this once before use.
void InitKiroResources();

// One of the program's pictures by name ("back", "fget", ...): the drawing,
// or its bitmap where this Qt has no SVG support.
QIcon KiroIcon(const QString &name);
