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

} // namespace kiro
