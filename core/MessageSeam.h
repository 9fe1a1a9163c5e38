#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Every message the program shows goes through here: a modal box with the
// text, the title and an OK button only (or, for a question, a button for
// each choice). The windows install a real message
// box; tests may install a handler that records and answers.
namespace kiro {

using MessageHandler = std::function<void(const QString &text, const QString &title)>;

// Every window refuses its own close box with this message.
inline const QString CloseBoxRefusedText = QStringLiteral("このボタンでは終了できません。");

// Installs handler and returns the one it replaces.
MessageHandler SetMessageHandler(MessageHandler handler);
void ShowMessage(const QString &text, const QString &title = QStringLiteral("確認"));

// A question: a modal box with the text, the title and one button for each
// choice, the first the default. The answer is the index of the choice, or
// -1 when none was made (nobody to ask).
using QuestionHandler =
        std::function<int(const QString &text, const QString &title, const QStringList &choices)>;

QuestionHandler SetQuestionHandler(QuestionHandler handler);
int AskQuestion(const QString &text, const QString &title, const QStringList &choices);

} // namespace kiro
