#include "MessageSeam.h"

#include <QDebug>

namespace kiro {

namespace {

MessageHandler &Handler()
{
    static MessageHandler handler = [](const QString &text, const QString &title) {
        qWarning().noquote() << title << ':' << text;
    };
    return handler;
}

QuestionHandler &Questions()
{
    static QuestionHandler handler = [](const QString &text, const QString &title,
                                        const QStringList &choices) {
        qWarning().noquote() << title << ':' << text << choices;
        return -1;
    };
    return handler;
}

} // namespace

MessageHandler SetMessageHandler(MessageHandler handler)
{
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void ShowMessage(const QString &text, const QString &title)
{
    // A copy, so that a handler may replace itself while it runs.
    const MessageHandler handler = Handler();
    if (handler)
        handler(text, title);
}

QuestionHandler SetQuestionHandler(QuestionHandler handler)
{
    QuestionHandler previous = std::move(Questions());
    Questions() = std::move(handler);
    return previous;
}

int AskQuestion(const QString &text, const QString &title, const QStringList &choices)
{
    const QuestionHandler handler = Questions();
    return handler ? handler(text, title, choices) : -1;
}

} // namespace kiro
