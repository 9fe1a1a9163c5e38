#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class BrowserView;
class PageDownloadFile;
class QWebEngineDownloadRequest;
class QWebEngineProfile;

// Takes every download the page engine hands over (a link it treats as a
// download, "save page", "save link", "save image") into the download
// folder FstDir, or into its sub-folder "ダウンロード" when FstDir is the
// program's own folder. Each file gets a free name (an existing file is never
// replaced, a name of the program's own files is never taken); progress, and
// at the end where the file went or why it failed, are told in the status
// bar; a failed download leaves nothing behind.
//
// A download is the user's when the user pressed a mouse button or a key on
// the page, or chose a command, shortly before it, and no other download has
// used that input. One that the page starts by itself, or a second one that
// follows the same input, is asked about first ("許可" or "ブロック"), and the
// answer holds for the page's site until the program ends. Nothing is
// written before the answer.
class PageDownloads : public QObject
{
    Q_OBJECT

public:
    // view: where the user's input is seen; the page it shows names the site.
    PageDownloads(QWebEngineProfile *profile, BrowserView *view, QObject *parent = nullptr);
    // Downloads still running are cancelled and their data removed.
    ~PageDownloads() override;

    int runningCount() const { return int(m_running.size()); }

    // How long after the user's input a download still counts as the user's.
    static constexpr int UserInputWindowMs = 10000;
    static QString MultipleDownloadsQuestion()
    {
        return QStringLiteral("このサイトは複数のファイルをダウンロードしようとしています。");
    }

Q_SIGNALS:
    // The text for the status bar and the percentage done (-1 when the size
    // is unknown, -2 for a download's end: no bar); an empty text when
    // nothing is to be shown any more.
    void ProgressChanged(const QString &text, int percent);

private:
    struct Running;

    void OnDownloadRequested(QWebEngineDownloadRequest *request);
    bool Permitted(QWebEngineDownloadRequest *request);
    void OnStateChanged(Running *download);
    void Report(Running *download);
    void End(Running *download, const QString &message);
    void Tell(const QString &message);

    QPointer<BrowserView> m_view;
    std::vector<std::unique_ptr<Running>> m_running;
    // The user's input that the last download used.
    quint64 m_usedInput = 0;
    // Sites the user answered for: true to allow their downloads.
    QHash<QString, bool> m_answers;
};
