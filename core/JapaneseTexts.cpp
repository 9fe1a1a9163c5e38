#include "JapaneseTexts.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>

namespace kiro {

namespace {

QByteArray Key(const char *context, const char *source)
{
    return QByteArray(context) + '\x04' + QByteArray(source);
}

} // namespace

const QList<JapaneseTexts::Entry> &JapaneseTexts::Entries()
{
    static const QList<Entry> entries = {
        // The page view's context menu.
        {"RenderViewContextMenuQt", "Back", "戻る"},
        {"RenderViewContextMenuQt", "Forward", "進む"},
        {"RenderViewContextMenuQt", "Reload", "更新"},
        {"RenderViewContextMenuQt", "Copy", "コピー"},
        {"RenderViewContextMenuQt", "Cut", "切り取り"},
        {"RenderViewContextMenuQt", "Paste", "貼り付け"},
        {"RenderViewContextMenuQt", "Paste and match style", "書式を合わせて貼り付け"},
        {"RenderViewContextMenuQt", "Undo", "元に戻す"},
        {"RenderViewContextMenuQt", "Redo", "やり直し"},
        {"RenderViewContextMenuQt", "Select all", "すべて選択"},
        {"RenderViewContextMenuQt", "Copy image", "画像をコピー"},
        {"RenderViewContextMenuQt", "Copy image address", "画像のアドレスをコピー"},
        {"RenderViewContextMenuQt", "Copy link address", "リンクのアドレスをコピー"},
        {"RenderViewContextMenuQt", "Copy media address", "メディアのアドレスをコピー"},
        {"RenderViewContextMenuQt", "Open link in new tab", "リンクを新しいタブで開く"},
        {"RenderViewContextMenuQt", "Open link in new window", "リンクを新しいウィンドウで開く"},
        {"RenderViewContextMenuQt", "Save image", "画像を保存"},
        {"RenderViewContextMenuQt", "Save link", "リンク先を保存"},
        {"RenderViewContextMenuQt", "Save media", "メディアを保存"},
        {"RenderViewContextMenuQt", "Save page", "ページを保存"},
        {"RenderViewContextMenuQt", "View page source", "ページのソースを表示"},
        {"RenderViewContextMenuQt", "Exit full screen", "全画面表示を終了"},
        {"RenderViewContextMenuQt", "Inspect", "検証"},
        {"RenderViewContextMenuQt", "Loop", "繰り返し再生"},
        {"RenderViewContextMenuQt", "Show controls", "コントロールを表示"},

        // The page's own actions and its question before leaving a page.
        {"QWebEnginePage", "Open link in this window", "リンクを開く"},
        {"QWebEnginePage", "Open link in new background tab", "リンクを新しいタブで開く（背面）"},
        {"QWebEnginePage", "Stop", "中止"},
        {"QWebEnginePage", "Reload and Bypass Cache", "キャッシュを使わずに更新"},
        {"QWebEnginePage", "Close Page", "ページを閉じる"},
        {"QWebEnginePage", "Unselect", "選択を解除"},
        {"QWebEnginePage", "Toggle Mute", "消音の切り替え"},
        {"QWebEnginePage", "Toggle Play/Pause", "再生／一時停止の切り替え"},
        {"QWebEnginePage", "&Bold", "太字(&B)"},
        {"QWebEnginePage", "&Italic", "斜体(&I)"},
        {"QWebEnginePage", "&Underline", "下線(&U)"},
        {"QWebEnginePage", "&Strikethrough", "取り消し線(&S)"},
        {"QWebEnginePage", "&Indent", "字下げ(&I)"},
        {"QWebEnginePage", "&Outdent", "字下げ解除(&O)"},
        {"QWebEnginePage", "Align &Left", "左揃え(&L)"},
        {"QWebEnginePage", "Align &Center", "中央揃え(&C)"},
        {"QWebEnginePage", "Align &Right", "右揃え(&R)"},
        {"QWebEnginePage", "Align &Justified", "両端揃え(&J)"},
        {"QWebEnginePage", "Insert &Unordered List", "箇条書きを挿入(&U)"},
        {"QWebEnginePage", "Insert &Ordered List", "番号付きリストを挿入(&O)"},
        {"QWebEnginePage",
         "Are you sure you want to leave this page? Changes that you made may not be saved.",
         "このページから移動しますか？ 入力した内容は保存されない可能性があります。"},
        {"QWebEngineView", "Select folder to upload", "アップロードするフォルダーを選択"},
        {"WebContentsAdapter", "HTTP-POST data can only be sent over HTTP(S) protocol",
         "HTTP-POST のデータは HTTP(S) でしか送れません"},

        // Why a download failed.
        {"DownloadInterruptReason", "Unknown reason or not interrupted", "原因不明のエラー"},
        {"DownloadInterruptReason", "General file operation failure", "ファイルの操作に失敗しました"},
        {"DownloadInterruptReason", "The file cannot be written locally, due to access restrictions",
         "アクセス権がないため、ファイルを書き込めません"},
        {"DownloadInterruptReason", "Insufficient space on the target drive",
         "保存先のディスクに空きがありません"},
        {"DownloadInterruptReason", "The directory or file name is too long",
         "フォルダー名またはファイル名が長すぎます"},
        {"DownloadInterruptReason", "The file size exceeds the file system limitation",
         "ファイルがファイルシステムの上限より大きすぎます"},
        {"DownloadInterruptReason", "The file is infected with a virus",
         "ファイルがウイルスに感染しています"},
        {"DownloadInterruptReason",
         "Temporary problem (for example file in use, or too many open files)",
         "一時的な問題です（ファイルが使用中、または開いているファイルが多すぎます）"},
        {"DownloadInterruptReason", "The file was blocked due to local policy",
         "ポリシーによりファイルがブロックされました"},
        {"DownloadInterruptReason",
         "Checking the safety of the download failed due to unexpected reasons",
         "ダウンロードの安全性を確認できませんでした"},
        {"DownloadInterruptReason",
         "File seek past the end of a file (resuming previously interrupted download)",
         "中断したダウンロードを再開できませんでした（ファイルの終わりを越えています）"},
        {"DownloadInterruptReason", "The partial file did not match the expected hash",
         "途中まで受信したファイルが一致しません"},
        {"DownloadInterruptReason", "General network failure", "ネットワークエラーが発生しました"},
        {"DownloadInterruptReason", "The network operation has timed out",
         "ネットワークの操作がタイムアウトしました"},
        {"DownloadInterruptReason", "The network connection has been terminated",
         "ネットワーク接続が切断されました"},
        {"DownloadInterruptReason", "The server has gone down", "サーバーが停止しています"},
        {"DownloadInterruptReason",
         "The network request was invalid (for example, the URL or scheme is invalid)",
         "要求が正しくありません（アドレスまたはスキームが無効です）"},
        {"DownloadInterruptReason", "General server failure", "サーバーエラーが発生しました"},
        {"DownloadInterruptReason", "The server does not have the requested data",
         "要求したデータがサーバーにありません"},
        {"DownloadInterruptReason", "Unexpected server response", "サーバーから予期しない応答がありました"},
        {"DownloadInterruptReason", "The server did not authorize access to the resource",
         "サーバーがアクセスを許可しませんでした"},
        {"DownloadInterruptReason", "A problem with the server certificate occurred",
         "サーバーの証明書に問題があります"},
        {"DownloadInterruptReason", "Access forbidden by the server", "サーバーがアクセスを拒否しました"},
        {"DownloadInterruptReason", "Download canceled by the user", "ダウンロードが中止されました"},
    };
    return entries;
}

JapaneseTexts::JapaneseTexts(QObject *parent)
    : QTranslator(parent)
{
    for (const Entry &entry : Entries())
        m_texts.insert(Key(entry.context, entry.source), QString::fromUtf8(entry.japanese));
}

QString JapaneseTexts::translate(const char *context, const char *sourceText, const char *,
                                 int) const
{
    if (!context || !sourceText)
        return QString();
    return m_texts.value(Key(context, sourceText));
}

bool InstallJapaneseTexts()
{
    static bool installed = false;
    static bool catalogueFound = false;
    if (installed)
        return catalogueFound;
    installed = true;

    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));

    // Translators installed later are asked first: Qt's catalogues win, and
    // ours fills what they lack.
    QCoreApplication::installTranslator(new JapaneseTexts(QCoreApplication::instance()));
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char *catalogue : {"qtbase_ja", "qtwebengine_ja"}) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(QString::fromLatin1(catalogue), folder)) {
            QCoreApplication::installTranslator(translator);
            if (qstrcmp(catalogue, "qtbase_ja") == 0)
                catalogueFound = true;
        } else {
            delete translator;
        }
    }
    if (!catalogueFound)
        qWarning("Qt's Japanese catalogue was not found in %s", qPrintable(folder));
    return catalogueFound;
}

} // namespace kiro
