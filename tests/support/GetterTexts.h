#pragma once

// The getter's texts as the user sees them, spelled out here so that a test
// fails when the program's text changes.

#include <QString>

inline const QString CompletedStatus = QStringLiteral("要求処理が完了し，すべてのデータが受信されました．");
inline const QString ErrorStatus = QStringLiteral("通信中にエラーが発生しました．");
inline const QString AbortedStatus = QStringLiteral("要求処理が中断されました．");
inline const QString Finished = QStringLiteral("ダウンロードが終了しました");
inline const QString Confirm = QStringLiteral("確認");
