#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class PageDownloadFile;
class QWebEngineDownloadRequest;
class QWebEngineProfile;

// Takes every download the page engine hands over (a link it treats as a
// download, "save page", "save link", "save image") into the download
// folder FstDir. Each file gets a free name (an existing file is never
// replaced); progress is reported for the status bar; at the end a message
// says where the file went or why it failed, and a failed download leaves
// nothing behind.
class PageDownloads : public QObject
{
    Q_OBJECT

public:
    explicit PageDownloads(QWebEngineProfile *profile, QObject *parent = nullptr);
    // Downloads still running are cancelled and their data removed.
    ~PageDownloads() override;

    int runningCount() const { return int(m_running.size()); }

Q_SIGNALS:
    // The text for the status bar and the percentage done (-1 when the size
    // is unknown); an empty text when no download runs any more.
    void ProgressChanged(const QString &text, int percent);

private:
    struct Running;

    void OnDownloadRequested(QWebEngineDownloadRequest *request);
    void OnStateChanged(Running *download);
    void Report(Running *download);
    void End(Running *download, const QString &message);
    void ShowLater(const QString &message);

    std::vector<std::unique_ptr<Running>> m_running;
};
