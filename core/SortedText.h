#pragma once

#include <QString>
#include <QStringList>

// The program's sorted lists (extensions, favorites) keep their items in
// ascending order of their text, letter case ignored.
namespace kiro {

// Where text goes in such a list: after every item that sorts equal to it,
// so items of the same text stay in the order they were added.
int SortedInsertIndex(const QStringList &sortedItems, const QString &text);

} // namespace kiro
