#pragma once

#include "TransferQueue.h"

#include <QHash>
#include <QList>
#include <QString>

#include <vector>

struct GetterVars;
class GetterSink;

// The getter's "DownLoad": fetches every ticked file of lstFile into the
// searched page's sub-folder of FstDir, FilesAtOnce at a time, and writes
// each item's result behind its address.
//
// What a run leaves is the same whatever FilesAtOnce is: the same files
// under the same names and the same item texts; of two files that would
// take one name, the one later in the list waits for the earlier one and
// then finds its name taken. Only the order in which items get their results
// may differ; with one at a time it is the list's. The window's labels and
// status bar follow the earliest unfinished item.
class FileDownloader
{
public:
    FileDownloader(GetterVars &vars, GetterSink &sink, TransferQueue &queue);
    ~FileDownloader();

    // One long call that processes window events while it waits; it ends
    // early when AbortFlag is raised, with the abort text in the status bar,
    // every transfer cancelled and no partial file left.
    void DownloadFiles();

private:
    struct Item;

    void Consider(int k);
    void Start(Item &item);
    void Finish(Item &item, const QString &result);
    void OnFinished(TransferQueue::Id id, const TransferQueue::Result &result);
    void ShowFront();
    void ShowKB(qint64 bytes, bool always);
    void SetItemResult(int i, const QString &result);

    GetterVars &m_vars;
    GetterSink &m_sink;
    TransferQueue &m_queue;

    // The run in progress
    std::vector<Item> m_items;          // the ticked items, in list order
    QHash<TransferQueue::Id, int> m_byTransfer;
    QHash<QString, int> m_unfinishedByName;   // items started under a name and not done
    QHash<QString, QList<int>> m_waitingForName;
    QList<int> m_ready;                 // items whose name came free, in order
    QString m_folder;
    qint64 m_thresholdKB = 0;
    int m_chkFileName = 0;
    int m_next = 0;                     // the next item not yet considered
    int m_front = 0;                    // the earliest unfinished item
    int m_shownFront = -1;
    int m_shownListIndex = -1;
    int m_running = 0;                  // items whose transfer is queued or running
    int m_done = 0;
    qint64 m_shownKB = -1;
    qint64 m_labelAtMs = 0;
    bool m_changed = false;
};
