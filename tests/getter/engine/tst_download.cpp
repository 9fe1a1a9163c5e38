// The download of ticked files from the loopback server: where each file
// lands, what its list item says, what is fetched and what is left on disk.
// Every case ends by listing the whole tree around the download folder, so a
// missing, extra, leftover or misplaced file fails it.
#include "getter/engine/DownloadNaming.h"
#include "getter/engine/FileDownloader.h"
#include "getter/engine/GetterSink.h"
#include "getter/engine/GetterVars.h"
#include "getter/engine/PartFile.h"
#include "getter/engine/Inet.h"
#include "getter/engine/TransferQueue.h"

#include "core/Shared.h"

#include "GetterTexts.h"
#include "GetterRig.h"
#include "RecordingSink.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <functional>

Q_DECLARE_METATYPE(TestResponse)

using namespace kiro;

namespace {

const QString AlreadyThere = QStringLiteral("既に登録あり");
const QString AtOrBelow = QStringLiteral("指定容量以下");
const QString Failed = QStringLiteral("ダウンロード失敗");

// One getter window's worth of download machinery.
struct Getter : GetterRig {
    FileDownloader downloader{vars, sink, queue};

    // The search's result for page: FileURLs and lstFile, every item ticked
    // unless listed in unticked.
    void List(const QString &page, const QStringList &urls, const QList<int> &unticked = {})
    {
        vars.BaseURL = page;
        FileURLs = urls;
        sink.items.clear();
        for (int i = 0; i < urls.size(); ++i)
            sink.items.append({urls.at(i), !unticked.contains(i)});
    }

    void Download(const QString &page, const QStringList &urls, const QList<int> &unticked = {})
    {
        List(page, urls, unticked);
        downloader.DownloadFiles();
    }
};

QByteArray Body(int size, char fill)
{
    return QByteArray(size, fill);
}

QString PageFolder(const TestServer &server, const QString &pageTail)
{
    return DownloadSubDirName(server.baseUrl() + pageTail);
}

} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void nothingTicked();
    void namingExamples();
    void downloadFolderWithAndWithoutSeparator_data();
    void downloadFolderWithAndWithoutSeparator();
    void onlySomeTicked_data();
    void onlySomeTicked();
    void sameDownloadTwice();
    void sameNameFromTwoFolders_data();
    void sameNameFromTwoFolders();
    void threshold_data();
    void threshold();
    void failedTransfers();
    void failedItemKeepsFileItDidNotWrite();
    void receivedFileNeverReplacesAFile();
    void stop_data();
    void stop();
    void partFileNeverReplacesAFile();
    void partFileKeepsPiecesInOrder();
    void httpsPage();
    void hostileNames();
    void searchedPageIsTheReferer();
    void severalAtOnceLeaveTheSame();
    void nameTakenTwice_data();
    void nameTakenTwice();
    void retryAfterPausesTheHost();
    void sizeDecidedAtTheHead_data();
    void sizeDecidedAtTheHead();
    void stopWithFourInFlight();
    void optionsTakenAtTheStart();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_root;   // the parent of the download folder
};

void TestDownload::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_root = m_tmp->path();
    QVERIFY(QDir(m_root).mkdir("Down"));
    FstDir = m_root + "/Down";
    // The item-by-item order of one at a time; the cases with several at
    // once say so.
    FilesAtOnce = 1;
    grhkb = 1;
    chkFileName = 0;
    AbortFlag = 0;
}

void TestDownload::cleanup()
{
    qunsetenv("http_proxy");
    m_tmp.reset();
}

void TestDownload::nothingTicked()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.addRoute("/a.jpg", TestResponse::bytes(Body(5000, 'a')));

    Getter g;
    g.Download(server.baseUrl() + "/index.html", {server.baseUrl() + "/a.jpg"}, {0});

    QVERIFY(g.sink.labels.isEmpty());
    QCOMPARE(g.sink.progressMaximum, -1);
    QVERIFY(g.sink.currentItems.isEmpty());
    QVERIFY(g.sink.Untouched(0));
    QCOMPARE(server.totalRequests(), 0);
    QCOMPARE(TreeListing(m_root), QStringList{"Down/"});
}

// The page and file addresses of the examples, served through the loopback
// server acting as the proxy for their hosts.
void TestDownload::namingExamples()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QByteArray body = Body(37000, 'c');
    server.addRoute("http://d.e.f/a/b/c.jpg", TestResponse::bytes(body));
    qputenv("http_proxy", server.baseUrl().toLatin1());

    Getter g;
    g.Download("http://a.b.c/photo/index.html", {"http://d.e.f/a/b/c.jpg"});
    QCOMPARE(g.sink.Result(0), "37kb");

    chkFileName = 1;
    g.Download("http://a.b.c/photo/index.html", {"http://d.e.f/a/b/c.jpg"});
    QCOMPARE(g.sink.Result(0), "37kb");

    QCOMPARE(server.requestCount("http://d.e.f/a/b/c.jpg"), 2);
    const QString dir = m_root + "/Down/a_b_c_photo_index_html";
    QCOMPARE(g.sink.labels.value(GetterSink::Label::DLDir), dir);
    QCOMPARE(FileBytes(dir + "/c.jpg"), body);
    QCOMPARE(FileBytes(dir + "/d_e_f_a_b@c.jpg"), body);
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/a_b_c_photo_index_html/",
                                           "Down/a_b_c_photo_index_html/c.jpg",
                                           "Down/a_b_c_photo_index_html/d_e_f_a_b@c.jpg"}));
}

void TestDownload::downloadFolderWithAndWithoutSeparator_data()
{
    QTest::addColumn<QString>("tail");
    QTest::newRow("without") << "";
    QTest::newRow("with") << QString(QDir::separator());
}

void TestDownload::downloadFolderWithAndWithoutSeparator()
{
    QFETCH(QString, tail);
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.addRoute("/a/b/c.jpg", TestResponse::bytes(Body(37000, 'c')));
    server.addRoute("/a/d.png", TestResponse::bytes(Body(2048, 'd')));
    server.addRoute("/a/e.gif", TestResponse::bytes(Body(3000, 'e')));

    FstDir = m_root + "/Down" + tail;
    Getter g;
    const QString b = server.baseUrl();
    g.Download(b + "/a/index.html", {b + "/a/b/c.jpg", b + "/a/e.gif", b + "/a/d.png"}, {1});

    const QString sub = PageFolder(server, "/a/index.html");
    QCOMPARE(sub, QStringLiteral("127_0_0_1_%1_a_index_html").arg(server.port()));
    const QString dir = m_root + "/Down/" + sub;
    QCOMPARE(g.sink.labels.value(GetterSink::Label::DLDir), dir);
    QCOMPARE(g.sink.labels.value(GetterSink::Label::All), "2");
    QCOMPARE(g.sink.labels.value(GetterSink::Label::Now), "2");
    QCOMPARE(g.sink.progressMinimum, 0);
    QCOMPARE(g.sink.progressMaximum, 2);
    QCOMPARE(g.sink.progressValue, 2);
    QCOMPARE(g.sink.currentItems, (QList<int>{0, 1, 2}));
    QCOMPARE(g.sink.fetchedNames, (QStringList{"c.jpg", "d.png"}));

    QCOMPARE(g.sink.items.at(0).text, b + "/a/b/c.jpg" + QString(150 - (b.size() + 10), ' ') + " 37kb");
    QVERIFY(g.sink.Untouched(1));
    QCOMPARE(g.sink.Result(2), "2kb");
    QCOMPARE(server.requestCount("/a/e.gif"), 0);
    QCOMPARE(FileBytes(dir + "/c.jpg"), Body(37000, 'c'));
    QCOMPARE(FileBytes(dir + "/d.png"), Body(2048, 'd'));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/c.jpg",
                                           "Down/" + sub + "/d.png"}));
}

void TestDownload::onlySomeTicked_data()
{
    QTest::addColumn<QList<int>>("unticked");
    QTest::newRow("only the last") << QList<int>{0, 1, 2};
    QTest::newRow("only the first") << QList<int>{1, 2, 3};
    QTest::newRow("the first and the last") << QList<int>{1, 2};
}

// Exactly the ticked items are fetched, the last one as well as the first,
// and counted as the run's whole.
void TestDownload::onlySomeTicked()
{
    QFETCH(QList<int>, unticked);
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    QStringList urls;
    for (int k = 0; k < 4; ++k) {
        server.addRoute(QStringLiteral("/f%1.jpg").arg(k), TestResponse::bytes(Body(3000, char('a' + k))));
        urls.append(b + QStringLiteral("/f%1.jpg").arg(k));
    }

    Getter g;
    g.Download(b + "/p.html", urls, unticked);

    const QString sub = PageFolder(server, "/p.html");
    QStringList expected{"Down/", "Down/" + sub + "/"};
    for (int k = 0; k < 4; ++k) {
        const bool ticked = !unticked.contains(k);
        QCOMPARE(server.requestCount(QStringLiteral("/f%1.jpg").arg(k)), ticked ? 1 : 0);
        QCOMPARE(g.sink.Untouched(k), !ticked);
        if (ticked) {
            QCOMPARE(g.sink.Result(k), "3kb");
            expected.append(QStringLiteral("Down/%1/f%2.jpg").arg(sub).arg(k));
        }
    }
    const QString count = QString::number(4 - unticked.size());
    QCOMPARE(g.sink.labels.value(GetterSink::Label::All), count);
    QCOMPARE(g.sink.labels.value(GetterSink::Label::Now), count);
    QCOMPARE(g.sink.progressMaximum, 4 - int(unticked.size()));
    QCOMPARE(g.sink.progressValue, 4 - int(unticked.size()));
    QCOMPARE(TreeListing(m_root), expected);
}

void TestDownload::sameDownloadTwice()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    QStringList urls;
    for (int k = 0; k < 3; ++k) {
        server.addRoute(QStringLiteral("/f%1.jpg").arg(k), TestResponse::bytes(Body(4000 + k, char('x' + k))));
        urls.append(b + QStringLiteral("/f%1.jpg").arg(k));
    }

    Getter g;
    g.Download(b + "/p.html", urls);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(g.sink.Result(k), "4kb");
    QCOMPARE(server.totalRequests(), 3);

    server.clearRequestLog();
    g.sink.fetchedNames.clear();
    g.downloader.DownloadFiles();   // the same list, its texts now carrying the results
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(g.sink.items.at(k).text.size(), FileItemTextWidth + 1 + AlreadyThere.size());
        QCOMPARE(g.sink.Result(k), AlreadyThere);
    }
    QCOMPARE(server.totalRequests(), 0);
    QVERIFY(g.sink.fetchedNames.isEmpty());

    const QString sub = PageFolder(server, "/p.html");
    QCOMPARE(sub, QStringLiteral("127_0_0_1_%1_p_html").arg(server.port()));
    for (int k = 0; k < 3; ++k)
        QCOMPARE(FileBytes(QStringLiteral("%1/Down/%2/f%3.jpg").arg(m_root, sub).arg(k)), Body(4000 + k, char('x' + k)));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/f0.jpg",
                                           "Down/" + sub + "/f1.jpg", "Down/" + sub + "/f2.jpg"}));
}

void TestDownload::sameNameFromTwoFolders_data()
{
    QTest::addColumn<int>("option");
    QTest::newRow("folder path in the name") << 1;
    QTest::newRow("plain names") << 0;
}

void TestDownload::sameNameFromTwoFolders()
{
    QFETCH(int, option);
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.addRoute("/x/c.jpg", TestResponse::bytes(Body(3000, 'x')));
    server.addRoute("/y/c.jpg", TestResponse::bytes(Body(3000, 'y')));
    const QString b = server.baseUrl();

    chkFileName = option;
    Getter g;
    g.Download(b + "/p.html", {b + "/x/c.jpg", b + "/y/c.jpg"});

    const QString sub = PageFolder(server, "/p.html");
    const QString dir = m_root + "/Down/" + sub;
    const QString host = QStringLiteral("127_0_0_1_%1").arg(server.port());
    QCOMPARE(g.sink.Result(0), "3kb");
    if (option == 1) {
        QCOMPARE(g.sink.Result(1), "3kb");
        QCOMPARE(FileBytes(dir + "/" + host + "_x@c.jpg"), Body(3000, 'x'));
        QCOMPARE(FileBytes(dir + "/" + host + "_y@c.jpg"), Body(3000, 'y'));
        QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/" + host + "_x@c.jpg",
                                               "Down/" + sub + "/" + host + "_y@c.jpg"}));
    } else {
        QCOMPARE(g.sink.Result(1), AlreadyThere);
        QCOMPARE(server.requestCount("/y/c.jpg"), 0);
        QCOMPARE(FileBytes(dir + "/c.jpg"), Body(3000, 'x'));
        QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/c.jpg"}));
    }
}

void TestDownload::threshold_data()
{
    QTest::addColumn<qint64>("threshold");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QStringList>("results");

    QTest::newRow("1 kB") << qint64(1) << QList<int>{1024, 1025, 3072, 0}
                          << QStringList{AtOrBelow, "2kb", "4kb", AtOrBelow};
    QTest::newRow("0") << qint64(0) << QList<int>{0, 1, 1024}
                       << QStringList{AtOrBelow, "1kb", "2kb"};
}

void TestDownload::threshold()
{
    QFETCH(qint64, threshold);
    QFETCH(QList<int>, sizes);
    QFETCH(QStringList, results);
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    QStringList urls;
    for (int k = 0; k < sizes.size(); ++k) {
        server.addRoute(QStringLiteral("/s%1.bin").arg(k), TestResponse::bytes(Body(sizes.at(k), 'z')));
        urls.append(b + QStringLiteral("/s%1.bin").arg(k));
    }

    grhkb = threshold;
    Getter g;
    g.Download(b + "/p.html", urls);

    const QString sub = PageFolder(server, "/p.html");
    QStringList expected{"Down/", "Down/" + sub + "/"};
    for (int k = 0; k < sizes.size(); ++k) {
        QCOMPARE(g.sink.Result(k), results.at(k));
        QCOMPARE(server.requestCount(QStringLiteral("/s%1.bin").arg(k)), 1);
        if (results.at(k) != AtOrBelow) {
            expected.append(QStringLiteral("Down/%1/s%2.bin").arg(sub).arg(k));
            QCOMPARE(QFileInfo(m_root + "/" + expected.last()).size(), qint64(sizes.at(k)));
        }
    }
    expected.sort();
    QCOMPARE(TreeListing(m_root), expected);
}

void TestDownload::failedTransfers()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addRoute("/reset.jpg", TestResponse::bytes(Body(50000, 'r')).resetAfter(10000));
    server.addRoute("/short.jpg", TestResponse::bytes(Body(50000, 's')).closeAfter(10000));
    server.addRoute("/gone.jpg", TestResponse::status(500, Body(5000, 'g')));
    server.addRoute("/good.jpg", TestResponse::bytes(Body(5000, 'o')));

    Getter g;
    g.Download(b + "/p.html",
               {b + "/missing.jpg", b + "/reset.jpg", b + "/short.jpg", b + "/gone.jpg", b + "/good.jpg"});

    for (int k = 0; k < 4; ++k)
        QCOMPARE(g.sink.Result(k), Failed);
    QCOMPARE(g.sink.Result(4), "5kb");
    QCOMPARE(server.requestCount("/good.jpg"), 1);
    QCOMPARE(g.sink.statusText, CompletedStatus);
    QVERIFY(g.sink.statusLog.contains(ErrorStatus));

    const QString sub = PageFolder(server, "/p.html");
    QCOMPARE(FileBytes(m_root + "/Down/" + sub + "/good.jpg"), Body(5000, 'o'));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/good.jpg"}));
}

// A file that appears under the target name while a slow transfer runs is
// someone else's; the transfer's failure must not take it away.
void TestDownload::failedItemKeepsFileItDidNotWrite()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addRoute("/late.jpg", TestResponse::bytes(Body(60000, 'l')).slow(4096, 30).resetAfter(20000));

    Getter g;
    g.List(b + "/p.html", {b + "/late.jpg"});
    const QString sub = PageFolder(server, "/p.html");
    const QString target = m_root + "/Down/" + sub + "/late.jpg";
    bool planted = false;
    g.sink.onLabel = [&](GetterSink::Label label, const QString &text) {
        if (planted || label != GetterSink::Label::KB || text.toInt() < 4)
            return;
        QFile other(target);
        planted = other.open(QIODevice::WriteOnly) && other.write("theirs") == 6;
    };
    g.downloader.DownloadFiles();

    QVERIFY(planted);
    QCOMPARE(g.sink.Result(0), Failed);
    QCOMPARE(FileBytes(target), QByteArray("theirs"));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/late.jpg"}));
}

// A received file takes its name once it is complete; one that appeared
// under that name meanwhile is someone else's and stays.
void TestDownload::receivedFileNeverReplacesAFile()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addRoute("/a.jpg", TestResponse::bytes(Body(3000, 'a')));
    server.addRoute("/b.jpg", TestResponse::bytes(Body(3000, 'b')));

    Getter g;
    g.List(b + "/p.html", {b + "/a.jpg", b + "/b.jpg"});
    const QString sub = PageFolder(server, "/p.html");
    const QString dir = m_root + "/Down/" + sub;
    g.sink.onLabel = [&](GetterSink::Label label, const QString &text) {
        if (label == GetterSink::Label::DLFname && text == "a.jpg") {
            QFile other(dir + "/a.jpg");
            QVERIFY(other.open(QIODevice::NewOnly) && other.write("theirs") == 6);
        }
    };
    g.downloader.DownloadFiles();

    QCOMPARE(g.sink.Result(0), Failed);
    QCOMPARE(g.sink.Result(1), "3kb");
    QVERIFY(g.sink.statusLog.contains(ErrorStatus));
    QCOMPARE(FileBytes(dir + "/a.jpg"), QByteArray("theirs"));
    QCOMPARE(FileBytes(dir + "/b.jpg"), Body(3000, 'b'));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/a.jpg",
                                           "Down/" + sub + "/b.jpg"}));
}

void TestDownload::stop_data()
{
    QTest::addColumn<bool>("duringTransfer");
    QTest::addColumn<QString>("first");         // the first file's address on the server
    QTest::addColumn<bool>("alreadyThere");     // a file of its name is in the folder before
    QTest::addColumn<QString>("firstResult");
    QTest::addColumn<QString>("now");            // lblNow at the end
    QTest::newRow("during a transfer") << true << "/first.jpg" << false << "3kb" << "2";
    QTest::newRow("after a kept item") << false << "/first.jpg" << false << "3kb" << "1";
    QTest::newRow("after an item that names no file") << false << "/dir/" << false << Failed << "1";
    QTest::newRow("after a failed item") << false << "/missing.jpg" << false << Failed << "1";
    QTest::newRow("after an item already there") << false << "/first.jpg" << true << AlreadyThere << "1";
}

// A stop is seen after whatever the item before it came to.
void TestDownload::stop()
{
    QFETCH(bool, duringTransfer);
    QFETCH(QString, first);
    QFETCH(bool, alreadyThere);
    QFETCH(QString, firstResult);
    QFETCH(QString, now);
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addRoute("/first.jpg", TestResponse::bytes(Body(3000, '1')));
    server.addRoute("/missing.jpg", TestResponse::status(404));
    server.addRoute("/stalled.jpg", TestResponse::bytes(Body(200000, '2')).stallAfter(8192));
    server.addRoute("/third.jpg", TestResponse::bytes(Body(3000, '3')));

    const QString sub = PageFolder(server, "/p.html");
    if (alreadyThere) {
        QVERIFY(QDir().mkpath(FstDir + "/" + sub));
        QFile earlier(FstDir + "/" + sub + "/first.jpg");
        QVERIFY(earlier.open(QIODevice::WriteOnly));
    }

    Getter g;
    g.List(b + "/p.html", {b + first, b + "/stalled.jpg", b + "/third.jpg"});
    if (duringTransfer) {
        // Stop once part of the stalled file has arrived.
        g.sink.onLabel = [&](GetterSink::Label label, const QString &text) {
            if (label == GetterSink::Label::KB && !text.isEmpty()
                && g.sink.labels.value(GetterSink::Label::DLFname) == "stalled.jpg")
                AbortFlag = 1;
        };
    } else {
        g.sink.onItemText = [&](int i) {
            if (i == 0)
                AbortFlag = 1;
        };
    }
    g.downloader.DownloadFiles();

    QCOMPARE(g.sink.statusText, AbortedStatus);
    QCOMPARE(g.sink.Result(0), firstResult);
    QVERIFY(g.sink.Untouched(1));
    QVERIFY(g.sink.Untouched(2));
    if (duringTransfer)
        QCOMPARE(server.requestCount("/stalled.jpg"), 1);
    else if (now == "1")
        QCOMPARE(server.requestCount("/stalled.jpg"), 0);
    QCOMPARE(server.requestCount("/third.jpg"), 0);
    QCOMPARE(g.sink.labels.value(GetterSink::Label::Now), now);

    QStringList tree{"Down/", "Down/" + sub + "/"};
    if (first == "/first.jpg")
        tree << "Down/" + sub + "/first.jpg";
    QCOMPARE(TreeListing(m_root), tree);
}

// The part file of a transfer never takes the place of a file that is there.
void TestDownload::partFileNeverReplacesAFile()
{
    const QString taken = m_root + "/taken.jpg";
    {
        QFile f(taken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("mine");
    }
    PartFile part(taken);
    QVERIFY(!part.open());
    PartFile unnamed{QString()};
    QVERIFY(!unnamed.open());
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "taken.jpg"}));
    QFile f(taken);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("mine"));
}

// Pieces of every size, a restart among them, end up as one file: the last
// start's bytes in the order they came, nothing on disk before the end for a
// small file.
void TestDownload::partFileKeepsPiecesInOrder()
{
    const QString target = m_root + "/pieces.bin";
    const QByteArray big = Body(300 * 1024, 'b');   // more than is gathered in memory
    const QByteArray small = Body(1000, 's');

    PartFile gathered(m_root + "/small.bin");
    QVERIFY(gathered.open());
    QCOMPARE(gathered.write(small.constData(), small.size()), qint64(small.size()));
    QCOMPARE(TreeListing(m_root), QStringList{"Down/"});
    gathered.cancelWriting();

    PartFile part(target);
    QVERIFY(part.open());
    QCOMPARE(part.write(big.constData(), big.size()), qint64(big.size()));
    QCOMPARE(part.write(small.constData(), small.size()), qint64(small.size()));
    QVERIFY(part.restart());
    QCOMPARE(part.size(), qint64(0));
    for (const QByteArray &piece : {small, big, small})
        QCOMPARE(part.write(piece.constData(), piece.size()), qint64(piece.size()));
    QCOMPARE(part.size(), qint64(2 * small.size() + big.size()));
    QVERIFY2(part.commit(), qPrintable(part.errorString()));
    QCOMPARE(FileBytes(target), small + big + small);
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "pieces.bin"}));
}

void TestDownload::httpsPage()
{
    if (!TestServer::tlsAvailable())
        QSKIP("no TLS backend");
    Inet::AddTrustedCaFile(TestServer::testCertificatePath());
    TestServer server(TestServer::Https);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    QVERIFY(b.startsWith("https://"));
    server.addRoute("/p/a.jpg", TestResponse::bytes(Body(3000, 'a')));

    chkFileName = 1;
    Getter g;
    g.Download(b + "/p/index.html", {b + "/p/a.jpg"});
    Inet::RemoveTrustedCaFile(TestServer::testCertificatePath());

    const QString host = QStringLiteral("127_0_0_1_%1").arg(server.port());
    const QString sub = host + "_p_index_html";
    QCOMPARE(g.sink.Result(0), "3kb");
    QCOMPARE(FileBytes(m_root + "/Down/" + sub + "/" + host + "_p@a.jpg"), Body(3000, 'a'));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/" + host + "_p@a.jpg"}));
}

void TestDownload::hostileNames()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    const QString longName = QString(300, 'L') + ".jpg";
    const QStringList tails{"..%2f..%2fx.jpg", "a%5c..%5cb.jpg", "con.jpg", "f:foo.jpg", longName,
                            "%2e%2e"};
    // What the client puts on the wire: escapes in capitals, and "%2e%2e"
    // taken as ".." of the path.
    const QStringList targets{"/h/..%2F..%2Fx.jpg", "/h/a%5C..%5Cb.jpg", "/h/con.jpg", "/h/f:foo.jpg",
                              "/h/" + longName, "/"};
    QStringList urls;
    for (int k = 0; k < tails.size(); ++k) {
        server.addRoute(targets.at(k), TestResponse::bytes(Body(2000 + k, char('a' + k))));
        urls.append(b + "/h/" + tails.at(k));
    }
    urls << "" << "nofolder.jpg" << b + "/h/";

    Getter g;
    g.Download(b + "/h/p.html", urls);

    const QString sub = PageFolder(server, "/h/p.html");
    QCOMPARE(sub, QStringLiteral("127_0_0_1_%1_h_p_html").arg(server.port()));
    const QString dir = m_root + "/Down/" + sub;
    const QStringList names{"..%2f..%2fx.jpg", "a%5c..%5cb.jpg", "_con.jpg", "f_foo.jpg", "", "%2e%2e"};
    QStringList expected{"Down/", "Down/" + sub + "/"};
    for (int k = 0; k < tails.size(); ++k) {
        QCOMPARE(g.sink.Result(k), "2kb");
        QCOMPARE(server.requestCount(targets.at(k)), 1);
        QString name = names.at(k);
        if (name.isEmpty()) {
            const QStringList found = QDir(dir).entryList({"LLL*"}, QDir::Files);
            QCOMPARE(found.size(), 1);
            name = found.first();
            QVERIFY(QRegularExpression("^L+~[0-9a-f]{8}\\.jpg$").match(name).hasMatch());
            QVERIFY(name.toUtf8().size() <= 255);
        }
        QCOMPARE(FileBytes(dir + "/" + name), Body(2000 + k, char('a' + k)));
        expected.append("Down/" + sub + "/" + name);
    }
    // Addresses that name no file are not requested.
    for (int k = tails.size(); k < urls.size(); ++k)
        QCOMPARE(g.sink.Result(k), Failed);
    QCOMPARE(server.totalRequests(), tails.size());

    expected.sort();
    QCOMPARE(TreeListing(m_root), expected);
}

// Many image hosts give a file only to a request from their own page.
void TestDownload::searchedPageIsTheReferer()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    const QString page = b + "/gallery/index.html";
    server.addRoute("/img/a.jpg", TestResponse::bytes(Body(5000, 'a')).requiringHeader("Referer", page.toUtf8()));
    server.addRoute("/img/b.jpg", TestResponse::bytes(Body(6000, 'b')).requiringHeader("Referer", page.toUtf8()));

    Getter g;
    g.Download(page, {b + "/img/a.jpg", b + "/img/b.jpg"});
    QCOMPARE(g.sink.Result(0), "5kb");
    QCOMPARE(g.sink.Result(1), "6kb");
    QCOMPARE(server.lastRequestHeader("/img/a.jpg", "Referer"), page.toUtf8());

    // From another page the host refuses them.
    g.Download(b + "/elsewhere.html", {b + "/img/a.jpg"});
    QCOMPARE(g.sink.Result(0), Failed);
    const QString sub = PageFolder(server, "/gallery/index.html");
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + PageFolder(server, "/elsewhere.html") + "/",
                                           "Down/" + sub + "/", "Down/" + sub + "/a.jpg",
                                           "Down/" + sub + "/b.jpg"}));
}

QTEST_GUILESS_MAIN(TestDownload)
// What a download leaves, one at a time and four at once: a gallery with
// files kept, failed, too small, already there and two that take one name.
void TestDownload::severalAtOnceLeaveTheSame()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.setKeepAlive(true);
    const QString b = server.baseUrl();
    QStringList urls;
    for (int i = 0; i < 24; ++i) {
        const QString name = QStringLiteral("/g/%1.jpg").arg(i);
        if (i % 7 == 3)
            server.addRoute(name, TestResponse::status(404));
        else if (i % 5 == 4)
            server.addRoute(name, TestResponse::bytes(Body(300, 'a' + i % 26)));
        else if (i % 6 == 1)
            server.addRoute(name, TestResponse::bytes(Body(5000 + i, 'a' + i % 26)).slow(1024, 5));
        else
            server.addRoute(name, TestResponse::bytes(Body(2000 + 100 * i, 'a' + i % 26)));
        urls << b + name;
    }
    server.addRoute("/h/5.jpg", TestResponse::bytes(Body(4096, 'h')));
    server.addRoute("/h/3.jpg", TestResponse::bytes(Body(4096, 'k')));
    urls << b + "/h/5.jpg" << b + "/h/3.jpg";

    QList<QStringList> texts;
    QList<QStringList> trees;
    QList<QByteArray> fives;
    for (const int atOnce : {1, 4}) {
        FstDir = m_root + QStringLiteral("/Down%1").arg(atOnce);
        QVERIFY(QDir().mkpath(FstDir + "/" + PageFolder(server, "/p.html")));
        QFile there(FstDir + "/" + PageFolder(server, "/p.html") + "/8.jpg");
        QVERIFY(there.open(QIODevice::WriteOnly) && there.write("mine") == 4);
        there.close();
        FilesAtOnce = atOnce;
        Getter g;
        g.Download(b + "/p.html", urls);
        QStringList itemTexts;
        for (const RecordingSink::Item &item : std::as_const(g.sink.items))
            itemTexts << item.text;
        texts << itemTexts;
        trees << TreeListing(FstDir);
        fives << FileBytes(FstDir + "/" + PageFolder(server, "/p.html") + "/5.jpg");
        QCOMPARE(g.sink.labels.value(GetterSink::Label::Now), g.sink.labels.value(GetterSink::Label::All));
        QCOMPARE(g.sink.progressValue, int(urls.size()));
    }
    QCOMPARE(texts.at(1), texts.at(0));
    QCOMPARE(trees.at(1), trees.at(0));
    QCOMPARE(fives.at(1), fives.at(0));
    QCOMPARE(fives.at(0), Body(2500, 'f'));
    QVERIFY(texts.at(0).at(8).endsWith(AlreadyThere));
    QVERIFY(texts.at(0).at(24).endsWith(AlreadyThere));   // the second 5.jpg
    // The first 3.jpg was not found: the second one takes the name.
    QVERIFY(texts.at(0).at(25).endsWith(" 4kb"));
}

void TestDownload::nameTakenTwice_data()
{
    QTest::addColumn<TestResponse>("first");
    QTest::addColumn<QString>("firstResult");
    QTest::addColumn<QString>("laterResult");
    QTest::addColumn<char>("kept");

    QTest::newRow("the first is kept")
        << TestResponse::bytes(Body(3000, '1')).slow(500, 20) << "3kb" << AlreadyThere << '1';
    QTest::newRow("the first fails") << TestResponse::status(404) << Failed << "3kb" << '2';
    QTest::newRow("the first is too small")
        << TestResponse::bytes(Body(100, '1')).withoutContentLength() << AtOrBelow << "3kb" << '2';
}

// Two items of one name in one run, four at once: the later one waits for
// the earlier one and comes after it as in sequence.
void TestDownload::nameTakenTwice()
{
    QFETCH(TestResponse, first);
    QFETCH(QString, firstResult);
    QFETCH(QString, laterResult);
    QFETCH(char, kept);

    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addRoute("/a/pic.jpg", first);
    server.addRoute("/b/pic.jpg", TestResponse::bytes(Body(3000, '2')));
    server.addRoute("/c/other.jpg", TestResponse::bytes(Body(3000, '3')));
    FilesAtOnce = 4;
    Getter g;
    g.Download(b + "/p.html", {b + "/a/pic.jpg", b + "/c/other.jpg", b + "/b/pic.jpg"});

    QCOMPARE(g.sink.Result(0), firstResult);
    QCOMPARE(g.sink.Result(2), laterResult);
    const QString dir = m_root + "/Down/" + PageFolder(server, "/p.html");
    QCOMPARE(FileBytes(dir + "/pic.jpg"), Body(3000, kept));
    QCOMPARE(server.requestCount("/b/pic.jpg"), kept == '2' ? 1 : 0);
    QCOMPARE(TreeListing(dir), (QStringList{"other.jpg", "pic.jpg"}));
}

// A 429 with Retry-After holds back every request to that host for as long
// as it asks, not only the file it answered.
void TestDownload::retryAfterPausesTheHost()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addSequence("/a.jpg", {TestResponse::status(429).withHeader("Retry-After", "1"),
                                  TestResponse::bytes(Body(3000, 'a'))});
    server.addRoute("/b.jpg", TestResponse::bytes(Body(3000, 'b')).slow(1000, 100));
    for (const char *name : {"/c.jpg", "/d.jpg", "/e.jpg"})
        server.addRoute(name, TestResponse::bytes(Body(3000, name[1])));
    FilesAtOnce = 2;
    Getter g;
    int requestsDuringPause = -1;
    QElapsedTimer clock;
    // b.jpg ends after about 0.3 s; until 1 s the host asked to be left alone.
    QTimer::singleShot(800, [&] { requestsDuringPause = server.totalRequests(); });
    clock.start();
    g.Download(b + "/p.html", {b + "/a.jpg", b + "/b.jpg", b + "/c.jpg", b + "/d.jpg", b + "/e.jpg"});

    QCOMPARE(requestsDuringPause, 2);   // a.jpg, answered 429, and b.jpg
    QVERIFY(clock.elapsed() >= 1000);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(g.sink.Result(i), "3kb");
    QCOMPARE(server.requestCount("/a.jpg"), 2);
}

void TestDownload::sizeDecidedAtTheHead_data()
{
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<qint64>("thresholdKB");
    QTest::addColumn<bool>("bodySent");
    QTest::addColumn<int>("connections");

    // A short body is read away to keep the connection; a long one is never
    // waited for, and its connection goes. Neither leaves a file.
    QTest::newRow("short body, connection kept") << qint64(500) << qint64(1) << true << 1;
    QTest::newRow("exactly the threshold") << qint64(1024) << qint64(1) << true << 1;
    QTest::newRow("100 KiB never sent") << qint64(100 * 1024) << qint64(200) << false << 2;
    QTest::newRow("50 MB never sent") << qint64(50 * 1000 * 1000) << qint64(100000) << false << 2;
}

void TestDownload::sizeDecidedAtTheHead()
{
    QFETCH(qint64, announced);
    QFETCH(qint64, thresholdKB);
    QFETCH(bool, bodySent);
    QFETCH(int, connections);

    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.setKeepAlive(true);
    const QString b = server.baseUrl();
    TestResponse small = TestResponse::generated(announced);
    if (!bodySent)
        small.stallAfter(0);
    server.addRoute("/small.jpg", small);
    // Without a length it is fetched, and dropped afterwards.
    server.addRoute("/next.jpg", TestResponse::bytes(Body(700, 'n')).chunked());
    grhkb = thresholdKB;
    FilesAtOnce = 1;
    Getter g;
    g.queue.setStallTimeout(20000);
    QElapsedTimer clock;
    clock.start();
    g.Download(b + "/p.html", {b + "/small.jpg", b + "/next.jpg"});
    QCOMPARE(g.sink.Result(0), AtOrBelow);
    QCOMPARE(g.sink.Result(1), AtOrBelow);
    // Had the body been waited for, the stall would have ended it after 20 s.
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(server.requestCount("/next.jpg"), 1);
    QCOMPARE(server.acceptedConnections(), connections);
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + PageFolder(server, "/p.html") + "/"}));
    server.releaseStalled();
}

// Stop with four files streaming: taken at once, every transfer ends, no
// partial file stays and the unfinished items keep their text.
void TestDownload::stopWithFourInFlight()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    QStringList urls;
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("/s%1.bin").arg(i);
        server.addRoute(name + ".jpg", TestResponse::generated(4 * 1024 * 1024).stallAfter(600 * 1024));
        urls << b + name + ".jpg";
    }
    FilesAtOnce = 4;
    Getter g;
    QElapsedTimer clock;
    qint64 stoppedAtNs = -1;
    QTimer poll;
    bool streaming = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // The four have their heads and part of their bodies by then.
        if (!streaming && server.totalRequests() >= 4) {
            streaming = true;
            QTimer::singleShot(300, [&] {
                AbortFlag = 1;
                stoppedAtNs = clock.nsecsElapsed();
            });
        }
    });
    poll.start(10);
    clock.start();
    g.Download(b + "/p.html", urls);
    const qint64 tookMs = (clock.nsecsElapsed() - stoppedAtNs) / 1000000;

    QVERIFY(stoppedAtNs >= 0);
    QVERIFY2(tookMs <= 100, qPrintable(QString::number(tookMs)));
    QCOMPARE(g.sink.statusText, AbortedStatus);
    QCOMPARE(server.totalRequests(), 4);
    for (int i = 0; i < 8; ++i)
        QVERIFY(g.sink.Untouched(i));
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + PageFolder(server, "/p.html") + "/"}));
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
}

// A download goes by the options it started with: the settings saved while
// it runs change neither its folder nor its threshold.
void TestDownload::optionsTakenAtTheStart()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString b = server.baseUrl();
    server.addRoute("/a.jpg", TestResponse::bytes(Body(3000, 'a')));
    server.addRoute("/b.jpg", TestResponse::bytes(Body(3000, 'b')));
    FilesAtOnce = 1;
    Getter g;
    g.sink.onItemText = [&](int i) {
        if (i == 0) {
            FstDir = m_root + "/Elsewhere";
            grhkb = 100;
            FilesAtOnce = 8;
        }
    };
    g.Download(b + "/p.html", {b + "/a.jpg", b + "/b.jpg"});
    QCOMPARE(g.sink.Result(1), "3kb");
    const QString sub = PageFolder(server, "/p.html");
    QCOMPARE(TreeListing(m_root), (QStringList{"Down/", "Down/" + sub + "/", "Down/" + sub + "/a.jpg",
                                               "Down/" + sub + "/b.jpg"}));
}


#include "tst_download.moc"
