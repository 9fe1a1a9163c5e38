#pragma once

#include <QString>

#include <functional>

// Every message the program shows goes through here: a modal box with the
// text, the title and an OK button only. The windows install a real message
// box; tests may install a handler that records and answers.
namespace kiro {

using MessageHandler = std::function<void(const QString &text, const QString &title)>;

// Installs handler and returns the one it replaces.
MessageHandler SetMessageHandler(MessageHandler handler);
void ShowMessage(const QString &text, const QString &title = QStringLiteral("確認"));

} // namespace kiro
