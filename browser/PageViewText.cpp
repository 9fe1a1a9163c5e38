#include "PageViewText.h"

#include <QtGlobal>

#include <cmath>
#include <iterator>

namespace kiro {

namespace {

constexpr double ZoomSteps[] = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25,
                                1.5, 1.75, 2.0, 2.5, 3.0, 4.0, 5.0};
// Factors closer than this to a step count as that step (the page view
// rounds what it is given).
constexpr double SameStep = 0.005;

} // namespace

double NextZoomFactor(double current, int direction)
{
    if (direction > 0) {
        for (double step : ZoomSteps) {
            if (step > current + SameStep)
                return step;
        }
        return qMax(current, MaxZoomFactor);
    }
    if (direction < 0) {
        for (auto it = std::rbegin(ZoomSteps); it != std::rend(ZoomSteps); ++it) {
            if (*it < current - SameStep)
                return *it;
        }
        return qMin(current, MinZoomFactor);
    }
    return current;
}

QString ZoomText(double factor)
{
    return QStringLiteral("表示倍率 %1%").arg(qRound(factor * 100));
}

QString FindCountText(bool searched, int activeMatch, int numberOfMatches)
{
    if (!searched)
        return QString();
    if (numberOfMatches <= 0)
        return QStringLiteral("見つかりません");
    if (activeMatch <= 0)
        return QStringLiteral("%1 件").arg(numberOfMatches);
    return QStringLiteral("%1 件中 %2 件目").arg(numberOfMatches).arg(activeMatch);
}

QString TooltipWithKey(const QString &tooltip, const QString &keyText)
{
    if (keyText.isEmpty())
        return tooltip;
    return tooltip + QStringLiteral(" (") + keyText + QLatin1Char(')');
}

} // namespace kiro
