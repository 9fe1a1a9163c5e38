#pragma once

#include "GetterSink.h"
#include "GetterVars.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Inet;
class PartFile;
class Session;

// The getter's one transfer component and what it does with each state it
// reports: the status text, the body into HtmlText, SubHtmlText or the file at
// SavePath, ReceivedBytes and lblKB, and TransferDone when the request is over.
class TransferControl : public QObject
{
    Q_OBJECT

public:
    enum class WaitResult {
        Done,      // TransferDone = 1: the request is over (completed or failed)
        Aborted,   // AbortFlag = 1: the caller gives up; the abort text is shown
    };

    TransferControl(GetterVars &vars, GetterSink &sink, QObject *parent = nullptr);
    ~TransferControl() override;

    // The start-and-wait discipline: TransferDone = 0, TransferMode = mode
    // (a file also ReceivedBytes = 0; SavePath is the caller's), Execute(url,
    // "GET"), then wait in the event loop until TransferDone or AbortFlag.
    // On abort the status text is "要求処理が中断されました．", the request is
    // cancelled and no partial file remains. referer, when not empty, is the
    // page the request is made from.
    WaitResult Fetch(const QString &url, TransferMode mode, const QString &referer = QString());

    // A file fetched as Fetch() does, except that the complete file is not
    // put in place: TakeFinishedFile() hands it over. whileSent runs once
    // the request is on its way, before the wait, for the caller's work that
    // can go on while the server answers.
    WaitResult FetchFileToHandOver(const QString &url, const QString &referer,
                                   const std::function<void()> &whileSent);
    // The file of the last FetchFileToHandOver() that completed; null when
    // there is none.
    std::unique_ptr<PartFile> TakeFinishedFile();

    // The browser's cookies and User-Agent for every request; not owned.
    void SetSession(Session *session);

    // Whether the last finished request ended in an error (state 11).
    bool LastFailed() const;

    // Ends a request that may still be running; harmless when none runs.
    void Cancel();

    // The handler of the component's state notifications.
    void Inet_StateChanged(int state);

    Inet &inet();

private:
    WaitResult Run(const QString &url, TransferMode mode, const QString &referer, bool handOver,
                   const std::function<void()> &whileSent);

    struct Private;
    Private *d;
};
