// The command line: which argument becomes the start-up's address, and which
// are left to Qt and the page engine or ignored.
#include "core/CommandLine.h"
#include "core/Shared.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cstdio>

#include <unistd.h>

using namespace kiro;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readCommandLine_data();
    void readCommandLine();
    void ignoredArgumentsNamed();
    void startUpAddress();

private:
    QString fileUrl(const QString &name) const
    {
        return QUrl::fromLocalFile(m_dir.filePath(name)).toString(QUrl::FullyEncoded);
    }

    QTemporaryDir m_dir;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char *name : {"page.html", "日本 語#1.html", "-odd.html"}) {
        QFile file(m_dir.filePath(QString::fromUtf8(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("dir")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("http:/host")));
}

void TestCommandLine::readCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("extra");

    const QStringList none;
    const QString a = QStringLiteral("http://127.0.0.1:8080/a.html");

    QTest::newRow("nothing") << none << QString() << none << none;
    QTest::newRow("http") << QStringList{a} << a << none << none;
    QTest::newRow("https, scheme and host in capitals")
            << QStringList{"HTTPS://Example.COM/Dir/x"} << "https://example.com/Dir/x" << none << none;
    QTest::newRow("host and path without a scheme")
            << QStringList{"127.0.0.1:8080/a.html"} << a << none << none;
    QTest::newRow("Japanese path and query encoded")
            << QStringList{"http://host/日本.html?q=あ#top"}
            << "http://host/%E6%97%A5%E6%9C%AC.html?q=%E3%81%82#top" << none << none;
    QTest::newRow("blanks around an address") << QStringList{"  " + a + " "} << a << none << none;

    QTest::newRow("relative file") << QStringList{"page.html"} << fileUrl("page.html") << none << none;
    QTest::newRow("absolute file with blank and #")
            << QStringList{m_dir.filePath("日本 語#1.html")} << fileUrl("日本 語#1.html") << none << none;
    QTest::newRow("folder") << QStringList{"dir"} << fileUrl("dir") << none << none;
    // A local file whose path reads as an address does not hide the address.
    QTest::newRow("address that is also a path") << QStringList{"http://host"} << "http://host" << none << none;
    QTest::newRow("file address") << QStringList{"file:///etc/hosts"} << "file:///etc/hosts" << none << none;
    QTest::newRow("missing relative path") << QStringList{"./missing.html"} << QString()
                                           << QStringList{"./missing.html"} << none;

    QTest::newRow("empty arguments skipped") << QStringList{"", "  ", a} << a << none << none;
    QTest::newRow("script refused, next address taken")
            << QStringList{"javascript:alert(1)", a} << a << QStringList{"javascript:alert(1)"} << none;
    QTest::newRow("other schemes refused")
            << QStringList{"data:text/html,<b>x</b>", "ftp://host/f", "about:blank", "mailto:a@b"}
            << QString() << QStringList{"data:text/html,<b>x</b>", "ftp://host/f", "about:blank", "mailto:a@b"}
            << none;
    QTest::newRow("web address without host") << QStringList{"http://", "http:///a"} << QString()
                                              << QStringList{"http://", "http:///a"} << none;
    QTest::newRow("control characters refused")
            << QStringList{a + "\nhttp://evil/", a} << a << QStringList{a + "\nhttp://evil/"} << none;
    QTest::newRow("only the first address opens")
            << QStringList{a, "http://b/", "page.html"} << a << none << QStringList{"http://b/", "page.html"};

    QTest::newRow("Qt options and their values left alone")
            << QStringList{"-style", "fusion", "-reverse", "-display", ":0", "--platform", "offscreen",
                           "-qwindowtitle", "t", "-session", "abc", "-name", "n", a}
            << a << none << none;
    // Each of Qt's options that takes a value: the value is no address.
    for (const char *option : {"platform", "platformpluginpath", "platformtheme", "plugin",
                               "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                               "stylesheet", "session", "display", "geometry", "name", "title",
                               "visual", "ncols"}) {
        QTest::addRow("-%s and its value", option)
                << QStringList{QLatin1Char('-') + QLatin1String(option), "http://value/", a} << a << none << none;
    }
    QTest::newRow("options with = keep the next argument")
            << QStringList{"--style=fusion", "-qmljsdebugger=port:1", a} << a << none << none;
    QTest::newRow("an option with = before the address")
            << QStringList{"-stylesheet=x.qss", a} << a << none << none;
    QTest::newRow("unknown options skipped") << QStringList{"-x", "--no-sandbox", a} << a << none << none;
    QTest::newRow("a lone - is no option") << QStringList{"-", a} << a << QStringList{"-"} << none;
    QTest::newRow("-- ends the options")
            << QStringList{"-reverse", "--", "-odd.html"} << fileUrl("-odd.html") << none << none;
    QTest::newRow("page engine's arguments")
            << QStringList{"--webEngineArgs", "--remote-debugging-port=9222", a} << QString() << none << none;
}

void TestCommandLine::readCommandLine()
{
    QFETCH(QStringList, arguments);
    const CommandLineRequest request = ReadCommandLine(arguments, m_dir.path());
    QTEST(request.address, "address");
    QTEST(request.refused, "refused");
    QTEST(request.extra, "extra");
}

// What the user is told on the standard error output about the arguments
// KIRO ignores, and the address it keeps.
void TestCommandLine::ignoredArgumentsNamed()
{
    QTemporaryDir dir;
    QFile capture(dir.filePath("stderr"));
    QVERIFY(capture.open(QIODevice::ReadWrite));
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    QVERIFY(::dup2(capture.handle(), STDERR_FILENO) >= 0);
    UseCommandLine({"javascript:x", "http://a/", "http://b/"});
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);

    capture.seek(0);
    QCOMPARE(QString::fromLocal8Bit(capture.readAll()),
             QStringLiteral("KIRO: 「javascript:x」は開けるアドレスではないため、無視しました。\n"
                            "KIRO: 開くアドレスは一つだけです。「http://b/」は無視しました。\n"));
    QCOMPARE(StartUpAddress(), QStringLiteral("http://a/"));
    SetCommandLineAddress(QString());
}

void TestCommandLine::startUpAddress()
{
    FstHpAdrs = QStringLiteral("http://start/");
    SetCommandLineAddress(QString());
    QCOMPARE(StartUpAddress(), FstHpAdrs);
    SetCommandLineAddress(QStringLiteral("http://given/"));
    QCOMPARE(StartUpAddress(), QStringLiteral("http://given/"));
    // The start page itself is unchanged ("FstHP" still goes there).
    QCOMPARE(FstHpAdrs, QStringLiteral("http://start/"));
    SetCommandLineAddress(QString());
}

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
