// Start-up values: the application folder, LoadSettings and the extension list.
#include "core/Installation.h"
#include "core/MessageSeam.h"
#include "core/RecordFile.h"
#include "core/Settings.h"
#include "core/Shared.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kiro;

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void appDirEndsWithSeparator();
    void firstStartInEmptyFolder();
    void existingExtensionFileLeftAlone();
    void loadSettings_data();
    void loadSettings();
    void numbers_data();
    void numbers();
    void pageViewOption_data();
    void pageViewOption();
    void filesAtOnce_data();
    void filesAtOnce();
    void reloadResetsDeletedKeys();
    void missingVolumeFallsBackWithMessage();
    void fullLengthFolderIsRead();
    void volumeUsable_data();
    void volumeUsable();
    void ensureFileExists();
    void installedOrUnwritableUsesUserFolders_data();
    void installedOrUnwritableUsesUserFolders();

private:
    void writeIni(const QByteArray &body);

    QTemporaryDir *m_dir = nullptr;
    QStringList m_messages;
    MessageHandler m_previous;
};

void TestSettings::initTestCase()
{
    // The user's data folder of this test, not of the one running it.
    QStandardPaths::setTestModeEnabled(true);
}

void TestSettings::init()
{
    m_dir = new QTemporaryDir;
    OverrideProgramFolder(m_dir->path());
    SetAppDirFromProgram();
    m_messages.clear();
    m_previous = SetMessageHandler([this](const QString &text, const QString &title) {
        m_messages << title + QLatin1Char('|') + text;
    });
}

void TestSettings::cleanup()
{
    SetMessageHandler(m_previous);
    delete m_dir;
    m_dir = nullptr;
}

void TestSettings::writeIni(const QByteArray &body)
{
    QFile f(AppDir + "KIRO.ini");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[KIRO.set]\r\n" + body);
}

void TestSettings::appDirEndsWithSeparator()
{
    QCOMPARE(AppDir, QDir::toNativeSeparators(m_dir->path()) + QDir::separator());
    QVERIFY(!AppDirIsUserDataFolder());
}

void TestSettings::firstStartInEmptyFolder()
{
    LoadSettings();
    CreateDefaultExtsnFile();
    LoadExtensionList();

    QVERIFY(!QFile::exists(AppDir + "KIRO.ini"));
    QCOMPARE(IniPath, AppDir + "KIRO.ini");
    QCOMPARE(FavFilePath(), AppDir + "Fav.fil");
    QCOMPARE(StdHpAdrs, DefaultHomePage);
    QCOMPARE(FstHpAdrs, DefaultHomePage);
    QCOMPARE(FstDir, AppDir);
    QCOMPARE(grhkb, qint64(1));
    QCOMPARE(chkSubURL, 0);
    QCOMPARE(chkFileName, 0);
    QVERIFY(m_messages.isEmpty());

    QFile f(ExtsnFilePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\"avi\",1\r\n\"bmp\",1\r\n\"gif\",1\r\n\"jpeg\",1\r\n\"jpg\",1\r\n"
                                     "\"lzh\",1\r\n\"mov\",1\r\n\"mpeg\",1\r\n\"mpg\",1\r\n\"ra\",1\r\n"
                                     "\"ram\",1\r\n\"rm\",1\r\n\"zip\",1\r\n"));
    QCOMPARE(ExtNames, (QStringList{"", "avi", "bmp", "gif", "jpeg", "jpg", "lzh", "mov", "mpeg",
                                    "mpg", "ra", "ram", "rm", "zip"}));
    QCOMPARE(ExtChecks, (QList<int>{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
}

void TestSettings::existingExtensionFileLeftAlone()
{
    {
        QFile f(ExtsnFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    CreateDefaultExtsnFile();
    LoadExtensionList();
    QCOMPARE(QFileInfo(ExtsnFilePath()).size(), 0);
    QCOMPARE(ExtNames, QStringList{""});
    QCOMPARE(ExtChecks, QList<int>{0});

    {
        QFile f(ExtsnFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\"png\",1\r\n\"tif\",0\r\n\"x\",2\r\n");
    }
    CreateDefaultExtsnFile();
    LoadExtensionList();
    QCOMPARE(ExtNames, (QStringList{"", "png", "tif", "x"}));
    QCOMPARE(ExtChecks, (QList<int>{0, 1, 0, 2}));
}

void TestSettings::loadSettings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<qint64>("grhkb");
    QTest::addColumn<int>("subUrl");
    QTest::addColumn<int>("fileName");
    QTest::addColumn<QString>("stdHp");
    QTest::addColumn<QString>("fstHp");

    const QString d = DefaultHomePage;
    QTest::newRow("threshold with zeros") << QByteArray("grhkb=0000000250\r\n") << qint64(250) << 0 << 0 << d << d;
    QTest::newRow("negative cut to zero") << QByteArray("grhkb=-0000000005\r\n") << qint64(0) << 0 << 0 << d << d;
    QTest::newRow("not a number keeps default") << QByteArray("grhkb=abc\r\nchkSubURL=x\r\n") << qint64(1) << 0 << 0 << d << d;
    QTest::newRow("fractional threshold, half to even")
            << QByteArray("grhkb=2.5\r\n") << qint64(2) << 0 << 0 << d << d;
    QTest::newRow("fractional threshold, rounded up")
            << QByteArray("grhkb=3.5\r\n") << qint64(4) << 0 << 0 << d << d;
    QTest::newRow("full-width digits") << QByteArray("grhkb=\x82\x54\x82\x4f\r\n") << qint64(50) << 0 << 0 << d << d;
    QTest::newRow("duplicate key: the first counts")
            << QByteArray("grhkb=0000000007\r\nchkSubURL=1\r\ngrhkb=0000000008\r\nchkSubURL=0\r\n")
            << qint64(7) << 1 << 0 << d << d;
    QTest::newRow("a bad option takes no earlier key's number")
            << QByteArray("grhkb=0000000005\r\nchkSubURL=x\r\nchkFileName=y\r\n") << qint64(5) << 0 << 0 << d << d;
    QTest::newRow("options") << QByteArray("chkSubURL=1\r\nchkFileName=1\r\n") << qint64(1) << 1 << 1 << d << d;
    QTest::newRow("options cut to one character")
            << QByteArray("chkSubURL=10\r\nchkFileName=12\r\n") << qint64(1) << 1 << 1 << d << d;
    QTest::newRow("empty address keeps default") << QByteArray("StdHpAdrs=\r\n") << qint64(1) << 0 << 0 << d << d;
    QTest::newRow("blank start page gives default")
            << QByteArray("FstHpAdrs=" + QByteArray(200, ' ') + "\r\n") << qint64(1) << 0 << 0 << d << d;
    const QString longest = QStringLiteral("http://h/") + QString(190, QLatin1Char('a'));
    QTest::newRow("addresses of 199 characters, padded: whole")
            << QByteArray("StdHpAdrs=" + longest.toLatin1() + " \r\nFstHpAdrs=" + longest.toLatin1() + "\r\n")
            << qint64(1) << 0 << 0 << longest << longest;
    QTest::newRow("addresses of 200 characters: cut to 199")
            << QByteArray("StdHpAdrs=" + longest.toLatin1() + "b\r\nFstHpAdrs=" + longest.toLatin1() + "c\r\n")
            << qint64(1) << 0 << 0 << longest << longest;
    QTest::newRow("addresses padded as the dialog writes them")
            << QByteArray("StdHpAdrs=http://s/" + QByteArray(191, ' ') + "\r\nFstHpAdrs=http://f/"
                          + QByteArray(191, ' ') + "\r\ngrhkb=0000000012" + QByteArray(190, ' ') + "\r\n")
            << qint64(12) << 0 << 0 << QString("http://s/") << QString("http://f/");
}

void TestSettings::loadSettings()
{
    QFETCH(QByteArray, ini);
    writeIni(ini);
    LoadSettings();
    QTEST(grhkb, "grhkb");
    QTEST(chkSubURL, "subUrl");
    QTEST(chkFileName, "fileName");
    QTEST(StdHpAdrs, "stdHp");
    QTEST(FstHpAdrs, "fstHp");
    QCOMPARE(FstDir, AppDir);
    QVERIFY(m_messages.isEmpty());
}

void TestSettings::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<qint64>("value");
    QTest::newRow("digits") << "12" << true << qint64(12);
    QTest::newRow("leading zeros") << "0000000250" << true << qint64(250);
    QTest::newRow("sign") << "-5" << true << qint64(-5);
    QTest::newRow("plus") << "+7" << true << qint64(7);
    QTest::newRow("half down to even") << "2.5" << true << qint64(2);
    QTest::newRow("half up to even") << "13.5" << true << qint64(14);
    QTest::newRow("fraction") << "1.6" << true << qint64(2);
    QTest::newRow("fraction without whole part") << ".5" << true << qint64(0);
    QTest::newRow("exponent") << "1e3" << true << qint64(1000);
    QTest::newRow("blanks around") << " \t40 " << true << qint64(40);
    QTest::newRow("full-width") << QStringLiteral("\uFF11\uFF12") << true << qint64(12);
    QTest::newRow("ideographic space") << QStringLiteral("\u30008") << true << qint64(8);
    QTest::newRow("kept within ten digits") << "123456789012" << true << LargestThreshold;
    QTest::newRow("kept within ten digits, negative") << "-1e20" << true << -LargestThreshold;
    QTest::newRow("too large for a double") << "1e400" << true << LargestThreshold;
    QTest::newRow("too large for a double, negative") << "-1e400" << true << -LargestThreshold;
    QTest::newRow("too small for a double") << "1e-400" << true << qint64(0);
    QTest::newRow("empty") << "" << false << qint64(0);
    QTest::newRow("letters") << "abc" << false << qint64(0);
    QTest::newRow("digits and letters") << "12kb" << false << qint64(0);
    QTest::newRow("infinity") << "inf" << false << qint64(0);
    QTest::newRow("hexadecimal") << "0x10" << false << qint64(0);
    QTest::newRow("inner blank") << "1 2" << false << qint64(0);
}

// One reading of a number for the loader, the settings dialog and the getter.
void TestSettings::numbers()
{
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(qint64, value);
    qint64 n = -77;
    QCOMPARE(ParseNumber(text, &n), isNumber);
    QCOMPARE(n, isNumber ? value : qint64(-77));
    if (isNumber && value >= 0)
        QCOMPARE(FormatThreshold(value).size(), 10);
}

void TestSettings::pageViewOption_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("pageView");
    QTest::newRow("older file without the key") << QByteArray("chkSubURL=1\r\nchkFileName=1\r\n") << 0;
    QTest::newRow("on") << QByteArray("chkPageView=1\r\n") << 1;
    QTest::newRow("off") << QByteArray("chkPageView=0\r\n") << 0;
    QTest::newRow("padded as the dialog writes it")
            << QByteArray("chkPageView=1" + QByteArray(199, ' ') + "\r\n") << 1;
    QTest::newRow("cut to one character") << QByteArray("chkPageView=10\r\n") << 1;
    QTest::newRow("not a number keeps default") << QByteArray("chkPageView=x\r\n") << 0;
    QTest::newRow("not a number after a number") << QByteArray("grhkb=0000000003\r\nchkPageView=x\r\n") << 0;
    QTest::newRow("empty value") << QByteArray("chkPageView=\r\n") << 0;
}

void TestSettings::pageViewOption()
{
    QFETCH(QByteArray, ini);
    // Each load starts from the default, whatever an earlier one left.
    chkPageView = 1;
    writeIni(ini);
    LoadSettings();
    QTEST(chkPageView, "pageView");
    QVERIFY(m_messages.isEmpty());
}

void TestSettings::filesAtOnce_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("atOnce");
    QTest::newRow("older file without the key") << QByteArray("chkSubURL=1\r\n") << 4;
    QTest::newRow("one") << QByteArray("FilesAtOnce=1\r\n") << 1;
    QTest::newRow("eight, padded as the dialog writes it")
            << QByteArray("FilesAtOnce=8" + QByteArray(199, ' ') + "\r\n") << 8;
    QTest::newRow("none at once is one") << QByteArray("FilesAtOnce=0\r\n") << 1;
    QTest::newRow("read as one character: a sign alone") << QByteArray("FilesAtOnce=-5\r\n") << 4;
    QTest::newRow("above is eight") << QByteArray("FilesAtOnce=9\r\n") << 8;
    QTest::newRow("not a number keeps default") << QByteArray("FilesAtOnce=x\r\n") << 4;
}

void TestSettings::filesAtOnce()
{
    QFETCH(QByteArray, ini);
    FilesAtOnce = 2;
    writeIni(ini);
    LoadSettings();
    QTEST(FilesAtOnce, "atOnce");
    QVERIFY(m_messages.isEmpty());
}

void TestSettings::reloadResetsDeletedKeys()
{
    writeIni("grhkb=0000000009\r\nchkSubURL=1\r\n");
    LoadSettings();
    QCOMPARE(grhkb, qint64(9));
    writeIni("");
    LoadSettings();
    QCOMPARE(grhkb, qint64(1));
    QCOMPARE(chkSubURL, 0);
}

void TestSettings::missingVolumeFallsBackWithMessage()
{
    writeIni("FstDir=/no/such/volume/Down\r\n");
    LoadSettings();
    QCOMPARE(FstDir, AppDir);
    QCOMPARE(m_messages, QStringList{QStringLiteral("確認|ダウンロード初期設定フォルダを変更しました。\r\n"
                                                    "設定画面で確認して下さい。")});
    // Shown again on each later run until a usable folder is saved.
    LoadSettings();
    QCOMPARE(m_messages.size(), 2);

    // A folder that does not exist yet but whose parent does is usable.
    const QString future = QDir(m_dir->path()).filePath("later");
    writeIni("FstDir=" + future.toUtf8() + "\r\n");
    LoadSettings();
    QCOMPARE(FstDir, future);
    QCOMPARE(m_messages.size(), 2);
}

void TestSettings::fullLengthFolderIsRead()
{
    QString folder = m_dir->path() + QLatin1Char('/');
    while (folder.size() < 199)
        folder += QLatin1Char('d');
    QVERIFY(QDir().mkpath(folder));
    writeIni("FstDir=" + folder.toUtf8() + QByteArray(200 - folder.size(), ' ') + "\r\n");
    LoadSettings();
    QCOMPARE(FstDir, folder);

    // One character more is cut, as the file's reader cuts every address.
    writeIni("FstDir=" + folder.toUtf8() + "e\r\n");
    LoadSettings();
    QCOMPARE(FstDir, folder);
}

void TestSettings::volumeUsable_data()
{
    QTest::addColumn<QString>("tail");
    QTest::addColumn<bool>("usable");
    QTest::newRow("the folder") << "" << true;
    QTest::newRow("a folder still to be made") << "/new" << true;
    QTest::newRow("two levels still to be made") << "/new/deeper" << false;
    QTest::newRow("no folder at all") << QString() << false;
}

// Without drive letters: the download folder's volume is usable when the
// folder, or its parent, exists on a mounted volume.
void TestSettings::volumeUsable()
{
    QFETCH(QString, tail);
    const QString folder = tail.isNull() ? QString() : m_dir->path() + tail;
    QTEST(DownloadFolderVolumeUsable(folder), "usable");
}

void TestSettings::ensureFileExists()
{
    const QString path = AppDir + "Fav.fil";
    EnsureFileExists(path);
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).size(), 0);
    const QByteArray favorite = "\"a\",\"a@@http://a/\"\r\n";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(favorite);
    }
    EnsureFileExists(path);
    QCOMPARE(QFileInfo(path).size(), favorite.size());
}

void TestSettings::installedOrUnwritableUsesUserFolders_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("userData");
    QTest::newRow("run where it was built") << "build" << false;
    QTest::newRow("installed, folder writable (as root, or a prefix in the home)") << "installed" << true;
    QTest::newRow("folder cannot be written") << "read-only" << true;
}

void TestSettings::installedOrUnwritableUsesUserFolders()
{
    QFETCH(QString, layout);
    QFETCH(bool, userData);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QVERIFY(!data.isEmpty());
    QDir(data).removeRecursively();

    QString program = QDir(m_dir->path()).filePath("bin");
    QVERIFY(QDir().mkpath(program));
    if (layout == "installed") {
        const QString entry = InstalledDesktopEntry(program);
        QVERIFY(entry.startsWith(m_dir->path() + '/'));
        QVERIFY(QDir().mkpath(QFileInfo(entry).path()));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (layout == "read-only") {
        // Not even root may create a file here.
        program = QStringLiteral("/proc");
    }
    OverrideProgramFolder(program);
    SetAppDirFromProgram();
    QCOMPARE(AppDirIsUserDataFolder(), userData);
    QCOMPARE(AppDir, QDir::toNativeSeparators(userData ? data : program) + QDir::separator());

    // First start: the default files are written there and nothing beside the program.
    LoadSettings();
    CreateDefaultExtsnFile();
    LoadExtensionList();
    QVERIFY(QFile::exists(AppDir + "Extsn.fil"));
    QCOMPARE(ExtNames.size(), 14);
    if (layout != "read-only") {
        const QStringList beside = QDir(program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(beside, userData ? QStringList() : QStringList{"Extsn.fil"});
    }

    // The downloads default to the user's download folder, also when a stored
    // folder's volume is gone.
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    downloads = QDir::toNativeSeparators(downloads) + QDir::separator();
    QCOMPARE(FstDir, userData ? downloads : AppDir);
    writeIni("FstDir=/no/such/volume/Down\r\n");
    LoadSettings();
    QCOMPARE(FstDir, userData ? downloads : AppDir);
    QCOMPARE(m_messages.size(), 1);

    QVERIFY(QDir(data).removeRecursively());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
