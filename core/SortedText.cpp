#include "SortedText.h"

#include <algorithm>

namespace kiro {

int SortedInsertIndex(const QStringList &sortedItems, const QString &text)
{
    const auto it = std::upper_bound(sortedItems.cbegin(), sortedItems.cend(), text,
                                     [](const QString &a, const QString &b) {
                                         return a.compare(b, Qt::CaseInsensitive) < 0;
                                     });
    return int(it - sortedItems.cbegin());
}

} // namespace kiro
