// The address rules and the link extraction, without a network: the folder of
// a page, the join of relative links, the collapse of "//" and the removal of
// "../" (checked against the step-by-step rules on random addresses too), and
// what the extraction passes store, including a stop and an engine error.
#include "getter/engine/AddressRules.h"
#include "getter/engine/LinkExtraction.h"

#include "core/EcmaRegExp.h"
#include "core/Shared.h"
#include "core/TextFile.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kiro;

namespace {

// The removal of "../" exactly as the rules state it, one step at a time.
QString StepwiseResolve(const QString &address)
{
    if (TrimSpaces(address).isEmpty())
        return QString();
    const int keep = address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ? 8 : 7;
    QString s = address;
    while (s.contains(QLatin1String("../"))) {
        const qsizetype p = s.indexOf(QLatin1String("../")) + 1;
        if (p - 2 < 0)
            return address;   // no text before it: the step fails, nothing changes
        QString head = s.left(p - 2);
        const qsizetype q = head.lastIndexOf(QLatin1Char('/')) + 1;
        if (q <= keep)
            head += QLatin1Char('/');
        else
            head = head.left(q);
        s = TrimSpaces(head + s.mid(p + 2));
    }
    return s;
}

// The collapse of "//" exactly as the rules state it.
QString StepwiseCollapse(const QString &address)
{
    if (TrimSpaces(address).isEmpty())
        return QString();
    const bool https = address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    QString rest = address.mid(https ? 8 : 7);
    while (rest.contains(QLatin1String("//"))) {
        const qsizetype p = rest.indexOf(QLatin1String("//")) + 1;
        rest = TrimSpaces(rest.left(p - 1) + rest.mid(p));
    }
    return (https ? QLatin1String("https://") : QLatin1String("http://")) + rest;
}

QString RandomAddress(QRandomGenerator &rng)
{
    static const QStringList prefixes{QStringLiteral("http://"), QStringLiteral("https://"),
                                      QStringLiteral("HTTPS://"), QString(), QStringLiteral(" "),
                                      QStringLiteral("http:/"), QStringLiteral("..")};
    static const QString alphabet = QStringLiteral("//..a h");
    QString s = prefixes.at(rng.bounded(int(prefixes.size())));
    const int length = rng.bounded(24);
    for (int i = 0; i < length; ++i)
        s += alphabet.at(rng.bounded(int(alphabet.size())));
    return s;
}

struct Recorder {
    int pumps = 0;
    int aborts = 0;
    int abortOnPump = -1;   // the pump (1-based) that raises AbortFlag

    LinkScanHooks Hooks()
    {
        LinkScanHooks hooks;
        hooks.pumpEvents = [this] {
            ++pumps;
            if (pumps == abortOnPump)
                AbortFlag = 1;
        };
        hooks.reportAborted = [this] { ++aborts; };
        return hooks;
    }
};

} // namespace

class tst_AddressRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { AbortFlag = 0; }
    void cleanup() { AbortFlag = 0; }

    void pageFolder_data();
    void pageFolder();
    void joinToPage_data();
    void joinToPage();
    void collapseSlashes_data();
    void collapseSlashes();
    void resolveParentRefs_data();
    void resolveParentRefs();
    void rulesMatchTheStepwiseRules();
    void longAddresses();
    void upperKeepsLength();

    void fileLinks_data();
    void fileLinks();
    void pageLinks();
    void storesAfterEarlierCandidates();
    void stopDuringExtraction();
    void engineErrorIsReported();
    void pumpsBetweenPasses();
};

void tst_AddressRules::pageFolder_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("folder");
    QTest::newRow("file in folder") << "http://host/dir/page.html" << "http://host/dir/";
    QTest::newRow("host only") << "http://host" << "http://host/";
    QTest::newRow("host slash") << "http://host/" << "http://host/";
    QTest::newRow("https host only") << "https://host" << "https://host/";
    QTest::newRow("https file") << "https://host/a/b.html" << "https://host/a/";
    QTest::newRow("https capitals") << "HTTPS://Host" << "HTTPS://Host/";
    QTest::newRow("slash in query") << "http://host/v.asp?d=a/" << "http://host/";
    QTest::newRow("slash in fragment") << "http://host/d/x.html#s/1" << "http://host/d/";
    QTest::newRow("query on host") << "http://host?x=/y" << "http://host/";
    QTest::newRow("empty") << "" << "/";
    QTest::newRow("nothing before the query") << "?d=a/" << "/";
}

void tst_AddressRules::pageFolder()
{
    QFETCH(QString, page);
    QFETCH(QString, folder);
    QCOMPARE(PageFolder(page), folder);
}

void tst_AddressRules::joinToPage_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("joined");
    QTest::newRow("relative") << "img/a.jpg" << "http://host/d/p.html" << "http://host/d/img/a.jpg";
    QTest::newRow("host root") << "/pics/a.jpg" << "http://host/d/p.html" << "http://host/pics/a.jpg";
    QTest::newRow("host root, port") << "/pics/a.jpg" << "http://host:8080/d/p.html"
                                     << "http://host:8080/pics/a.jpg";
    QTest::newRow("host root, page without a path") << "/a.jpg" << "http://host" << "http://host/a.jpg";
    QTest::newRow("host root, query page") << "/a.jpg" << "http://host?x=/y" << "http://host/a.jpg";
    QTest::newRow("host root, https") << "/a.jpg" << "HTTPS://Host/x" << "https://Host/a.jpg";
    QTest::newRow("other host, https") << "//cdn.host/a.jpg" << "https://host/d/p.html"
                                       << "https://cdn.host/a.jpg";
    QTest::newRow("other host, http") << "//cdn.host/a.jpg" << "http://host/" << "http://cdn.host/a.jpg";
    QTest::newRow("no scheme page") << "/a.jpg" << "" << "//a.jpg";
}

void tst_AddressRules::joinToPage()
{
    QFETCH(QString, link);
    QFETCH(QString, page);
    QFETCH(QString, joined);
    QCOMPARE(JoinToPage(link, page, PageFolder(page)), joined);
}

void tst_AddressRules::collapseSlashes_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("collapsed");
    QTest::newRow("double in path") << "http://host/dir//img/a.jpg" << "http://host/dir/img/a.jpg";
    QTest::newRow("scheme in capitals") << "HTTP://other/a.jpg" << "http://other/a.jpg";
    QTest::newRow("https runs") << "https://host//a///b" << "https://host/a/b";
    QTest::newRow("https capitals") << "HTTPS://h//x" << "https://h/x";
    QTest::newRow("trailing run") << "http://h/a//" << "http://h/a/";
    QTest::newRow("spaces go with a pair") << "http://h//a.jpg  " << "http://h/a.jpg";
    QTest::newRow("spaces stay without one") << "http://h/a.jpg  " << "http://h/a.jpg  ";
    QTest::newRow("blank") << "   " << "";
    QTest::newRow("empty") << "" << "";
}

void tst_AddressRules::collapseSlashes()
{
    QFETCH(QString, address);
    QFETCH(QString, collapsed);
    QCOMPARE(CollapseSlashes(address), collapsed);
}

void tst_AddressRules::resolveParentRefs_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("resolved");
    QTest::newRow("one up") << "http://host/a/b/../c.jpg" << "http://host/a/c.jpg";
    QTest::newRow("two up") << "http://host/a/b/../../c.jpg" << "http://host/c.jpg";
    QTest::newRow("above host") << "http://host/../c.jpg" << "http://host/c.jpg";
    QTest::newRow("https above host") << "https://host/../c.jpg" << "https://host/c.jpg";
    QTest::newRow("https two up") << "https://host/a/../../b.jpg" << "https://host/b.jpg";
    QTest::newRow("sibling folder") << "http://host/d/e/../a.jpg" << "http://host/d/a.jpg";
    QTest::newRow("dot step kept") << "http://h/./a.jpg" << "http://h/./a.jpg";
    QTest::newRow("leading step") << "../a.jpg" << "../a.jpg";
    QTest::newRow("blank") << "  " << "";
}

void tst_AddressRules::resolveParentRefs()
{
    QFETCH(QString, address);
    QFETCH(QString, resolved);
    QCOMPARE(ResolveParentRefs(address), resolved);
}

void tst_AddressRules::rulesMatchTheStepwiseRules()
{
    QRandomGenerator rng(20240517);
    for (int i = 0; i < 20000; ++i) {
        const QString address = RandomAddress(rng);
        QCOMPARE(ResolveParentRefs(address), StepwiseResolve(address));
        QCOMPARE(CollapseSlashes(address), StepwiseCollapse(address));
    }
}

void tst_AddressRules::longAddresses()
{
    // A data: address of a megabyte is full of "/"; the rules must not go
    // over it once per "/" or "../".
    QString slashes = QStringLiteral("http://host/");
    for (int i = 0; i < 250000; ++i)
        slashes += QLatin1String("ab//");
    const QString collapsed = CollapseSlashes(slashes);
    QCOMPARE(collapsed.size(), slashes.size() - 250000);
    QVERIFY(!collapsed.mid(7).contains(QLatin1String("//")));

    QString ups = QStringLiteral("http://host/");
    for (int i = 0; i < 200000; ++i)
        ups += QLatin1String("a/");
    for (int i = 0; i < 200000; ++i)
        ups += QLatin1String("../");
    ups += QLatin1String("x.jpg");
    QCOMPARE(ResolveParentRefs(ups), QStringLiteral("http://host/x.jpg"));

    QString longHost = QStringLiteral("http://") + QString(500000, QLatin1Char('h')) + QLatin1Char('/');
    for (int i = 0; i < 100000; ++i)
        longHost += QLatin1String("../");
    QCOMPARE(ResolveParentRefs(longHost), QStringLiteral("http://") + QString(500000, QLatin1Char('h')) + QLatin1Char('/'));
}

void tst_AddressRules::upperKeepsLength()
{
    const QString text = QStringLiteral("straße/photo.jpg");
    const QString upper = UpperSameLength(text);
    QCOMPARE(upper.size(), text.size());
    QVERIFY(upper.endsWith(QLatin1String("PHOTO.JPG")));
}

void tst_AddressRules::fileLinks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("links");
    QTest::newRow("double quotes") << R"(<img src="a.jpg">)" << QStringList{"a.jpg"};
    QTest::newRow("no quotes, capitals") << "<a HREF=x.jpg>" << QStringList{"x.jpg"};
    QTest::newRow("blanks around =") << R"(<a href = "x.html" >)" << QStringList{"x.html"};
    QTest::newRow("single quotes") << "<a href='a.jpg'>" << QStringList{"a.jpg"};
    QTest::newRow("single quotes, blank inside") << "<a href='a b.jpg'>" << QStringList{"a b.jpg"};
    QTest::newRow("no space: tilde, punctuation") << "<img src=~u/a~b;c.jpg><a href=x,y!.gif>"
                                                  << QStringList{"~u/a~b;c.jpg", "x,y!.gif"};
    QTest::newRow("single quotes after blanks") << "<a href = \t 'a.jpg'><a href=' b.jpg '>"
                                                << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("single quote not closed") << "<a href='a.jpg>" << QStringList{"'a.jpg"};
    QTest::newRow("window.open") << "<script>window.open('photo.jpg')</script>"
                                 << QStringList{"photo.jpg"};
    QTest::newRow("address in text") << "see http://h/a.jpg<br>" << QStringList{"http://h/a.jpg"};
    QTest::newRow("https address in text") << "https://h/a.jpg \"" << QStringList{"https://h/a.jpg"};
    QTest::newRow("address at the very end") << "see http://h/a.jpg" << QStringList{};
    QTest::newRow("attribute and address")
            << R"(<a href="http://h/a.jpg">)" << QStringList{"http://h/a.jpg", "http://h/a.jpg"};
    QTest::newRow("ideographic space")
            << QStringLiteral("<img src=\u3000a.jpg\u3000alt=x>") << QStringList{"a.jpg"};
    QTest::newRow("no-break space")
            << QStringLiteral("<img src\u00A0=\u00A0b.jpg\u00A0> http://h/c.jpg\u00A0")
            << QStringList{"b.jpg", "http://h/c.jpg"};
}

void tst_AddressRules::fileLinks()
{
    QFETCH(QString, text);
    QFETCH(QStringList, links);
    QRegularExpression linkRegExp;
    QStringList stored{QString()};
    Recorder recorder;
    const LinkScanResult r = ExtractFileLinks(linkRegExp, text, stored, 0, recorder.Hooks());
    QCOMPARE(r.count, links.size());
    QVERIFY(!r.matchError);
    if (links.isEmpty())
        QCOMPARE(stored, QStringList{QString()});
    else
        QCOMPARE(stored, links);
    QCOMPARE(recorder.pumps, links.size());
}

void tst_AddressRules::pageLinks()
{
    QRegularExpression linkRegExp;
    QStringList links{QStringLiteral("http://h/d/p.html")};
    Recorder recorder;
    const QString text = QStringLiteral(
            "<a href=\"p2.html\">x</a> <frame src='f.htm'> go to http://h/q.html<br>"
            "<script>window.open('w.html')</script><p>HTTPS://h/r.html</p>>https://h/s.htm");
    const LinkScanResult r = ExtractPageLinks(linkRegExp, text, links, recorder.Hooks());
    QCOMPARE(r.count, 6);
    QCOMPARE(links, (QStringList{"http://h/d/p.html", "p2.html", "f.htm", "http://h/q.html",
                                 "HTTPS://h/r.html", "https://h/s.htm"}));
}

void tst_AddressRules::storesAfterEarlierCandidates()
{
    QRegularExpression linkRegExp;
    QStringList stored{QStringLiteral("http://h/a.jpg"), QStringLiteral("http://h/b.jpg")};
    Recorder recorder;
    const LinkScanResult r = ExtractFileLinks(linkRegExp, QStringLiteral("<img src=c.jpg>"),
                                              stored, 2, recorder.Hooks());
    QCOMPARE(r.count, 3);
    QCOMPARE(stored, (QStringList{"http://h/a.jpg", "http://h/b.jpg", "c.jpg"}));

    // Nothing found: the array and the count stay as they were.
    const LinkScanResult none =
            ExtractFileLinks(linkRegExp, QStringLiteral("<p>none</p>"), stored, 3, recorder.Hooks());
    QCOMPARE(none.count, 3);
    QCOMPARE(stored.size(), 3);
}

void tst_AddressRules::stopDuringExtraction()
{
    // Stop raised during the second match of the first pass: that value stays
    // stored but not counted, and each later pass stores its first match in the
    // same slot before it ends too.
    QRegularExpression linkRegExp;
    QStringList stored{QStringLiteral("old1"), QStringLiteral("old2")};
    Recorder recorder;
    recorder.abortOnPump = 2;
    const QString text = QStringLiteral(
            "<img src=a.jpg><img src=b.jpg><img src=c.jpg>"
            "<script>window.open('w1.jpg');window.open('w2.jpg')</script>"
            "http://h/t1.jpg http://h/t2.jpg ");
    const LinkScanResult r = ExtractFileLinks(linkRegExp, text, stored, 2, recorder.Hooks());
    QCOMPARE(r.count, 3);
    QCOMPARE(stored, (QStringList{"old1", "old2", "a.jpg", "http://h/t1.jpg"}));
    QCOMPARE(recorder.aborts, 3);
    QCOMPARE(recorder.pumps, 4);

    // The page-link extraction stops alike: one slot past its count.
    AbortFlag = 0;
    QStringList links{QStringLiteral("http://h/p.html")};
    Recorder pageRecorder;
    pageRecorder.abortOnPump = 1;
    const LinkScanResult p = ExtractPageLinks(
            linkRegExp, QStringLiteral("<a href=x.html><a href=y.html> http://h/z.html "), links,
            pageRecorder.Hooks());
    QCOMPARE(p.count, 1);
    QCOMPARE(links, (QStringList{"http://h/p.html", "http://h/z.html"}));
    QCOMPARE(pageRecorder.aborts, 2);
}

void tst_AddressRules::engineErrorIsReported()
{
    // A pattern that exhausts the engine's match limit after two matches.
    const QRegularExpression pattern = MakeEcmaRegExp(QStringLiteral("(x)|(a+)+b"));
    QStringList stored{QString()};
    Recorder recorder;
    const QString text = QStringLiteral("x x ") + QString(40, QLatin1Char('a')) + QStringLiteral("c x");
    const LinkScanResult r = RunLinkPass(pattern, {1}, text, stored, 0, recorder.Hooks());
    QVERIFY(r.matchError);
    QCOMPARE(r.count, 2);
    QCOMPARE(stored, (QStringList{"x", "x"}));

    // Long values and long lines end normally.
    const QString data = QStringLiteral("<img src=\"data:image/png;base64,")
            + QString(1 << 20, QLatin1Char('A')) + QStringLiteral("\"><img src='b.jpg'>");
    QStringList links{QString()};
    QRegularExpression linkRegExp;
    const LinkScanResult big = ExtractFileLinks(linkRegExp, data, links, 0, recorder.Hooks());
    QVERIFY(!big.matchError);
    QCOMPARE(big.count, 2);
    QCOMPARE(links.at(1), QStringLiteral("b.jpg"));
    QCOMPARE(links.at(0).size(), (1 << 20) + 22);
}

// A text without any link still lets events through between the passes,
// each of which runs over the whole text.
void tst_AddressRules::pumpsBetweenPasses()
{
    QRegularExpression linkRegExp;
    int between = 0;
    LinkScanHooks hooks;
    hooks.pumpBetweenPasses = [&] { ++between; };
    QStringList stored{QString()};
    const QString text = QString(100000, QLatin1Char('w'));
    QCOMPARE(ExtractFileLinks(linkRegExp, text, stored, 0, hooks).count, 0);
    QCOMPARE(between, 2);
    QStringList links{QStringLiteral("http://h/p.html")};
    QCOMPARE(ExtractPageLinks(linkRegExp, text, links, hooks).count, 1);
    QCOMPARE(between, 3);
}

QTEST_APPLESS_MAIN(tst_AddressRules)
#include "tst_addressrules.moc"
