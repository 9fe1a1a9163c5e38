// The addresses that pages name outside the link expressions' reach: srcset
// candidates, lazy-loading attributes, CSS url(...), the values read from the
// browser view's document, and what hostile text does to the scan.
#include "getter/engine/PageViewLinks.h"

#include <QTest>

using namespace kiro;

class tst_PageViewLinks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void srcset_data();
    void srcset();
    void cssUrls_data();
    void cssUrls();
    void htmlAddresses_data();
    void htmlAddresses();
    void hostileText_data();
    void hostileText();
    void giveUpEndsTheScan();
    void liveDocumentValues();
    void sameDocument_data();
    void sameDocument();
};

void tst_PageViewLinks::srcset_data()
{
    QTest::addColumn<QString>("srcset");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("densities") << "a.jpg 1x, b.jpg 2x" << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("widths") << "s.jpg 480w,m.jpg 800w ,l.jpg 1200w" << QStringList{"s.jpg", "m.jpg", "l.jpg"};
    QTest::newRow("commas inside an address")
            << "a.jpg?x=1,2 2x, b.jpg 3x" << QStringList{"a.jpg?x=1,2", "b.jpg"};
    QTest::newRow("comma in a path") << "img/a,b.jpg 2x, c.jpg 3x" << QStringList{"img/a,b.jpg", "c.jpg"};
    QTest::newRow("no descriptors, trailing commas end addresses")
            << "a.jpg,, b.jpg," << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("no space after a comma is one address")
            << "a.jpg,b.jpg 2x" << QStringList{"a.jpg,b.jpg"};
    QTest::newRow("single candidate") << "  /pics/only.png  " << QStringList{"/pics/only.png"};
    QTest::newRow("descriptor with parentheses and commas")
            << "a.jpg 100w (x, y), b.jpg 2x" << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("unclosed parenthesis swallows the rest") << "a.jpg 1x (, b.jpg 2x" << QStringList{"a.jpg"};
    QTest::newRow("line breaks and tabs") << "a.jpg\n1x,\tb.jpg\r\n2x" << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("absolute addresses")
            << "https://cdn.example/a.jpg 1x, //cdn.example/b.jpg 2x"
            << QStringList{"https://cdn.example/a.jpg", "//cdn.example/b.jpg"};
    QTest::newRow("data address left out") << "data:image/gif;base64,R0lGOD 1x, b.jpg 2x"
                                           << QStringList{"b.jpg"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("only commas") << " , ,, " << QStringList{};
    QTest::newRow("form feeds and carriage returns") << "a.jpg\f1x,\rb.jpg\f2x" << QStringList{"a.jpg", "b.jpg"};
    // A scheme is a letter, then letters, digits, "+", "-" or "."; only http
    // and https are fetched, and a relative path may hold a colon later on.
    QTest::newRow("schemes")
            << "mailto:a 1x, a1+.-:b 2x, z:c 3x, Zz:d 4x, A:e 5x, httpx:f 6x, HTTP://h/g.jpg 7x, "
               "https:h.jpg 8x, Https://h/i.jpg 9x, 1a:j.jpg 10x, :k.jpg 11x, l.jpg?x=a:b 12x"
            << QStringList{"HTTP://h/g.jpg", "https:h.jpg", "Https://h/i.jpg", "1a:j.jpg", ":k.jpg", "l.jpg?x=a:b"};
}

void tst_PageViewLinks::srcset()
{
    QFETCH(QString, srcset);
    QTEST(SrcsetAddresses(srcset), "addresses");
}

void tst_PageViewLinks::cssUrls_data()
{
    QTest::addColumn<QString>("css");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("unquoted") << "background:url(a.jpg)" << QStringList{"a.jpg"};
    QTest::newRow("quoted, spaces inside") << "background: URL( \"b c.jpg\" ) no-repeat"
                                           << QStringList{"b c.jpg"};
    QTest::newRow("single quotes, several")
            << "background-image:url('a.jpg'), url(b.png);" << QStringList{"a.jpg", "b.png"};
    QTest::newRow("computed form") << R"(url("http://h/a.jpg"), linear-gradient(red, blue))"
                                   << QStringList{"http://h/a.jpg"};
    QTest::newRow("escapes undone") << R"(url(a\(1\).jpg) url("q\"x.jpg") url(\61 .jpg))"
                                    << QStringList{"a(1).jpg", "q\"x.jpg", "a.jpg"};
    QTest::newRow("comment skipped") << "/* url(no.jpg) */ x: url(yes.jpg)" << QStringList{"yes.jpg"};
    QTest::newRow("string skipped") << R"x(content: "url(no.jpg)"; b: url(yes.jpg))x" << QStringList{"yes.jpg"};
    QTest::newRow("not the url function") << "x: myurl(no.jpg) -url(no2.jpg)" << QStringList{};
    QTest::newRow("nested url( rejected as CSS does") << "url(url(a.jpg)) url(b.jpg)" << QStringList{"b.jpg"};
    QTest::newRow("space inside unquoted rejected") << "url(a b.jpg) url(c.jpg)" << QStringList{"c.jpg"};
    QTest::newRow("unclosed quoted") << "url('a.jpg" << QStringList{"a.jpg"};
    QTest::newRow("unclosed unquoted") << "url(a.jpg" << QStringList{"a.jpg"};
    QTest::newRow("unclosed unquoted, blanks at the end") << "url( b.jpg \t" << QStringList{"b.jpg"};
    QTest::newRow("data and blob left out")
            << "url(data:image/png;base64,AAA) url(blob:http://h/1) url(c.jpg)" << QStringList{"c.jpg"};
    QTest::newRow("empty url") << "url() url('')" << QStringList{};
    QTest::newRow("hex escapes: digits and letters of both cases")
            << R"(url(\30 \39\9\6a\6A\6f\6F.jpg))" << QStringList{"09\tjjoo.jpg"};
    QTest::newRow("hex escape of six digits at most") << R"(url(\0000611.jpg))" << QStringList{"a1.jpg"};
    QTest::newRow("hex escape ended by a tab") << "url(\\61\t.jpg)" << QStringList{"a.jpg"};
    QTest::newRow("escape of a character that is no hex digit")
            << R"(url(a\ b\).jpg) url("c\"d.jpg"))" << QStringList{"a b).jpg", "c\"d.jpg"};
    QTest::newRow("escaped line break inside a string") << "url(\"a\\\nb.jpg\")" << QStringList{"ab.jpg"};
    QTest::newRow("string cut by a line break") << "url(\"a.jpg\n)" << QStringList{"a.jpg"};
    QTest::newRow("escape at the end") << "url(a\\" << QStringList{"a"};
    QTest::newRow("blanks before the closing parenthesis") << "url( a.jpg \t) url(\"b.jpg\" )"
                                                            << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("parenthesis or quote inside unquoted rejected")
            << "url(a(b).jpg) url(c\"d.jpg) url(e'f.jpg) url(g.jpg)" << QStringList{"g.jpg"};
    QTest::newRow("name characters before url(")
            << QStringLiteral("_url(a) 9url(b) \u00E9url(c) \\url(d) Xurl(e) (url(f.jpg) ,url(g.jpg)")
            << QStringList{"f.jpg", "g.jpg"};
    QTest::newRow("comment never closed") << "url(a.jpg) /* url(b.jpg)" << QStringList{"a.jpg"};
    QTest::newRow("slashes that open no comment") << "a/b url(c.jpg) /" << QStringList{"c.jpg"};
    QTest::newRow("a quote inside the other quotes")
            << R"x(content: "it's"; x: url(a.jpg) y: 'say "url(no.jpg)"' z: url(b.jpg))x"
            << QStringList{"a.jpg", "b.jpg"};
}

void tst_PageViewLinks::cssUrls()
{
    QFETCH(QString, css);
    QTEST(CssUrlAddresses(css), "addresses");
}

void tst_PageViewLinks::htmlAddresses_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("img srcset, picture sources, in document order")
            << R"(<picture><source srcset="w.webp 1x, w2.webp 2x" type="image/webp">)"
               R"(<img src="a.jpg" srcset='a2.jpg 2x'></picture>)"
            << QStringList{"w.webp", "w2.webp", "a2.jpg"};
    QTest::newRow("lazy attributes")
            << R"(<img data-src="l1.jpg" data-srcset="l2.jpg 1x, l3.jpg 2x"><div data-original=l4.jpg>)"
               R"x(<img DATA-LAZY-SRC="l5.jpg"><img data-bg="url(l6.jpg)"><a data-zoom-image="l7.jpg">)x"
            << QStringList{"l1.jpg", "l2.jpg", "l3.jpg", "l4.jpg", "l5.jpg", "l6.jpg", "l7.jpg"};
    QTest::newRow("other data attributes ignored")
            << R"(<img data-id="x.jpg" data-caption="y.jpg" src="z.jpg">)" << QStringList{};
    QTest::newRow("style attribute and style block")
            << "<div style=\"background:url(&quot;s1.jpg&quot;)\"></div>"
               "<style>.a{background:url(s2.png)} /* url(no.png) */</style>"
               "<p style='background-image: url(s3.gif)'>"
            << QStringList{"s1.jpg", "s2.png", "s3.gif"};
    QTest::newRow("character references undone")
            << R"(<img srcset="a.jpg?x=1&amp;y=2 1x, &#98;.jpg 2x, &#x63;.jpg 3x">)"
            << QStringList{"a.jpg?x=1&y=2", "b.jpg", "c.jpg"};
    QTest::newRow("comments and scripts skipped")
            << R"(<!-- <img srcset="c.jpg"> --><script>var s = '<img srcset="j.jpg">';</script>)"
               R"(<img srcset="k.jpg">)"
            << QStringList{"k.jpg"};
    QTest::newRow("script end tag in any case, longer names not")
            << R"(<script></scripts><img srcset="no.jpg"></SCRIPT ><img srcset="yes.jpg">)"
            << QStringList{"yes.jpg"};
    QTest::newRow("empty comments") << R"(<!--><img srcset="a.jpg"><!---><img srcset="b.jpg">)"
                                    << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("unquoted values, spaces around =")
            << "<img srcset = a.jpg data-src=b.jpg/>" << QStringList{"a.jpg", "b.jpg/"};
    QTest::newRow("quote inside another quote")
            << R"(<img alt='say "hi"' srcset="a.jpg" title="it's">)" << QStringList{"a.jpg"};
    QTest::newRow("end tags and declarations")
            << R"(<!DOCTYPE html><?xml x?></div srcset="no.jpg"><img srcset="a.jpg">)"
            << QStringList{"a.jpg"};
    QTest::newRow("less-than sign in text") << "1 < 2 <3 <img srcset=a.jpg>" << QStringList{"a.jpg"};
    QTest::newRow("non-web schemes left out")
            << R"(<img data-src="data:image/gif;base64,R0lG" srcset="javascript:x 1x, b.jpg 2x">)"
            << QStringList{"b.jpg"};
    QTest::newRow("a tag the text ends inside counts for nothing")
            << R"(<img srcset="a.jpg"><img srcset="b.jpg" alt="unclosed>)" << QStringList{"a.jpg"};
    QTest::newRow("numeric references: digits and letters of both cases")
            << R"(<img data-src="&#x30;&#X39;&#x6a;&#x6A;&#x6f;&#x6F;&#90;&#109;.jpg">)"
            << QStringList{"09jjooZm.jpg"};
    QTest::newRow("references without their semicolon, and what is none")
            << R"(<img data-src="&#97b&#x62g&#;&#x;&amp&nbsp;&AMP;&Lt;&quot;&apos;&gt;.jpg">)"
            << QStringList{"abbg&#;&#x;&amp&nbsp;&<\"'>.jpg"};
    QTest::newRow("an ampersand or a reference at the very end")
            << R"(<img data-src="a.jpg?x=1&"><img data-src="b&#97"><img data-src="c&#x">)"
            << QStringList{"a.jpg?x=1&", "ba", "c&#x"};
    QTest::newRow("references to what no text holds")
            << R"(<img data-src="&#0;&#x10FFFF;&#x110000;&#xD7FF;&#xD800;&#xDFFF;&#xE000;.jpg">)"
            << QStringList{QString(QChar(0xFFFD)) + QString::fromUcs4(U"\U0010FFFF") + QChar(0xFFFD) + QChar(0xD7FF)
                           + QChar(0xFFFD) + QChar(0xFFFD) + QChar(0xE000) + ".jpg"};
    QTest::newRow("every lazy-loading attribute, in any case")
            << "<img data-src=1 data-lazy-src=2 data-lazy=3 data-lazyload=4 data-original=5 "
               "data-original-src=6 data-url=7 data-echo=8 data-src-retina=9 data-hi-res=10 "
               "data-bg=11 data-bg-hidpi=12 data-background=13 data-background-image=14 "
               "data-poster=15 data-full=16 data-full-src=17 data-large=18 data-large-file=19 "
               "data-medium-file=20 data-orig-file=21 data-zoom-image=22 data-zoom-src=23 "
               "data-image=24 data-img=25 DATA-IMG=26 Data-Src=27 DATA-ZOOM-IMAGE=28>"
            << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14",
                           "15", "16", "17", "18", "19", "20", "21", "22", "23", "24", "25", "26", "27",
                           "28"};
    QTest::newRow("every srcset attribute, and names like them")
            << "<img SRCSET=a data-srcset=b data-lazy-srcset=c srcsets=x data-srcsetx=y xsrcset=z "
               "data-imgs=w data-sr=v xdata-src=u STYLE='background:url(d)' styles='url(t)'>"
            << QStringList{"a", "b", "c", "d"};
    QTest::newRow("content of every raw-text element skipped")
            << "<title><img srcset=t></title><xmp><img srcset=x></xmp><iframe><img srcset=i></iframe>"
               "<noembed><img srcset=e></noembed><noframes><img srcset=f></noframes>"
               "<style><img srcset=s></style><img srcset=yes><plaintext><img srcset=p>"
            << QStringList{"yes"};
    QTest::newRow("end tags of raw text ended every way")
            << "<script></script/><img srcset=a></script><title></title\t><img srcset=b>"
               "<xmp></xmp><img srcset=c><iframe><img srcset=no></iframe"
            << QStringList{"a", "b", "c"};
    QTest::newRow("tag names and attributes without values")
            << "<img/srcset=a><img hidden srcset=b><img alt  srcset=c/><img srcset = d/>"
               "<img\fsrcset=e\rdata-src=f\n><img srcset><img srcset=g>"
            << QStringList{"a", "b", "c/", "d/", "e", "f", "g"};
    QTest::newRow("URL( in a lazy attribute, in capitals") << R"x(<div data-bg="URL(l.jpg)">)x" << QStringList{"l.jpg"};
    QTest::newRow("tags inside end tags and processing instructions")
            << "</x <img srcset=no1>><?x <img srcset=no2>?><img srcset=a>" << QStringList{"a"};
    QTest::newRow("a less-than sign before a blank opens no tag")
            << "a < img srcset=no> <img srcset=yes>" << QStringList{"yes"};
    QTest::newRow("markup cut at the end") << "<img srcset=a><" << QStringList{"a"};
    QTest::newRow("a value cut at the end") << "<img srcset=a><img srcset=" << QStringList{"a"};
    QTest::newRow("a name cut at the end") << "<img srcset=a><img srcset" << QStringList{"a"};
    QTest::newRow("a comment never closed") << "<img srcset=a><!-- <img srcset=b>" << QStringList{"a"};
    QTest::newRow("a declaration ends at the next >")
            << "<img srcset=a><!x <img srcset=b>" << QStringList{"a"};
    QTest::newRow("textarea content is text")
            << R"(<textarea><img srcset="no.jpg"></textarea><img srcset="yes.jpg">)" << QStringList{"yes.jpg"};
}

void tst_PageViewLinks::htmlAddresses()
{
    QFETCH(QString, html);
    QTEST(PageViewHtmlAddresses(html), "addresses");
}

void tst_PageViewLinks::hostileText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>("addresses");

    const QString longValue(200 * 1024, QLatin1Char('x'));
    QTest::newRow("200 KB attribute")
            << "<img title=\"" + longValue + "\" srcset=\"a.jpg\"><img srcset=\"" + longValue + ".jpg 2x\">"
            << QStringList{"a.jpg", longValue + ".jpg"};
    QTest::newRow("200 KB unquoted attribute")
            << "<img data-src=" + longValue + ".jpg>" << QStringList{longValue + ".jpg"};
    QString opens;
    for (int i = 0; i < 20000; ++i)
        opens += QLatin1String("<a title=\"");
    QTest::newRow("thousands of unclosed quotes") << opens << QStringList{};
    QString nested;
    for (int i = 0; i < 50000; ++i)
        nested += QLatin1String("url(");
    QTest::newRow("deeply nested url(")
            << "<div style=\"" + nested + "a.jpg" + QString(50000, QLatin1Char(')')) + "\">"
               "<img srcset=\"b.jpg\">"
            << QStringList{"b.jpg"};
    QTest::newRow("style block never closed")
            << "<style>x{background:url(a.jpg)}" + QString(100000, QLatin1Char('{'))
            << QStringList{"a.jpg"};
    QTest::newRow("many empty tags") << QString(100000, QLatin1Char('<')) + "img srcset=a.jpg>"
                                     << QStringList{"a.jpg"};
    QTest::newRow("many script openings")
            << QStringLiteral("<script>").repeated(20000)
               + "</script><img srcset=a.jpg>"
            << QStringList{"a.jpg"};
    QTest::newRow("half a character") << QStringLiteral("<img srcset=\"a.jpg\">") + QChar(0xD800)
                                      << QStringList{"a.jpg"};
    QTest::newRow("huge character references")
            << R"(<img srcset="&#99999999999999;.jpg, &#xD800;.jpg 2x">)"
            << QStringList{QStringLiteral("\uFFFD.jpg"), QStringLiteral("\uFFFD.jpg")};
}

// Whatever the text holds, the scan reads it once and finishes.
void tst_PageViewLinks::hostileText()
{
    QFETCH(QString, html);
    QTEST(PageViewHtmlAddresses(html), "addresses");
}

void tst_PageViewLinks::giveUpEndsTheScan()
{
    QString html;
    for (int i = 0; i < 200000; ++i)
        html += QStringLiteral("<img srcset=\"%1.jpg\">").arg(i);
    int asked = 0;
    const QStringList all = PageViewHtmlAddresses(html, [&] { ++asked; return false; });
    QCOMPARE(all.size(), 200000);
    QVERIFY(asked > 1);
    const QStringList some = PageViewHtmlAddresses(html, [] { return true; });
    QVERIFY(some.size() < 200000);
    QCOMPARE(some, all.mid(0, some.size()));
}

void tst_PageViewLinks::liveDocumentValues()
{
    using V = LiveDocumentValue;
    const QList<V> values = {
        {V::Address, QStringLiteral("http://h/a.jpg")},
        {V::Srcset, QStringLiteral("b.jpg?s=1,2 1x, c.jpg 2x")},
        {V::Css, QStringLiteral("url(\"http://h/d.png\"), url(\"data:image/png;base64,AA\")")},
        {V::Address, QStringLiteral("javascript:void(0)")},
        {V::Address, QString()},
        {V::Address, QStringLiteral("https://h/e.zip")},
    };
    QCOMPARE(LiveDocumentAddresses(values),
             QStringList({"http://h/a.jpg", "b.jpg?s=1,2", "c.jpg", "http://h/d.png", "https://h/e.zip"}));
}

void tst_PageViewLinks::sameDocument_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");

    QTest::newRow("equal") << "http://h/p.html" << "http://h/p.html" << true;
    QTest::newRow("fragment") << "http://h/p.html#top" << "http://h/p.html" << true;
    QTest::newRow("bare host") << "http://h" << "http://h/" << true;
    QTest::newRow("host case") << "http://H/p.html" << "http://h/p.html" << true;
    QTest::newRow("dot segments") << "http://h/a/../p.html" << "http://h/p.html" << true;
    QTest::newRow("encoded and not") << "http://h/日本.html" << "http://h/%E6%97%A5%E6%9C%AC.html" << true;
    QTest::newRow("query differs") << "http://h/p.html?a=1" << "http://h/p.html?a=2" << false;
    QTest::newRow("other page") << "http://h/p.html" << "http://h/q.html" << false;
    QTest::newRow("scheme differs") << "http://h/p.html" << "https://h/p.html" << false;
    QTest::newRow("empty") << "" << "" << false;
}

void tst_PageViewLinks::sameDocument()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QTEST(SameDocumentAddress(a, b), "same");
    QTEST(SameDocumentAddress(b, a), "same");
}

QTEST_APPLESS_MAIN(tst_PageViewLinks)
#include "tst_pageviewlinks.moc"
