// The target address carried in a jump link's query string.
#include "core/EcmaRegExp.h"
#include "core/EmbeddedUrl.h"

#include <QTest>

using namespace kiro;

class TestEmbeddedUrl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void extract_data();
    void extract();
    void ecmaSpaceClass();
};

void TestEmbeddedUrl::extract_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    const QString j = "http://jump.example/cgi/jump";
    const QString t = "http://target.example/dir/page.html";
    QTest::newRow("url=") << j + "?url=" + t << t;
    QTest::newRow("stops before &") << j + "?url=" + t + "&id=5" << t;
    QTest::newRow("capitals kept") << j + "?URL=HTTP://TARGET.EXAMPLE/P.HTML#top" << "HTTP://TARGET.EXAMPLE/P.HTML";
    QTest::newRow("no question mark") << j << j;
    QTest::newRow("& before the address") << j + "?id=5&url=" + t << j + "?id=5&url=" + t;
    QTest::newRow("percent-encoded target")
            << j + "?url=http%3A%2F%2Ftarget.example%2Fa.html" << j + "?url=http%3A%2F%2Ftarget.example%2Fa.html";
    QTest::newRow("last match wins") << j + "?u=http://one.example/1&v=1?w=http://two.example/2" << "http://two.example/2";
    QTest::newRow("greedy to the end") << j + "?u=http://one.example/1?y=http://two.example/2"
                                       << "http://one.example/1?y=http://two.example/2";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks trimmed") << j + "?url= " + t + " &x" << t;
    QTest::newRow("ideographic space is white space") << j + "?url=\u3000" + t << t;
    QTest::newRow("https target") << j + "?url=https://secure.example/a.jpg&x=1" << "https://secure.example/a.jpg";
    QTest::newRow("https in capitals") << "https://j.example/go?to=HTTPS://S.EXAMPLE/B" << "HTTPS://S.EXAMPLE/B";
    QTest::newRow("not a URL") << "Done ?=http://x" << "http://x";
}

void TestEmbeddedUrl::extract()
{
    QFETCH(QString, input);
    QTEST(ExtractEmbeddedURL(input), "expected");
}

void TestEmbeddedUrl::ecmaSpaceClass()
{
    const QRegularExpression re = MakeEcmaRegExp("^[\\s]+x\\S$");
    QVERIFY(re.isValid());
    QVERIFY(re.match("\u3000\u00a0 \txy").hasMatch());
    QVERIFY(!re.match("\u3000x\u3000").hasMatch());
    // Every other character is no space: not a tilde, not a line's letters.
    QVERIFY(re.match(" x~").hasMatch());
    QVERIFY(!MakeEcmaRegExp("[\\s]").match("~a-z").hasMatch());
    // A backslash that ends a pattern is left as it is.
    QCOMPARE(EcmaToPcre("a\\"), QStringLiteral("a\\"));
    QCOMPARE(EcmaToPcre("[\\s]\\s"), EcmaToPcre("[\\s]").chopped(1) + "][" + EcmaToPcre("[\\s]").mid(1));
    // \w stays ASCII, as in ECMAScript.
    QVERIFY(!MakeEcmaRegExp("^\\w$").match("é").hasMatch());
}

QTEST_APPLESS_MAIN(TestEmbeddedUrl)
#include "tst_embeddedurl.moc"
