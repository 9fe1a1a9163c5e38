#include "core/Shared.h"
#include "favorites/FavoritesFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kiro;

class TestFavoritesFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addressOfEntry_data();
    void addressOfEntry();
    void storedAddress_data();
    void storedAddress();
    void malformedLinesStillLoad();
};

void TestFavoritesFile::addressOfEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "Top@@http://127.0.0.1/" << "http://127.0.0.1/";
    QTest::newRow("first @@ counts") << "a@@http://h/x@@y" << "http://h/x@@y";
    QTest::newRow("empty address") << "a@@" << "";
    QTest::newRow("no separator") << "hand made" << "";
}

void TestFavoritesFile::addressOfEntry()
{
    QFETCH(QString, entry);
    QFETCH(QString, address);
    QCOMPARE(FavoriteAddress(entry), address);
}

void TestFavoritesFile::storedAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("stored");
    QTest::newRow("ascii unchanged") << "http://127.0.0.1:8080/a/b.html?x=1&y=2#top"
                                     << "http://127.0.0.1:8080/a/b.html?x=1&y=2#top";
    QTest::newRow("japanese") << QStringLiteral("http://127.0.0.1/日本.html")
                              << "http://127.0.0.1/%E6%97%A5%E6%9C%AC.html";
    QTest::newRow("double quote and blank") << "http://127.0.0.1/a\"b c"
                                            << "http://127.0.0.1/a%22b%20c";
    QTest::newRow("already encoded") << "http://127.0.0.1/%E6%97%A5" << "http://127.0.0.1/%E6%97%A5";
    QTest::newRow("not a url") << QStringLiteral("http://[x/\"日") << "http://[x/%22%E6%97%A5";
    QTest::newRow("empty") << "" << "";
}

void TestFavoritesFile::storedAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, stored);
    const QString encoded = EncodeFavoriteAddress(address);
    QCOMPARE(encoded, stored);
    // What is stored must survive the record file: ASCII, no double quote.
    for (QChar c : encoded)
        QVERIFY(c.unicode() < 0x80 && c != QLatin1Char('"'));
}

void TestFavoritesFile::malformedLinesStillLoad()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Fav.fil"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\"one field\"\r\n\"good\",\"good@@http://h/\"\r\n\"unclosed,\"x\r\n");
    file.close();
    const QList<Favorite> favorites = ReadFavorites(path);
    QCOMPARE(favorites.size(), 3);
    QCOMPARE(favorites.at(0).name, QStringLiteral("one field"));
    QCOMPARE(favorites.at(0).entry, QString());
    QCOMPARE(favorites.at(1).entry, QStringLiteral("good@@http://h/"));
    QCOMPARE(favorites.at(2).name, QStringLiteral("unclosed,"));
}

QTEST_APPLESS_MAIN(TestFavoritesFile)
#include "tst_favoritesfile.moc"
