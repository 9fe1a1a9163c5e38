#pragma once

#include <QString>

struct GetterVars;
class GetterSink;
class TransferControl;

// The getter's "DownLoad": fetches every ticked file of lstFile into the
// searched page's sub-folder of FstDir, one at a time, and writes each
// item's result behind its address.
class FileDownloader
{
public:
    FileDownloader(GetterVars &vars, GetterSink &sink, TransferControl &transfer);

    // One long call that processes window events while it waits; it ends
    // early when AbortFlag is raised, with the abort text in the status bar.
    void DownloadFiles();

private:
    // Processes pending events after an item; false when the run must end.
    bool GoOnAfterItem();
    void SetItemResult(int i, const QString &result);

    GetterVars &m_vars;
    GetterSink &m_sink;
    TransferControl &m_transfer;
};
