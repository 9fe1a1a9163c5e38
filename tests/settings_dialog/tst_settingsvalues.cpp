// What the settings dialog stores and what its drive and folder pickers are
// shown, without the dialog: the stored forms of values, and the folders of a
// real tree in a temporary folder.
#include "settings_dialog/SettingsValues.h"
#include "settings_dialog/VolumeList.h"

#include "core/Shared.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kiro;

class TstSettingsValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void iniValueField_data();
    void iniValueField();
    void addressForStorage_data();
    void addressForStorage();
    void folderPaths_data();
    void folderPaths();
    void folderTree();
    void volumes();
};

void TstSettingsValues::iniValueField_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("field");
    QTest::newRow("short") << "1" << "1" + QString(IniBufferWidth - 1, QLatin1Char(' '));
    QTest::newRow("empty") << "" << QString(IniBufferWidth, QLatin1Char(' '));
    QTest::newRow("exactly the width") << QString(IniBufferWidth, QLatin1Char('a'))
                                       << QString(IniBufferWidth, QLatin1Char('a'));
    QTest::newRow("longer: cut") << QString(IniBufferWidth, QLatin1Char('a')) + "b"
                                 << QString(IniBufferWidth, QLatin1Char('a'));
}

void TstSettingsValues::iniValueField()
{
    QFETCH(QString, value);
    QTEST(IniValueField(value), "field");
}

void TstSettingsValues::addressForStorage_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("stored");
    QTest::newRow("plain ASCII kept") << "http://h/a b.html?x=1&y=%41" << "http://h/a b.html?x=1&y=%41";
    QTest::newRow("tilde and symbols kept") << "http://h/~u/!$'()*+,;=@[]" << "http://h/~u/!$'()*+,;=@[]";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("double quote escaped") << "http://h/\"q\".html" << "http://h/%22q%22.html";
    QTest::newRow("Japanese path") << QStringLiteral("http://h/日本.html") << "http://h/%E6%97%A5%E6%9C%AC.html";
    QTest::newRow("Japanese host") << QStringLiteral("http://日本.jp/") << "http://xn--wgv71a.jp/";
    QTest::newRow("control character escaped") << "http://h/a\tb" << "http://h/a%09b";
    QTest::newRow("no scheme: guessed") << QStringLiteral("example.jp/日本") << "http://example.jp/%E6%97%A5%E6%9C%AC";
}

void TstSettingsValues::addressForStorage()
{
    QFETCH(QString, address);
    QFETCH(QString, stored);
    const QString result = AddressForStorage(address);
    QCOMPARE(result, stored);
    for (const QChar c : result)
        QVERIFY2(c.unicode() >= 0x20 && c.unicode() <= 0x7e && c != QLatin1Char('"'), qPrintable(result));
}

void TstSettingsValues::folderPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("native");
    QTest::addColumn<QString>("display");
    const QString root = QDir::rootPath();
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("root") << root << QDir::toNativeSeparators(root) << QDir::toNativeSeparators(root);
    QTest::newRow("trailing separator") << "/a/b/" << QDir::toNativeSeparators("/a/b") << "b";
    QTest::newRow("doubled and dotted") << "/a//b/./c/../d" << QDir::toNativeSeparators("/a/b/d") << "d";
    QTest::newRow("Japanese") << QStringLiteral("/日本/写真") << QDir::toNativeSeparators(QStringLiteral("/日本/写真"))
                              << QStringLiteral("写真");
}

void TstSettingsValues::folderPaths()
{
    QFETCH(QString, path);
    QTEST(NativeFolderPath(path), "native");
    QTEST(FolderDisplayName(path), "display");
}

// A tree of folders on disk: its chain, its sub-folders in order of their
// names without regard to letter case, the nearest folder that exists, and
// which folders can be opened.
void TstSettingsValues::folderTree()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString base = NativeFolderPath(tmp.path());
    const QDir dir(tmp.path());
    for (const char *name : {"b", "A", "c", "B2", ".hidden", "日本"})
        QVERIFY(dir.mkpath(QString::fromUtf8(name)));
    QVERIFY(dir.mkpath("A/x/y"));
    QFile file(dir.filePath("a-file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const QString sep = QDir::separator();
    QCOMPARE(SubFolders(base), (QStringList{base + sep + "A", base + sep + "b", base + sep + "B2",
                                            base + sep + "c", base + sep + QStringLiteral("日本")}));
    QCOMPARE(SubFolders(base + sep + "c"), QStringList());

    const QString deep = base + sep + "A" + sep + "x" + sep + "y";
    const QStringList chain = FolderChain(deep);
    QCOMPARE(chain.first(), QDir::toNativeSeparators(QDir::rootPath()));
    QCOMPARE(chain.last(), deep);
    QVERIFY(chain.contains(base));
    QCOMPARE(chain.mid(chain.indexOf(base)),
             (QStringList{base, base + sep + "A", base + sep + "A" + sep + "x", deep}));

    QCOMPARE(NearestExistingFolder(deep), deep);
    QCOMPARE(NearestExistingFolder(deep + sep + "gone" + sep + "too"), deep);
    QCOMPARE(NearestExistingFolder(base + sep + "a-file" + sep + "x"), base);
    QCOMPARE(NearestExistingFolder(QString()), QString());
    QCOMPARE(NearestExistingFolder("relative/gone"), QString());

    QVERIFY(FolderCanBeOpened(deep));
    QVERIFY(!FolderCanBeOpened(base + sep + "gone"));
    QVERIFY(!FolderCanBeOpened(base + sep + "a-file"));
    QVERIFY(!FolderCanBeOpened(QString()));

    const QString volume = VolumeRootOf(deep);
    QCOMPARE(volume, NativeFolderPath(QStorageInfo(tmp.path()).rootPath()));
    QCOMPARE(VolumeRootOf(deep + sep + "gone"), volume);
    QCOMPARE(VolumeRootOf("relative/gone"), QString());
}

// The mounted volumes: each a folder, each once, in order of their roots;
// the one that holds the temporary folder among them.
void TstSettingsValues::volumes()
{
    const QList<Volume> list = MountedVolumes();
    QVERIFY(!list.isEmpty());
    QStringList roots;
    for (const Volume &v : list) {
        QVERIFY2(QFileInfo(QDir::fromNativeSeparators(v.root)).isDir(), qPrintable(v.root));
        QVERIFY2(v.display.startsWith(v.root.left(2), Qt::CaseInsensitive), qPrintable(v.display));
        QVERIFY2(!roots.contains(v.root), qPrintable(v.root));
        if (!roots.isEmpty())
            QVERIFY(roots.last().compare(v.root, Qt::CaseInsensitive) < 0);
        roots.append(v.root);
    }
    QTemporaryDir tmp;
    QVERIFY(roots.contains(VolumeRootOf(tmp.path())));
}

QTEST_GUILESS_MAIN(TstSettingsValues)
#include "tst_settingsvalues.moc"
