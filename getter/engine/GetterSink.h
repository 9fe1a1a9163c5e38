#pragma once

#include <QString>

namespace kiro {

// The status text of a search or a download that a stop request ended.
inline const QString AbortedText = QStringLiteral("要求処理が中断されました．");
// The status text of a search in which the expression engine gave up on some
// page's text, so that files may be missing from the list.
inline const QString AnalysisErrorText = QStringLiteral("ＨＴＭＬの解析中にエラーが発生しました．");
// The status text of a request that failed, a file that could not be saved
// included.
inline const QString TransferErrorText = QStringLiteral("通信中にエラーが発生しました．");

// A search ends where it reaches one of its bounds, with what it found so far.
constexpr int MaxSubPagesPerSearch = 1000;
constexpr qsizetype MaxLinksPerSearch = 1000000;
inline const QString SubPageBoundText =
        QStringLiteral("リンク先のページが上限の1000件に達したため、検索をここで終了しました．");
inline const QString LinkBoundText =
        QStringLiteral("見つかったリンクが上限の1000000件に達したため、検索をここで終了しました．");

} // namespace kiro

// What the getter's search, transfers and download show in their window. The
// window implements it; tests use a recording one.
class GetterSink
{
public:
    enum class Label {
        DLDir,    // lblDLDir: download folder
        DLFname,  // lblDLFname: phase text, or the file being fetched
        KB,       // lblKB: kilobytes received of the current file
        Now,      // lblNow: files handled so far
        All,      // lblAll: files to handle
    };

    virtual ~GetterSink() = default;

    virtual void SetStatusText(const QString &text) = 0;   // SB
    virtual void SetLabel(Label label, const QString &text) = 0;
    virtual void SetProgressRange(int minimum, int maximum) = 0;   // PBar1
    virtual void SetProgressValue(int value) = 0;

    // lstFile: item i stands for FileURLs(i); ticked = to download.
    virtual int FileItemCount() const = 0;
    virtual bool IsFileItemTicked(int i) const = 0;
    virtual QString FileItemText(int i) const = 0;
    // The item's text once its download has a result (FileItemResultText).
    virtual void SetFileItemText(int i, const QString &text) = 0;
    virtual void SetCurrentFileItem(int i) = 0;   // scrolls the list to it
};

// A sink that shows nothing and holds an empty list: a base for runs without
// a window (benchmarks) that override only what they watch.
class SilentGetterSink : public GetterSink
{
public:
    void SetStatusText(const QString &) override {}
    void SetLabel(Label, const QString &) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressValue(int) override {}
    int FileItemCount() const override { return 0; }
    bool IsFileItemTicked(int) const override { return false; }
    QString FileItemText(int) const override { return QString(); }
    void SetFileItemText(int, const QString &) override {}
    void SetCurrentFileItem(int) override {}
};
