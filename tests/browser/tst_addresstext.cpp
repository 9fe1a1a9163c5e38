#include "browser/AddressText.h"
#include "core/WebAddress.h"

#include <QTest>

class AddressTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodePercent_data();
    void decodePercent();
    void folderPart_data();
    void folderPart();
    void scheme_data();
    void scheme();
    void containsWebAddress_data();
    void containsWebAddress();
};

void AddressTextTest::decodePercent_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two ASCII escapes") << "%41%42" << "AB";
    QTest::newRow("escaped percent is not decoded again") << "%2541" << "%41";
    QTest::newRow("one pass only") << "%252525" << "%2525";
    QTest::newRow("too short") << "%4" << "%4";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("escape cut at the end") << "%41%4" << "A%4";
    QTest::newRow("percent among the last two") << "ab%" << "ab%";
    QTest::newRow("not hexadecimal") << "%zz%41" << "%zzA";
    QTest::newRow("lower-case digits") << "%e6%97%a5" << "日";
    QTest::newRow("UTF-8 run is one character") << "%E6%97%A5" << "日";
    QTest::newRow("UTF-8 run among ASCII") << "/%E6%97%A5%E6%9C%AC.html?a=%41"
                                           << "/日本.html?a=A";
    QTest::newRow("four-byte character") << "%F0%9F%98%80" << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("incomplete run stays") << "%E6%97" << "%E6%97";
    QTest::newRow("trailing stray byte stays") << "%E6%97%A5%E6" << "日%E6";
    QTest::newRow("lone continuation byte stays") << "%80x" << "%80x";
    QTest::newRow("overlong form stays") << "%C0%AF" << "%C0%AF";
    QTest::newRow("surrogate stays") << "%ED%A0%80" << "%ED%A0%80";
    QTest::newRow("code page byte stays") << "%82%A0" << "%82%A0";
    QTest::newRow("embedded jump target")
            << "http://h/jump.cgi?url=http%3A%2F%2Fh%3A8080%2Ft.html"
            << "http://h/jump.cgi?url=http://h:8080/t.html";
}

void AddressTextTest::decodePercent()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    kiro::DecodePercent(input);
    QCOMPARE(input, expected);
}

void AddressTextTest::folderPart_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");

    QTest::newRow("page in a folder") << "http://h/a/b.html" << "http://h/a/";
    QTest::newRow("page at the root") << "http://h/b.html" << "http://h/";
    QTest::newRow("folder") << "http://h/a/" << "http://h/a/";
    QTest::newRow("bare http host") << "http://h" << "http://h/";
    QTest::newRow("bare https host") << "https://h" << "https://h/";
    QTest::newRow("https page") << "https://h/a/b.html" << "https://h/a/";
    QTest::newRow("HTTPS in capitals") << "HTTPS://h" << "HTTPS://h/";
    QTest::newRow("no slash at all") << "about:blank" << "about:blank/";
}

void AddressTextTest::folderPart()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    QCOMPARE(kiro::FolderPart(url), expected);
}

void AddressTextTest::scheme_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("web");
    QTest::addColumn<int>("prefix");
    QTest::newRow("http") << "http://h/" << true << 7;
    QTest::newRow("https") << "https://h/" << true << 8;
    QTest::newRow("https in capitals") << "HTTPS://h/" << true << 8;
    QTest::newRow("Http mixed") << "Http://h/" << true << 7;
    QTest::newRow("https with one slash") << "https:/h/" << false << 7;
    QTest::newRow("ftp") << "ftp://h/" << false << 7;
    QTest::newRow("httpx") << "httpx://h/" << false << 7;
    QTest::newRow("empty") << "" << false << 7;
}

// The one count of the scheme that the folder, the sub-folder and file names
// and the address rules share.
void AddressTextTest::scheme()
{
    QFETCH(QString, address);
    QFETCH(bool, web);
    QFETCH(int, prefix);
    QCOMPARE(kiro::StartsWithWebScheme(address), web);
    QCOMPARE(kiro::SchemePrefixLength(address), prefix);
}

void AddressTextTest::containsWebAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("http link") << "http://h/a.html" << true;
    QTest::newRow("https link") << "https://h/a.html" << true;
    QTest::newRow("mixed case") << "HtTpS://h/" << true;
    QTest::newRow("inside a text") << "go to HTTP://h now" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("mail link") << "mailto:a@h" << false;
    QTest::newRow("script") << "javascript:void(0)" << false;
}

void AddressTextTest::containsWebAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(kiro::ContainsWebAddress(text), expected);
}

QTEST_APPLESS_MAIN(AddressTextTest)
#include "tst_addresstext.moc"
