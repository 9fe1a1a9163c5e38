#pragma once

#include <QString>

// Zoom steps and the texts the browser window shows for its keys, the find
// bar and the zoom. No widgets here.
namespace kiro {

// The zoom factor one step up (direction > 0) or down (direction < 0) from
// current, along the usual browser steps from 25 % to 500 %; a factor
// between two steps goes to the next one in that direction. At either end it
// stays where it is.
double NextZoomFactor(double current, int direction);
inline constexpr double MinZoomFactor = 0.25;
inline constexpr double MaxZoomFactor = 5.0;

// "表示倍率 110%".
QString ZoomText(double factor);

// The find bar's count: "" when nothing is searched, "見つかりません" when
// nothing matches, otherwise "5 件中 2 件目" (active counts from 1; 0 while
// no match is selected gives "5 件").
QString FindCountText(bool searched, int activeMatch, int numberOfMatches);

// A toolbar tooltip followed by its key: "戻る (Alt+←)"; the tooltip alone
// when there is no key.
QString TooltipWithKey(const QString &tooltip, const QString &keyText);

} // namespace kiro
