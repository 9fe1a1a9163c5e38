// The transfer's pieces without a network: when to try again and how long to
// wait, partial answers, the decoding of compressed pages, and the session's
// cookies.
#include "TestServer.h"

#include "getter/engine/ContentDecoder.h"
#include "getter/engine/Session.h"
#include "getter/engine/TransferRules.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

using namespace kiro;

namespace {

// The decoded body, or "<error: ...>".
QByteArray Decode(const QByteArray &coding, const QByteArray &body, qsizetype pieceSize,
                  qsizetype limit = -1)
{
    QByteArray out;
    ContentDecoder decoder;
    const bool known = decoder.Start(coding, [&](const char *data, qsizetype size) {
        if (limit >= 0 && out.size() + size > limit)
            return false;
        out.append(data, size);
        return true;
    });
    if (!known)
        return "<error: " + decoder.errorString().toUtf8() + '>';
    for (qsizetype at = 0; at < body.size(); at += pieceSize) {
        if (!decoder.Write(body.constData() + at, std::min(pieceSize, body.size() - at)))
            return "<error: " + decoder.errorString().toUtf8() + '>';
    }
    if (!decoder.Finish())
        return "<error: " + decoder.errorString().toUtf8() + '>';
    return out;
}

// A Cookie header's pairs in name order: cookies of equal paths come in no set order.
QByteArray Sorted(const QByteArray &header)
{
    QList<QByteArray> pairs = header.split(';');
    for (QByteArray &p : pairs)
        p = p.trimmed();
    pairs.removeAll(QByteArray());
    std::sort(pairs.begin(), pairs.end());
    return pairs.join("; ");
}

// Deflate blocks stored as they are, each ending the stream when final;
// their first bytes can be made to read like a zlib header.
QByteArray StoredBlock(const QByteArray &data, bool final, char padding = 0)
{
    const quint16 size = quint16(data.size());
    QByteArray block;
    block += char((final ? 1 : 0) | (padding << 3));
    block += char(size & 0xFF);
    block += char(size >> 8);
    block += char(~size & 0xFF);
    block += char(quint16(~size) >> 8);
    return block + data;
}

} // namespace

class tst_TransferRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transientStatus_data();
    void transientStatus();
    void growingWaits();
    void contentRange_data();
    void contentRange();
    void entityTags_data();
    void entityTags();
    void rangeTokens_data();
    void rangeTokens();

    void decoding_data();
    void decoding();
    void decodingCutWhereTheOutputIsFull();
    void decodingStopsAtTheSinksLimit();

    void cookiesForAddresses_data();
    void cookiesForAddresses();
    void responseCookies();
    void sameSiteCookies_data();
    void sameSiteCookies();
    void responseCookieRules_data();
    void responseCookieRules();
    void cookiesPerDomainAreBounded();
};

void tst_TransferRules::transientStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("transient");
    for (int s : {408, 429, 500, 502, 503, 504})
        QTest::addRow("%d", s) << s << true;
    for (int s : {200, 206, 301, 304, 400, 401, 403, 404, 405, 410, 418, 451, 501, 505, 599})
        QTest::addRow("%d", s) << s << false;
}

void tst_TransferRules::transientStatus()
{
    QFETCH(int, status);
    QFETCH(bool, transient);
    QCOMPARE(IsTransientStatus(status), transient);
}

void tst_TransferRules::growingWaits()
{
    QCOMPARE(RetryWaitMs(2, 1000), qint64(1000));
    QCOMPARE(RetryWaitMs(3, 1000), qint64(2000));
    QCOMPARE(RetryWaitMs(4, 1000), qint64(4000));
    QCOMPARE(RetryWaitMs(2, 0), qint64(0));
    QVERIFY(RetryAfterLimitMs == 30000);
    QVERIFY(TransferTries == 3);
}

void tst_TransferRules::contentRange_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("last");
    QTest::addColumn<qint64>("total");

    QTest::newRow("whole form") << QByteArray("bytes 100-999/1000") << true << qint64(100) << qint64(999)
                                << qint64(1000);
    QTest::newRow("unknown total") << QByteArray("bytes 0-9/*") << true << qint64(0) << qint64(9)
                                   << qint64(-1);
    QTest::newRow("capital unit, spaces") << QByteArray(" Bytes 5 - 6 / 7 ") << true << qint64(5)
                                          << qint64(6) << qint64(7);
    QTest::newRow("last before first") << QByteArray("bytes 9-3/10") << false << qint64(9) << qint64(3)
                                       << qint64(10);
    QTest::newRow("beyond the total") << QByteArray("bytes 0-10/10") << false << qint64(0) << qint64(10)
                                      << qint64(10);
    QTest::newRow("unsatisfied") << QByteArray("bytes */1000") << false << qint64(-1) << qint64(-1)
                                 << qint64(-1);
    QTest::newRow("other unit") << QByteArray("items 0-1/2") << false << qint64(-1) << qint64(-1)
                                << qint64(-1);
    QTest::newRow("one byte, the last") << QByteArray("bytes 9-9/10") << true << qint64(9) << qint64(9)
                                        << qint64(10);
    QTest::newRow("no total") << QByteArray("bytes 0-9") << false << qint64(-1) << qint64(-1) << qint64(-1);
    QTest::newRow("no last") << QByteArray("bytes 5/10") << false << qint64(-1) << qint64(-1) << qint64(-1);
    QTest::newRow("dash after the slash") << QByteArray("bytes 5/10-3") << false << qint64(-1) << qint64(-1)
                                          << qint64(-1);
    QTest::newRow("negative first") << QByteArray("bytes -1-5/10") << false << qint64(-1) << qint64(-1)
                                    << qint64(-1);
    QTest::newRow("total not a number") << QByteArray("bytes 0-1/x") << false << qint64(-1) << qint64(-1)
                                        << qint64(-1);
    QTest::newRow("unit glued to the range") << QByteArray("bytes0-1/2") << false << qint64(-1) << qint64(-1)
                                             << qint64(-1);
    QTest::newRow("empty") << QByteArray() << false << qint64(-1) << qint64(-1) << qint64(-1);
}

void tst_TransferRules::contentRange()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, valid);
    QFETCH(qint64, first);
    QFETCH(qint64, last);
    QFETCH(qint64, total);
    const ContentRange range = ParseContentRange(value);
    QCOMPARE(range.valid, valid);
    if (valid || first >= 0) {
        QCOMPARE(range.first, first);
        QCOMPARE(range.last, last);
        QCOMPARE(range.total, total);
    }
}

void tst_TransferRules::entityTags_data()
{
    QTest::addColumn<QByteArray>("etag");
    QTest::addColumn<bool>("strong");
    QTest::newRow("strong") << QByteArray("\"abc\"") << true;
    QTest::newRow("empty strong") << QByteArray("\"\"") << true;
    QTest::newRow("weak") << QByteArray("W/\"abc\"") << false;
    QTest::newRow("unquoted") << QByteArray("abc") << false;
    QTest::newRow("none") << QByteArray() << false;
    QTest::newRow("one quote") << QByteArray("\"") << false;
    QTest::newRow("open") << QByteArray("\"abc") << false;
    QTest::newRow("blanks around") << QByteArray(" \"abc\" ") << true;
}

void tst_TransferRules::entityTags()
{
    QFETCH(QByteArray, etag);
    QFETCH(bool, strong);
    QCOMPARE(IsStrongEntityTag(etag), strong);
}

void tst_TransferRules::rangeTokens_data()
{
    QTest::addColumn<QByteArray>("acceptRanges");
    QTest::addColumn<bool>("bytes");
    QTest::newRow("bytes") << QByteArray("bytes") << true;
    QTest::newRow("capitals") << QByteArray("Bytes") << true;
    QTest::newRow("in a list") << QByteArray("none, bytes ") << true;
    QTest::newRow("none") << QByteArray("none") << false;
    QTest::newRow("a longer token") << QByteArray("bytesx") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

// Whether an Accept-Ranges value offers byte ranges.
void tst_TransferRules::rangeTokens()
{
    QFETCH(QByteArray, acceptRanges);
    QTEST(HasToken(acceptRanges, "bytes"), "bytes");
}

void tst_TransferRules::decoding_data()
{
    QTest::addColumn<QByteArray>("coding");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("expected");

    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "<a href=\"photo" + QByteArray::number(i) + ".jpg\">写真</a>\n";
    const QByteArray gz = TestServer::gzip(text);
    const QByteArray zlib = qCompress(text).mid(4);
    const QByteArray raw = TestServer::deflateRaw(text);
    const QByteArray half = text.left(text.size() / 2);
    const QByteArray rest = text.mid(text.size() / 2);

    QTest::newRow("none") << QByteArray() << text << text;
    QTest::newRow("identity") << QByteArray("identity") << text << text;
    QTest::newRow("gzip") << QByteArray("gzip") << gz << text;
    QTest::newRow("x-gzip, capitals") << QByteArray("X-GZIP") << gz << text;
    QTest::newRow("gzip, two members") << QByteArray("gzip") << TestServer::gzip(half) + TestServer::gzip(rest)
                                       << text;
    QTest::newRow("gzip, three members, one empty")
        << QByteArray("gzip") << TestServer::gzip(half) + TestServer::gzip(QByteArray()) + TestServer::gzip(rest)
        << text;
    QTest::newRow("deflate with zlib wrapper") << QByteArray("deflate") << zlib << text;
    QTest::newRow("deflate without wrapper") << QByteArray("deflate") << raw << text;
    QTest::newRow("twice gzip") << QByteArray("gzip, gzip") << TestServer::gzip(gz) << text;
    QTest::newRow("deflate, then gzip") << QByteArray("deflate,gzip") << TestServer::gzip(zlib) << text;
    QTest::newRow("gzip, then identity") << QByteArray("gzip, identity") << gz << text;
    QTest::newRow("empty gzip body") << QByteArray("gzip") << QByteArray() << QByteArray();

    QTest::newRow("gzip cut short") << QByteArray("gzip") << gz.left(gz.size() / 2)
                                    << QByteArray("<error: the compressed body ends early>");
    QTest::newRow("gzip without its trailer") << QByteArray("gzip") << gz.left(gz.size() - 8)
                                              << QByteArray("<error: the compressed body ends early>");
    QTest::newRow("gzip, then garbage") << QByteArray("gzip") << gz + "garbage!"
                                        << QByteArray("<error: corrupt gzip data>");
    QTest::newRow("not gzip") << QByteArray("gzip") << QByteArray("plain text, not compressed")
                              << QByteArray("<error: corrupt gzip data>");
    QTest::newRow("deflate cut short") << QByteArray("deflate") << zlib.left(zlib.size() / 2)
                                       << QByteArray("<error: the compressed body ends early>");
    QTest::newRow("deflate, then more") << QByteArray("deflate") << zlib + "more"
                                        << QByteArray("<error: data after the end of the deflate stream>");
    QTest::newRow("one byte of deflate") << QByteArray("deflate") << QByteArray("x")
                                         << QByteArray("<error: the compressed body ends early>");
    QTest::newRow("not deflate") << QByteArray("deflate") << QByteArray("plain text, not compressed")
                                 << QByteArray("<error: corrupt deflate data>");
    QTest::newRow("deflate, then one byte more") << QByteArray("deflate") << raw + "m"
                                                 << QByteArray("<error: data after the end of the deflate stream>");
    QTest::newRow("raw deflate of nothing: two bytes")
        << QByteArray("deflate") << TestServer::deflateRaw(QByteArray()) << QByteArray();
    // Raw streams whose first two bytes pass the zlib header's check sum: one
    // names no compression method 8, the other too large a window.
    const QByteArray letters = QByteArray("abcdefghijklmnopqrstuvwxyz0123456789").left(23);
    QTest::newRow("raw deflate, first bytes a zlib check sum without method 8")
        << QByteArray("deflate") << StoredBlock(letters, true) << letters;
    const QByteArray more = QByteArray("abcdefghijklmnopqrstuvwxyz0123456789").left(28);
    QTest::newRow("raw deflate, first bytes a zlib check sum with too large a window")
        << QByteArray("deflate") << StoredBlock(more, false, 0x11) + StoredBlock("!", true) << more + "!";
    QTest::newRow("brotli, not offered") << QByteArray("br") << QByteArray("anything")
                                         << QByteArray("<error: the content coding \"br\" was not asked for>");
}

void tst_TransferRules::decoding()
{
    QFETCH(QByteArray, coding);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, expected);
    // However the body is cut into pieces.
    for (qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4096), qsizetype(1) << 20})
        QCOMPARE(Decode(coding, body, piece), expected);
}

// A piece that fills the decoder's 64 KiB of output exactly, leaving no input:
// the next call has nothing to do, which is no error.
void tst_TransferRules::decodingCutWhereTheOutputIsFull()
{
    QByteArray first(65535, 'a');
    const QByteArray second = QByteArray(1000, 'b');
    const QByteArray body = StoredBlock(first, false) + StoredBlock(second, true);
    const qsizetype cut = 5 + first.size() + 5 + 1;
    ContentDecoder decoder;
    QByteArray out;
    QVERIFY(decoder.Start("deflate", [&](const char *data, qsizetype size) {
        out.append(data, size);
        return true;
    }));
    QVERIFY2(decoder.Write(body.constData(), cut), qPrintable(decoder.errorString()));
    QCOMPARE(out.size(), qsizetype(65536));
    QVERIFY2(decoder.Write(body.constData() + cut, body.size() - cut), qPrintable(decoder.errorString()));
    QVERIFY(decoder.Finish());
    QCOMPARE(out, first + second);
}

void tst_TransferRules::decodingStopsAtTheSinksLimit()
{
    // 1 GiB of zeros in about a megabyte: the sink stops it at its limit.
    const QByteArray bomb = TestServer::gzipBomb(qint64(1) << 30);
    QVERIFY(bomb.size() < 8 * 1024 * 1024);
    QByteArray out;
    qsizetype largestPiece = 0;
    ContentDecoder decoder;
    QVERIFY(decoder.Start("gzip", [&](const char *data, qsizetype size) {
        largestPiece = std::max(largestPiece, size);
        if (out.size() + size > 1024 * 1024)
            return false;
        out.append(data, size);
        return true;
    }));
    QVERIFY(!decoder.Write(bomb.constData(), bomb.size()));
    QVERIFY(out.size() <= 1024 * 1024);
    QVERIFY(out.count('\0') == out.size());
    QVERIFY(largestPiece <= 64 * 1024);

    // Decoded to its end, a bomb is what it claims to be (its checksum is
    // not made, so only that fails at the end).
    const qint64 size = 3 * 1000 * 1000 + 7;
    const QByteArray small = TestServer::gzipBomb(size);
    qint64 total = 0;
    ContentDecoder counter;
    QVERIFY(counter.Start("gzip", [&](const char *data, qsizetype n) {
        total += n;
        return QByteArray::fromRawData(data, n).count('\0') == n;
    }));
    counter.Write(small.constData(), small.size());
    QCOMPARE(total, size);
}

void tst_TransferRules::cookiesForAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("host of the host-only cookie") << "http://127.0.0.1:8080/a/b.html"
                                                  << QByteArray("everywhere=1; host=1");
    QTest::newRow("path below /a") << "http://127.0.0.1/a/deep/x.jpg" << QByteArray("everywhere=1; host=1");
    QTest::newRow("outside /a") << "http://127.0.0.1/b.html" << QByteArray("everywhere=1");
    QTest::newRow("a domain cookie, subdomain") << "http://img.example.com/p.jpg" << QByteArray("site=1");
    QTest::newRow("a domain cookie, the domain") << "https://example.com/" << QByteArray("secret=1; site=1");
    QTest::newRow("secure cookie over http") << "http://example.com/" << QByteArray("site=1");
    QTest::newRow("another host") << "http://example.org/" << QByteArray();
    QTest::newRow("expired is gone") << "http://old.example.net/" << QByteArray();
}

void tst_TransferRules::cookiesForAddresses()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, header);

    // As the page view's store reports them.
    Session session;
    const auto add = [&](const QByteArray &name, const QString &domain, const QString &path,
                         bool secure = false, QDateTime expires = QDateTime()) {
        QNetworkCookie c(name, "1");
        c.setDomain(domain);
        c.setPath(path);
        c.setSecure(secure);
        if (expires.isValid())
            c.setExpirationDate(expires);
        session.InsertCookie(c);
    };
    add("host", QStringLiteral("127.0.0.1"), QStringLiteral("/a"));
    add("everywhere", QStringLiteral("127.0.0.1"), QStringLiteral("/"));
    add("site", QStringLiteral(".example.com"), QStringLiteral("/"));
    add("secret", QStringLiteral(".example.com"), QStringLiteral("/"), true);
    add("stale", QStringLiteral(".example.net"), QStringLiteral("/"), false,
        QDateTime::currentDateTimeUtc().addDays(-1));
    QCOMPARE(Sorted(session.CookieHeaderFor(QUrl(url))), header);
}

void tst_TransferRules::responseCookies()
{
    Session session;
    QSignalSpy handedOn(&session, &Session::CookieReceived);
    const QUrl page("http://shop.example.com/cart/list.html");
    session.TakeResponseCookies({"cart=42; Path=/cart", "lang=ja; Domain=example.com; Path=/",
                                 "evil=1; Domain=example.org; Path=/"},
                                page);
    // Another site's cookie is refused; the longer path comes first.
    QCOMPARE(session.CookieHeaderFor(QUrl("http://shop.example.com/cart/x")), QByteArray("cart=42; lang=ja"));
    QCOMPARE(session.CookieHeaderFor(QUrl("http://www.example.com/")), QByteArray("lang=ja"));
    QCOMPARE(session.CookieHeaderFor(QUrl("http://example.org/")), QByteArray());
    QCOMPARE(handedOn.size(), 2);
    // A host-only cookie goes to the browser without a domain, as it came.
    const auto first = handedOn.at(0).at(0).value<QNetworkCookie>();
    QCOMPARE(first.name(), QByteArray("cart"));
    QVERIFY(first.domain().isEmpty());
    QCOMPARE(handedOn.at(0).at(1).toUrl(), page);
    const auto second = handedOn.at(1).at(0).value<QNetworkCookie>();
    QCOMPARE(second.domain(), QStringLiteral(".example.com"));

    // Taken back by an expiry in the past.
    session.TakeResponseCookies({"cart=; Path=/cart; Max-Age=0"}, page);
    QCOMPARE(session.CookieHeaderFor(QUrl("http://shop.example.com/cart/x")), QByteArray("lang=ja"));

    // The user agent falls back to the plain one.
    session.SetUserAgent("UA/1");
    QCOMPARE(session.UserAgent(), QByteArray("UA/1"));
    session.SetUserAgent(QByteArray());
    QCOMPARE(session.UserAgent(), Session::DefaultUserAgent());
}

void tst_TransferRules::sameSiteCookies_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("header");

    const QString account = QStringLiteral("https://api.bank.co.jp/account/close?confirm=yes&x=.html");
    QTest::newRow("a request that stands for itself") << QString() << account
                                                      << QByteArray("lax=1; none=1; strict=1; unmarked=1");
    QTest::newRow("from a page of the same site") << "https://www.bank.co.jp/top.html" << account
                                                 << QByteArray("lax=1; none=1; strict=1; unmarked=1");
    // co.jp is a public suffix: evil.co.jp is another site, not a sibling.
    QTest::newRow("from another site") << "https://evil.co.jp/gallery.html" << account
                                      << QByteArray("none=1");
    QTest::newRow("from another site, over http") << "http://evil.co.jp/gallery.html"
                                                 << "http://api.bank.co.jp/x.html" << QByteArray();
    QTest::newRow("an IP address, another port") << "http://127.0.0.1:8080/p.html"
                                                << "http://127.0.0.1:9090/x.html" << QByteArray("ip=1");
    QTest::newRow("another IP address") << "http://127.0.0.2/p.html" << "http://127.0.0.1/x.html"
                                       << QByteArray();
}

void tst_TransferRules::sameSiteCookies()
{
    QFETCH(QString, site);
    QFETCH(QString, url);
    QFETCH(QByteArray, header);

    Session session;
    const auto add = [&](const QByteArray &name, QNetworkCookie::SameSite policy, bool secure,
                         const QString &domain = QStringLiteral(".bank.co.jp")) {
        QNetworkCookie c(name, "1");
        c.setDomain(domain);
        c.setPath(QStringLiteral("/"));
        c.setSecure(secure);
        c.setSameSitePolicy(policy);
        session.InsertCookie(c);
    };
    add("strict", QNetworkCookie::SameSite::Strict, false);
    add("lax", QNetworkCookie::SameSite::Lax, false);
    add("unmarked", QNetworkCookie::SameSite::Default, false);
    add("none", QNetworkCookie::SameSite::None, true);
    add("ip", QNetworkCookie::SameSite::Default, false, QStringLiteral("127.0.0.1"));
    QCOMPARE(Sorted(session.CookieHeaderFor(QUrl(url), QUrl(site))), header);
}

void tst_TransferRules::responseCookieRules_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("site");
    QTest::addColumn<QByteArray>("setCookie");
    QTest::addColumn<bool>("kept");

    const QString http = QStringLiteral("http://shop.example.com/p.html");
    const QString https = QStringLiteral("https://shop.example.com/p.html");
    QTest::newRow("plain, from http") << http << QString() << QByteArray("a=1") << true;
    QTest::newRow("Secure from http") << http << QString() << QByteArray("a=1; Secure") << false;
    QTest::newRow("Secure from https") << https << QString() << QByteArray("a=1; Secure") << true;
    QTest::newRow("None without Secure") << https << QString() << QByteArray("a=1; SameSite=None") << false;
    QTest::newRow("__Secure- without Secure") << https << QString() << QByteArray("__Secure-a=1") << false;
    QTest::newRow("__Host- with a Domain")
        << https << QString() << QByteArray("__Host-a=1; Secure; Path=/; Domain=example.com") << false;
    QTest::newRow("__Host- as it must be") << https << QString() << QByteArray("__Host-a=1; Secure; Path=/")
                                           << true;
    QTest::newRow("over 4096 bytes") << https << QString() << QByteArray("a=" + QByteArray(4096, 'x'))
                                     << false;
    QTest::newRow("from another site, unmarked")
        << https << "https://gallery.example.org/" << QByteArray("a=1") << false;
    QTest::newRow("from another site, Strict")
        << https << "https://gallery.example.org/" << QByteArray("a=1; SameSite=Strict") << false;
    QTest::newRow("from another site, None and Secure")
        << https << "https://gallery.example.org/" << QByteArray("a=1; SameSite=None; Secure") << true;
    QTest::newRow("from the same site, another host")
        << https << "https://www.example.com/" << QByteArray("a=1; SameSite=Strict") << true;
}

void tst_TransferRules::responseCookieRules()
{
    QFETCH(QString, url);
    QFETCH(QString, site);
    QFETCH(QByteArray, setCookie);
    QFETCH(bool, kept);

    Session session;
    QSignalSpy handedOn(&session, &Session::CookieReceived);
    session.TakeResponseCookies({setCookie}, QUrl(url), QUrl(site));
    QCOMPARE(session.Cookies().size(), kept ? 1 : 0);
    // The page view gets only what is kept.
    QCOMPARE(handedOn.size(), kept ? 1 : 0);
}

void tst_TransferRules::cookiesPerDomainAreBounded()
{
    Session session;
    const QUrl page("http://many.example.com/");
    QList<QByteArray> values;
    for (int i = 0; i < 200; ++i)
        values.append("c" + QByteArray::number(i) + "=1");
    session.TakeResponseCookies(values, page);
    QCOMPARE(session.Cookies().size(), 180);
    // One kept already can still be replaced or taken back.
    session.TakeResponseCookies({"c0=2", "c1=; Max-Age=0"}, page);
    QCOMPARE(session.Cookies().size(), 179);
    QVERIFY(session.CookieHeaderFor(page).contains("c0=2"));
}

QTEST_GUILESS_MAIN(tst_TransferRules)
#include "tst_transferrules.moc"
