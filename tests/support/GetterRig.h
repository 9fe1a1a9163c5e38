#pragma once

// The getter window's part in a transfer, without the window: its variables,
// a recording stand-in for its controls and its transfer queue, with every
// state the queue's transfers raised.

#include "RecordingSink.h"

#include "core/EventPump.h"
#include "core/Shared.h"
#include "getter/engine/GetterSink.h"
#include "getter/engine/GetterVars.h"
#include "getter/engine/PageText.h"
#include "getter/engine/TransferQueue.h"

#include <QList>
#include <QObject>

// Where the body of one request of the tests goes.
enum class TransferMode {
    PageText = 1,      // vars.HtmlText
    SubPageText = 2,   // vars.SubHtmlText
    File = 3,          // the file at SavePath
};

struct GetterRig {
    GetterVars vars;
    RecordingSink sink;
    TransferQueue queue;
    QList<int> states;

    // What the last Fetch() did.
    QString SavePath;
    qint64 ReceivedBytes = 0;
    int TransferDone = 0;
    bool lastFailed = false;
    QString errorString;

    enum class WaitResult { Done, Aborted };

    GetterRig()
    {
        // Failures that may pass are tried again; here without a long wait.
        queue.setRetryWait(20);
        queue.SetAbortCheck([] { return kiro::AbortFlag == 1; });
        QObject::connect(&queue, &TransferQueue::StateChanged, &queue,
                         [this](int, int state) { states.append(state); });
    }

    // One request through the queue, waited for as the search waits for a
    // page: the texts of its states in the status bar, the kilobytes of a
    // file in lblKB, the body into HtmlText, SubHtmlText or SavePath.
    WaitResult Fetch(const QString &url, TransferMode mode, const QString &referer = QString())
    {
        TransferDone = 0;
        lastFailed = false;
        errorString.clear();
        if (mode == TransferMode::PageText)
            vars.HtmlText.clear();
        else if (mode == TransferMode::SubPageText)
            vars.SubHtmlText.clear();
        else
            ReceivedBytes = 0;

        TransferQueue::Request request;
        request.url = url;
        request.referer = referer;
        request.cookieSite = vars.BaseURL;
        if (mode == TransferMode::File)
            request.savePath = SavePath;
        TransferQueue::Id id = 0;
        bool finished = false;
        TransferQueue::Result result;
        const QList<QMetaObject::Connection> connections{
            QObject::connect(&queue, &TransferQueue::StateChanged, &queue, [&](int i, int state) {
                const QString text = kiro::TransferStatusText(state);
                if (i == id && !text.isEmpty())
                    sink.SetStatusText(text);
            }),
            QObject::connect(&queue, &TransferQueue::Progress, &queue, [&](int i, qint64 bytes) {
                if (i != id || mode != TransferMode::File)
                    return;
                ReceivedBytes = bytes;
                sink.SetLabel(GetterSink::Label::KB, QString::number(bytes / 1024));
            }),
            QObject::connect(&queue, &TransferQueue::Finished, &queue,
                             [&](int i, const TransferQueue::Result &r) {
                if (i == id) {
                    finished = true;
                    result = r;
                }
            }),
        };
        id = queue.Enqueue(request);
        const bool done = kiro::WaitFor([&] { return finished; });
        for (const QMetaObject::Connection &connection : connections)
            QObject::disconnect(connection);
        if (!done) {
            queue.Cancel(id);
            sink.SetStatusText(kiro::AbortedText);
            if (mode == TransferMode::File)
                ReceivedBytes = 0;
            return WaitResult::Aborted;
        }
        TransferDone = 1;
        if (result.outcome == TransferQueue::Result::Failed) {
            lastFailed = true;
            errorString = result.error;
            if (mode == TransferMode::File)
                ReceivedBytes = 0;
            return WaitResult::Done;
        }
        if (mode == TransferMode::File) {
            ReceivedBytes = result.bytes;
            sink.SetLabel(GetterSink::Label::KB, QString::number(result.bytes / 1024));
        } else {
            (mode == TransferMode::PageText ? vars.HtmlText : vars.SubHtmlText)
                    = kiro::DecodePageText(result.body, result.contentType);
        }
        return WaitResult::Done;
    }

    bool LastFailed() const { return lastFailed; }

    // Transfers that ended, well or badly.
    int terminalStates() const { return int(states.count(11) + states.count(12)); }
};
