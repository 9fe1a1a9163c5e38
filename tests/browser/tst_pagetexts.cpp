// What the browser window decides without a window: zoom steps, and where a
// file downloaded from the page lands (a free name, never replacing a file,
// nothing left behind when it fails).
#include "browser/PageDownloadFile.h"
#include "browser/PageViewText.h"
#include "core/Shared.h"

#include "TestFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <sys/stat.h>

class TestPageTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void zoomSteps_data();
    void zoomSteps();
    void downloadName_data();
    void downloadName();
    void freeName_data();
    void freeName();
    void sizesAndProgress_data();
    void sizesAndProgress();

    void downloadTakesItsName_data();
    void downloadTakesItsName();
    void nameTakenWhileDownloading();
    void failedDownloadLeavesNothing();
    void folderMadeOrRefused();
    void programFolderGetsASubFolder();
    void leftoversOfACrashRemoved();
    void keptFileFollowsTheUmask();
};

// The files these tests keep get the mask the process has from its start.
static mode_t g_umaskBefore = 0;

void TestPageTexts::initTestCase()
{
    g_umaskBefore = ::umask(027);
}

void TestPageTexts::cleanupTestCase()
{
    ::umask(g_umaskBefore);
}

void TestPageTexts::zoomSteps_data()
{
    QTest::addColumn<double>("current");
    QTest::addColumn<int>("direction");
    QTest::addColumn<double>("expected");

    QTest::newRow("in from 100") << 1.0 << 1 << 1.1;
    QTest::newRow("out from 100") << 1.0 << -1 << 0.9;
    QTest::newRow("in from 90") << 0.9 << 1 << 1.0;
    QTest::newRow("in from 200") << 2.0 << 1 << 2.5;
    QTest::newRow("between steps, in") << 1.17 << 1 << 1.25;
    QTest::newRow("between steps, out") << 1.17 << -1 << 1.1;
    QTest::newRow("rounded by the view") << 1.1000001 << 1 << 1.25;
    QTest::newRow("top stays") << 5.0 << 1 << 5.0;
    QTest::newRow("bottom stays") << 0.25 << -1 << 0.25;
    QTest::newRow("below the bottom, in") << 0.1 << 1 << 0.25;
}

void TestPageTexts::zoomSteps()
{
    QFETCH(double, current);
    QFETCH(int, direction);
    QFETCH(double, expected);
    QCOMPARE(kiro::NextZoomFactor(current, direction), expected);
}

void TestPageTexts::downloadName_data()
{
    QTest::addColumn<QString>("suggested");
    QTest::addColumn<QString>("expected");

    // The getter's rules keep the name inside the folder.
    QTest::newRow("separators") << "../../etc/passwd" << ".._.._etc_passwd";
    QTest::newRow("dots only") << ".." << "__";
    QTest::newRow("japanese") << "写真 1.jpg" << "写真 1.jpg";
    QTest::newRow("empty") << "" << "download";
    // The program's own files are never a page's to write.
    QTest::newRow("the settings") << "KIRO.ini" << "_KIRO.ini";
    QTest::newRow("the extensions, other case") << "extsn.FIL" << "_extsn.FIL";
    QTest::newRow("the favorites") << "Fav.fil" << "_Fav.fil";
    QTest::newRow("Qt's configuration") << "qt.conf" << "_qt.conf";
    QTest::newRow("the program") << QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                                 << "_" + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QTest::newRow("a name that only begins like one") << "KIRO.ini.txt" << "KIRO.ini.txt";
}

void TestPageTexts::downloadName()
{
    QFETCH(QString, suggested);
    QFETCH(QString, expected);
    QCOMPARE(kiro::PageDownloadName(suggested), expected);
}

void TestPageTexts::freeName_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("free") << QStringList() << "a.zip" << "a.zip";
    QTest::newRow("taken") << QStringList{"a.zip"} << "a.zip" << "a (2).zip";
    QTest::newRow("taken twice") << QStringList{"a.zip", "a (2).zip"} << "a.zip" << "a (3).zip";
    QTest::newRow("gap is used") << QStringList{"a.zip", "a (3).zip"} << "a.zip" << "a (2).zip";
    QTest::newRow("no extension") << QStringList{"README"} << "README" << "README (2)";
    QTest::newRow("hidden file") << QStringList{".profile"} << ".profile" << ".profile (2)";
    QTest::newRow("archive") << QStringList{"src.tar.gz"} << "src.tar.gz" << "src (2).tar.gz";
    QTest::newRow("folder of that name") << QStringList{"pics/"} << "pics" << "pics (2)";
}

void TestPageTexts::freeName()
{
    QFETCH(QStringList, present);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &entry : present) {
        if (entry.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dir.path()).mkdir(entry.chopped(1)));
        else
            QVERIFY(WriteFile(dir.filePath(entry), "x"));
    }
    QCOMPARE(kiro::FreeName(dir.path(), name), expected);
}

void TestPageTexts::sizesAndProgress_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bytes, size unknown") << qint64(512) << qint64(-1) << "ダウンロード中：a.zip　512 バイト";
    QTest::newRow("half") << qint64(512 * 1024) << qint64(1024 * 1024)
                          << "ダウンロード中：a.zip　512.0 KB / 1.0 MB（50%）";
    QTest::newRow("gigabytes") << qint64(3) * 1024 * 1024 * 1024 << qint64(3) * 1024 * 1024 * 1024
                               << "ダウンロード中：a.zip　3.0 GB / 3.0 GB（100%）";
}

void TestPageTexts::sizesAndProgress()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(QString, expected);
    QCOMPARE(kiro::DownloadProgressText(QStringLiteral("a.zip"), received, total), expected);
}

void TestPageTexts::downloadTakesItsName_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expectedName");

    QTest::newRow("free") << QStringList() << "a.zip";
    QTest::newRow("taken") << QStringList{"a.zip"} << "a (2).zip";
    QTest::newRow("taken twice") << QStringList{"a.zip", "a (2).zip"} << "a (3).zip";
}

void TestPageTexts::downloadTakesItsName()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expectedName);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &name : present)
        QVERIFY(WriteFile(dir.filePath(name), "old " + name.toUtf8()));

    PageDownloadFile file(dir.path(), QStringLiteral("a.zip"));
    QVERIFY(file.reserve());
    QVERIFY(file.reservedName().startsWith(QLatin1Char('.')));
    QCOMPARE(QFileInfo(file.reservedPath()).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
    // The engine writes its partial data beside the name, then the file.
    QVERIFY(WriteFile(file.reservedPath() + PageDownloadFile::PartialSuffix(), "PK"));
    QVERIFY(QFile::remove(file.reservedPath()));
    QVERIFY(QFile::rename(file.reservedPath() + PageDownloadFile::PartialSuffix(), file.reservedPath()));

    QVERIFY(file.commit());
    QCOMPARE(file.finalPath(), dir.filePath(expectedName));
    QCOMPARE(FileBytes(file.finalPath()), QByteArray("PK"));
    for (const QString &name : present)
        QCOMPARE(FileBytes(dir.filePath(name)), "old " + name.toUtf8());
    QStringList expected = present;
    expected << expectedName;
    expected.sort();
    QCOMPARE(FolderEntries(dir.path()), expected);

    // A later discard leaves the kept file alone.
    file.discard();
    QCOMPARE(FolderEntries(dir.path()), expected);
}

void TestPageTexts::nameTakenWhileDownloading()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PageDownloadFile file(dir.path(), QStringLiteral("b.bin"));
    QVERIFY(file.reserve());
    QVERIFY(WriteFile(file.reservedPath(), "new"));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("b.bin")), "appeared"));

    QVERIFY(file.commit());
    QCOMPARE(file.finalPath(), dir.filePath(QStringLiteral("b (2).bin")));
    QCOMPARE(FileBytes(dir.filePath(QStringLiteral("b.bin"))), QByteArray("appeared"));
    QCOMPARE(FileBytes(file.finalPath()), QByteArray("new"));
    QCOMPARE(FolderEntries(dir.path()), (QStringList{"b (2).bin", "b.bin"}));
}

void TestPageTexts::failedDownloadLeavesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file of the wanted name was there before: it stays.
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("c.zip")), "keep"));
    PageDownloadFile file(dir.path(), QStringLiteral("c.zip"));
    QVERIFY(file.reserve());
    QVERIFY(WriteFile(file.reservedPath() + PageDownloadFile::PartialSuffix(), "partial"));
    // And one that appears meanwhile stays too.
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("c (2).zip")), "other"));

    file.discard();
    QCOMPARE(FolderEntries(dir.path()), (QStringList{"c (2).zip", "c.zip"}));
    QCOMPARE(FileBytes(dir.filePath(QStringLiteral("c.zip"))), QByteArray("keep"));

    // A download whose file vanished cannot be kept, and says so.
    PageDownloadFile gone(dir.path(), QStringLiteral("d.zip"));
    QVERIFY(gone.reserve());
    QVERIFY(QFile::remove(gone.reservedPath()));
    QVERIFY(!gone.commit());
    QVERIFY(!gone.errorString().isEmpty());
    QCOMPARE(FolderEntries(dir.path()), (QStringList{"c (2).zip", "c.zip"}));
}

void TestPageTexts::folderMadeOrRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("new/sub"));
    PageDownloadFile made(missing, QStringLiteral("a.zip"));
    QVERIFY(made.reserve());
    QVERIFY(QFileInfo(made.reservedPath()).isFile());
    made.discard();
    QCOMPARE(FolderEntries(missing), QStringList());

    // A folder that cannot be made (a file is in the way): a Japanese reason.
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("file")), "x"));
    PageDownloadFile refused(dir.filePath(QStringLiteral("file/sub")), QStringLiteral("a.zip"));
    QVERIFY(!refused.reserve());
    QVERIFY(refused.errorString().contains(QStringLiteral("フォルダー")));
    QVERIFY(refused.reservedPath().isEmpty());
}

void TestPageTexts::programFolderGetsASubFolder()
{
    QTemporaryDir program;
    QTemporaryDir elsewhere;
    QVERIFY(program.isValid() && elsewhere.isValid());
    const QString savedAppDir = kiro::AppDir;
    kiro::AppDir = program.path() + u'/';
    QCOMPARE(kiro::PageDownloadFolder(program.path()), program.filePath(QStringLiteral("ダウンロード")));
    QCOMPARE(kiro::PageDownloadFolder(program.path() + QStringLiteral("/./")),
             program.filePath(QStringLiteral("ダウンロード")));
    QCOMPARE(kiro::PageDownloadFolder(QCoreApplication::applicationDirPath()),
             QCoreApplication::applicationDirPath() + QStringLiteral("/ダウンロード"));
    QCOMPARE(kiro::PageDownloadFolder(elsewhere.path()), elsewhere.path());
    kiro::AppDir = savedAppDir;
}

void TestPageTexts::leftoversOfACrashRemoved()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList left{".a.zip.Ab3dE9.part", ".a.zip.Ab3dE9.part.download"};
    const QStringList kept{".b.zip.Xy12zQ.part", "notes.part", ".profile", "a.zip"};
    for (const QString &name : left + kept)
        QVERIFY(WriteFile(dir.filePath(name), "x"));
    // Those a crash left an hour ago; one still being written is new.
    const QDateTime old = QDateTime::currentDateTime().addSecs(-7200);
    for (const QString &name : left + QStringList{"notes.part", ".profile", "a.zip"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    QCOMPARE(kiro::RemoveLeftoverParts(dir.path(), 3600), 2);
    QStringList expected = kept;
    expected.sort();
    QCOMPARE(FolderEntries(dir.path()), expected);
}

void TestPageTexts::keptFileFollowsTheUmask()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PageDownloadFile file(dir.path(), QStringLiteral("a.zip"));
    QVERIFY(file.reserve());
    // The page engine puts its complete file over the reserved one.
    const QString partial = file.reservedPath() + PageDownloadFile::PartialSuffix();
    QVERIFY(WriteFile(partial, "PK"));
    QVERIFY(QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(std::rename(QFile::encodeName(partial).constData(),
                         QFile::encodeName(file.reservedPath()).constData()), 0);
    QVERIFY(file.commit());
    QCOMPARE(FileBytes(file.finalPath()), QByteArray("PK"));
    QCOMPARE(QFileInfo(file.finalPath()).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
}

QTEST_GUILESS_MAIN(TestPageTexts)
#include "tst_pagetexts.moc"
