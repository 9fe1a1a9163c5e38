#pragma once

#include <QString>

#include <memory>

struct GetterVars;
class GetterSink;
class PartFile;
class TransferControl;

// The getter's "DownLoad": fetches every ticked file of lstFile into the
// searched page's sub-folder of FstDir, one at a time, and writes each
// item's result behind its address.
//
// A file received whole is put in place while the next file's request is on
// its way (the disk's work overlaps the server's); its item shows its result
// then. Every file is in place, and every item has its result, before
// DownloadFiles() returns.
class FileDownloader
{
public:
    FileDownloader(GetterVars &vars, GetterSink &sink, TransferControl &transfer);
    ~FileDownloader();

    // One long call that processes window events while it waits; it ends
    // early when AbortFlag is raised, with the abort text in the status bar.
    void DownloadFiles();

private:
    // Processes pending events after an item; false when the run must end.
    bool GoOnAfterItem();
    void SetItemResult(int i, const QString &result);
    // Puts the file received last in place, and shows its item's result.
    void SaveReceived();

    // The file received last and not yet in place.
    struct Received {
        int item = -1;
        QString path;
        qint64 bytes = 0;
        std::unique_ptr<PartFile> file;
    };
    Received m_received;

    GetterVars &m_vars;
    GetterSink &m_sink;
    TransferControl &m_transfer;
};
