// Names of the download sub-folder and files, the list item's result text,
// the size text and the threshold: what decides where a file lands and what
// the user reads about it.
#include "getter/engine/DownloadNaming.h"
#include "tests/support/TextChecks.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace kiro;

namespace {

// The name's length as the file system takes it.
qsizetype NameBytes(const QString &name)
{
#ifdef Q_OS_WIN
    return name.size();
#else
    return QFile::encodeName(name).size();
#endif
}

// A name that is one plain entry of a folder on both Linux and Windows.
bool IsPlainEntry(const QString &name)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    if (name.isEmpty() || name == u"." || name == u".." || HasHalfCharacter(name))
        return false;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return false;
    }
    return true;
}

} // namespace

class TestDownloadNaming : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void subDir_data();
    void subDir();
    void saveName_data();
    void saveName();
    void longNames_data();
    void longNames();
    void longNamesStayApartAndStable();
    void unpairedSurrogates_data();
    void unpairedSurrogates();
    void joinPath();
    void itemText_data();
    void itemText();
    void itemShown_data();
    void itemShown();
    void kilobytes_data();
    void kilobytes();
    void threshold_data();
    void threshold();
};

void TestDownloadNaming::subDir_data()
{
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("expected");

    QTest::newRow("page") << "http://a.b.c/photo/index.html" << "a_b_c_photo_index_html";
    QTest::newRow("https from position 9") << "https://a.b.c/photo/index.html" << "a_b_c_photo_index_html";
    QTest::newRow("https upper case") << "HTTPS://a.b/x" << "a_b_x";
    QTest::newRow("port") << "http://127.0.0.1:8080/p.html" << "127_0_0_1_8080_p_html";
    QTest::newRow("query characters") << "http://h/p?q=a*b|c\"d<e>f\\g" << "h_p_q=a_b_c_d_e_f_g";
    QTest::newRow("control character") << QString("http://h/a\tb") << "h_a_b";
    QTest::newRow("escapes kept") << "http://h/a%2fb%5c" << "h_a%2fb%5c";
    QTest::newRow("reserved host") << "http://con" << "_con";
    QTest::newRow("reserved upper") << "http://LPT1" << "_LPT1";
    QTest::newRow("not reserved") << "http://com10" << "com10";
    QTest::newRow("scheme only") << "http://" << "_";
    QTest::newRow("empty") << "" << "_";
    QTest::newRow("dots only") << "http://.." << "__";
    QTest::newRow("fragment dropped") << "http://h/p.html?a=1#access_token=secret" << "h_p_html_a=1";
    QTest::newRow("empty fragment") << "http://h/p.html#" << "h_p_html";
    QTest::newRow("only a fragment after the host") << "https://h#/x/y" << "h";
}

void TestDownloadNaming::subDir()
{
    QFETCH(QString, baseUrl);
    QFETCH(QString, expected);
    const QString name = DownloadSubDirName(baseUrl);
    QCOMPARE(name, expected);
    QVERIFY(IsPlainEntry(name));
}

void TestDownloadNaming::saveName_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("chkFileName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "http://d.e.f/a/b/c.jpg" << 0 << "c.jpg";
    QTest::newRow("with folder path") << "http://d.e.f/a/b/c.jpg" << 1 << "d_e_f_a_b@c.jpg";
    QTest::newRow("https with folder path") << "https://d.e.f/a/b/c.jpg" << 1 << "d_e_f_a_b@c.jpg";
    QTest::newRow("host only prefix") << "http://h/a.jpg" << 1 << "h@a.jpg";
    QTest::newRow("port in prefix") << "http://127.0.0.1:8080/a/c.jpg" << 1 << "127_0_0_1_8080_a@c.jpg";
    QTest::newRow("escaped slashes") << "http://h/..%2f..%2fx.jpg" << 0 << "..%2f..%2fx.jpg";
    QTest::newRow("escaped backslashes") << "http://h/a%5c..%5cb.jpg" << 0 << "a%5c..%5cb.jpg";
    QTest::newRow("backslash") << "http://h/..\\..\\b.jpg" << 0 << ".._.._b.jpg";
    QTest::newRow("drive colon") << "http://h/f:foo.jpg" << 0 << "f_foo.jpg";
    QTest::newRow("query") << "http://h/get?f=a*.jpg" << 0 << "get_f=a_.jpg";
    QTest::newRow("reserved") << "http://h/con.jpg" << 0 << "_con.jpg";
    QTest::newRow("reserved any case") << "http://h/CoM1" << 0 << "_CoM1";
    QTest::newRow("reserved: prn, aux") << "http://h/x/prn.aux" << 0 << "_prn.aux";
    QTest::newRow("reserved: aux") << "http://h/Aux.txt" << 0 << "_Aux.txt";
    QTest::newRow("not reserved: com, lpt without a digit") << "http://h/comx.lpt" << 0 << "comx.lpt";
    QTest::newRow("path from the root") << "/x.jpg" << 0 << "x.jpg";
    QTest::newRow("reserved two extensions") << "http://h/lpt9.tar.gz" << 0 << "_lpt9.tar.gz";
    QTest::newRow("reserved trailing blank") << "http://h/nul .txt" << 0 << "_nul .txt";
    QTest::newRow("not reserved: console") << "http://h/console.jpg" << 0 << "console.jpg";
    QTest::newRow("not reserved: com0") << "http://h/com0.jpg" << 0 << "com0.jpg";
    QTest::newRow("not reserved with prefix") << "http://h/con.jpg" << 1 << "h@con.jpg";
    QTest::newRow("dot") << "http://h/x/." << 0 << "_";
    QTest::newRow("dot dot") << "http://h/x/.." << 0 << "__";
    QTest::newRow("dot dot with prefix") << "http://h/x/.." << 1 << "h_x@..";
    QTest::newRow("empty address") << "" << 0 << "";
    QTest::newRow("no slash") << "c.jpg" << 1 << "";
    QTest::newRow("folder address") << "http://h/dir/" << 0 << "";
    QTest::newRow("folder address with prefix") << "http://h/dir/" << 1 << "";
}

void TestDownloadNaming::saveName()
{
    QFETCH(QString, url);
    QFETCH(int, chkFileName);
    QFETCH(QString, expected);
    const QString name = SaveNameFor(url, chkFileName);
    QCOMPARE(name, expected);
    if (!name.isEmpty())
        QVERIFY(IsPlainEntry(name));
}

void TestDownloadNaming::longNames_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("extension");

    QTest::newRow("300 characters") << "http://h/" + QString(296, 'a') + ".jpg" << ".jpg";
    QTest::newRow("exactly 255 bytes stays") << "http://h/" + QString(251, 'b') + ".jpg" << ".jpg";
    QTest::newRow("multi-byte") << "http://h/" + QString(120, QChar(0x65E5)) + ".png" << ".png";
    QTest::newRow("surrogate pairs") << "http://h/" + QString::fromUcs4(U"\U0001F600").repeated(90) + ".gif"
                                     << ".gif";
    QTest::newRow("no extension") << "http://h/" + QString(400, 'c') << "";
    QTest::newRow("huge extension") << "http://h/x." + QString(400, 'd') << "";
    QTest::newRow("long prefix") << "http://h/" + QString(300, 'e') + "/f.jpg" << ".jpg";
    QString mixed;
    for (int i = 0; i < 40; ++i)
        mixed += QStringLiteral("a\u00E9\u65E5") + QString::fromUcs4(U"\U0001F600");
    QTest::newRow("mixed widths") << "http://h/" + mixed + ".mpg" << ".mpg";
}

void TestDownloadNaming::longNames()
{
    QFETCH(QString, url);
    QFETCH(QString, extension);
    const QString whole = url.mid(url.lastIndexOf('/') + 1);
    const QString name = SaveNameFor(url, url.contains("eee") ? 1 : 0);
    QVERIFY(IsPlainEntry(name));
    QVERIFY2(NameBytes(name) <= 255, qPrintable(QString::number(NameBytes(name))));
    QVERIFY(name.endsWith(extension));
    QCOMPARE(QString::fromUtf8(name.toUtf8()), name);   // no half character
    if (NameBytes(whole) <= 255 && !url.contains("eee")) {
        QCOMPARE(name, whole);
    } else {
        const QRegularExpression marker(QStringLiteral("~[0-9a-f]{8}") + QRegularExpression::escape(extension) + "$");
        QVERIFY2(marker.match(name).hasMatch(), qPrintable(name));
        QVERIFY(NameBytes(name) >= 250);   // only as short as it must be
    }
}

void TestDownloadNaming::longNamesStayApartAndStable()
{
    const QString a = "http://h/" + QString(300, 'a') + "1.jpg";
    const QString b = "http://h/" + QString(300, 'a') + "2.jpg";
    QVERIFY(SaveNameFor(a, 0) != SaveNameFor(b, 0));
    // The next run must find the file under the same name.
    QCOMPARE(SaveNameFor(a, 0), SaveNameFor(QString(a), 0));
    QCOMPARE(SafeName(QString(300, 'a') + "1.jpg"), SaveNameFor(a, 0));
}

void TestDownloadNaming::unpairedSurrogates_data()
{
    const QChar high(0xD800);
    const QChar low(0xDC00);
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");   // "" when the name is shortened

    QTest::newRow("high alone") << "http://h/a" + QString(high) + "b.jpg" << "a_b.jpg";
    QTest::newRow("low alone") << "http://h/a" + QString(low) + ".jpg" << "a_.jpg";
    QTest::newRow("at the end") << "http://h/x.jp" + QString(high) << "x.jp_";
    QTest::newRow("halves reversed") << "http://h/" + QString(low) + QString(high) << "__";
    QTest::newRow("pair kept") << "http://h/" + QString(high) + QString(low) + ".gif"
                               << QString(high) + QString(low) + ".gif";
    // 255 characters that the file system would write as 257 bytes.
    QTest::newRow("at the limit") << "http://h/" + QString(250, 'a') + QString(high) + ".jpg"
                                  << QString(250, 'a') + "_.jpg";
    QTest::newRow("over the limit") << "http://h/" + QString(240, 'a') + QString(20, low) + ".jpg" << "";
}

// A page decoded from UTF-16 can carry half a character into an address.
void TestDownloadNaming::unpairedSurrogates()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    const QString name = SaveNameFor(url, 0);
    QVERIFY(IsPlainEntry(name));
    QVERIFY2(NameBytes(name) <= 255, qPrintable(QString::number(NameBytes(name))));
    if (!expected.isEmpty())
        QCOMPARE(name, expected);
    else
        QVERIFY2(QRegularExpression("^a+_+~[0-9a-f]{8}\\.jpg$").match(name).hasMatch(), qPrintable(name));

    const QString sub = DownloadSubDirName(url);
    QVERIFY(IsPlainEntry(sub));
    QVERIFY(NameBytes(sub) <= 255);
}

void TestDownloadNaming::joinPath()
{
    const QString sep = QDir::separator();
    QCOMPARE(JoinPath("D" + sep + "Down", "x"), "D" + sep + "Down" + sep + "x");
    QCOMPARE(JoinPath("D" + sep + "Down" + sep, "x"), "D" + sep + "Down" + sep + "x");
    QCOMPARE(JoinPath("/tmp/Down/", "x"), QStringLiteral("/tmp/Down/x"));
}

void TestDownloadNaming::itemText_data()
{
    QTest::addColumn<QString>("oldText");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("expected");

    const QString url = "http://h/a.jpg";
    QTest::newRow("filled") << url << "37kb" << url + QString(150 - url.size(), ' ') + " 37kb";
    QTest::newRow("cut") << QString(200, 'x') << "既に登録あり" << QString(150, 'x') + " 既に登録あり";
    QTest::newRow("earlier result replaced")
        << url + QString(150 - url.size(), ' ') + " 指定容量以下" << "既に登録あり"
        << url + QString(150 - url.size(), ' ') + " 既に登録あり";
    QTest::newRow("empty") << "" << "ダウンロード失敗" << QString(150, ' ') + " ダウンロード失敗";
    QTest::newRow("no half character")
        << QString(149, 'y') + QString::fromUcs4(U"\U0001F600") << "1kb" << QString(149, 'y') + "  1kb";
}

void TestDownloadNaming::itemText()
{
    QFETCH(QString, oldText);
    QFETCH(QString, result);
    QFETCH(QString, expected);
    QCOMPARE(FileItemResultText(oldText, result), expected);
}

void TestDownloadNaming::itemShown_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("result");   // "" before a download

    QTest::newRow("short, listed") << "http://h/a.jpg" << "";
    QTest::newRow("short, downloaded") << "http://h/a.jpg" << "37kb";
    QTest::newRow("151 characters, listed") << "http://h/" + QString(138, 'x') + ".jpg" << "";
    QTest::newRow("300 characters, listed") << "http://h/" + QString(287, 'y') + ".jpg" << "";
    QTest::newRow("blank at 151, listed") << "http://h/" + QString(141, 'z') + " and more.jpg" << "";
    QTest::newRow("300 characters, downloaded") << "http://h/" + QString(287, 'y') + ".jpg"
                                                << QStringLiteral("ダウンロード失敗");
}

// What lstFile shows of an item: the whole address until a download has put
// its result behind it.
void TestDownloadNaming::itemShown()
{
    QFETCH(QString, address);
    QFETCH(QString, result);
    if (result.isEmpty()) {
        const FileItemParts shown = SplitFileItemText(address, false);
        QCOMPARE(shown.address, address);
        QCOMPARE(shown.result, QString());
        return;
    }
    const FileItemParts shown = SplitFileItemText(FileItemResultText(address, result), true);
    QCOMPARE(shown.address, address.left(FileItemTextWidth));
    QCOMPARE(shown.result, result);
}

void TestDownloadNaming::kilobytes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << qint64(0) << "0kb";        // 0.5 goes to 0
    QTest::newRow("512") << qint64(512) << "1kb";
    QTest::newRow("1025") << qint64(1025) << "2kb";
    QTest::newRow("1536") << qint64(1536) << "2kb";
    QTest::newRow("2048") << qint64(2048) << "2kb";  // 2.5 goes to 2
    QTest::newRow("3072") << qint64(3072) << "4kb";  // 3.5 goes to 4
    QTest::newRow("37000") << qint64(37000) << "37kb";
    QTest::newRow("5 GiB") << qint64(5) * 1024 * 1024 * 1024 << "5242880kb";
}

void TestDownloadNaming::kilobytes()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, expected);
    QCOMPARE(KilobyteText(bytes), expected);
}

void TestDownloadNaming::threshold_data()
{
    QTest::addColumn<qint64>("grhkb");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("kept");

    QTest::newRow("1 kB, 1024") << qint64(1) << qint64(1024) << false;
    QTest::newRow("1 kB, 1025") << qint64(1) << qint64(1025) << true;
    QTest::newRow("0, empty") << qint64(0) << qint64(0) << false;
    QTest::newRow("0, 1 byte") << qint64(0) << qint64(1) << true;
    QTest::newRow("3 GiB, one more") << qint64(3) * 1024 * 1024 << qint64(3) * 1024 * 1024 * 1024 + 1 << true;
    QTest::newRow("3 GiB, exact") << qint64(3) * 1024 * 1024 << qint64(3) * 1024 * 1024 * 1024 << false;
    QTest::newRow("huge threshold") << std::numeric_limits<qint64>::max() << std::numeric_limits<qint64>::max() << false;
    QTest::newRow("negative") << qint64(-1) << qint64(0) << true;
    const qint64 largest = std::numeric_limits<qint64>::max() / 1024;
    QTest::newRow("largest that fits, one more") << largest << largest * 1024 + 1 << true;
    QTest::newRow("largest that fits, exact") << largest << largest * 1024 << false;
    const qint64 lowest = std::numeric_limits<qint64>::min() / 1024;
    QTest::newRow("lowest that fits") << lowest << std::numeric_limits<qint64>::min() << false;
}

void TestDownloadNaming::threshold()
{
    QFETCH(qint64, grhkb);
    QFETCH(qint64, bytes);
    QFETCH(bool, kept);
    QCOMPARE(IsAboveThreshold(grhkb, bytes), kept);
}

QTEST_APPLESS_MAIN(TestDownloadNaming)
#include "tst_downloadnaming.moc"
