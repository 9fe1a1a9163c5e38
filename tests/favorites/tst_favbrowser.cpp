#include "TestServer.h"
#include "browser/BrowserView.h"
#include "browser/frmMain.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "favorites/frmFav.h"
#include "favorites/frmFavAdd.h"
#include "resources/Resources.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace kiro;

namespace {

// Runs action on the modal window named name once it is up, while the
// caller's own call (which shows it) blocks.
void WhenModalUp(const char *name, std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, name, action, tries = 0]() mutable {
        QWidget *modal = QApplication::activeModalWidget();
        const bool up = modal && modal->objectName() == QLatin1String(name);
        if (up || ++tries >= 1000) {
            timer->stop();
            timer->deleteLater();
        }
        if (up)
            action(modal);
    });
    timer->start();
}

void ShowFavorite(QWidget *favWindow, const QString &name)
{
    auto *fav = qobject_cast<frmFav *>(favWindow);
    auto *list = fav->findChild<QListWidget *>(QStringLiteral("lstFav"));
    const QList<QListWidgetItem *> found = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    list->setCurrentItem(found.first());
    fav->cmdDisp_Click();
}

} // namespace

class TestFavBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void myFavRoundTrip();

private:
    QStringList m_messages;
};

void TestFavBrowser::initTestCase()
{
    InitKiroResources();
    SetMessageHandler([this](const QString &text, const QString &title) {
        m_messages.append(title + QLatin1Char('|') + text);
    });
}

void TestFavBrowser::myFavRoundTrip()
{
    TestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.addPage("/start.html", "<html><body>start</body></html>");
    server.addPage("/fav.html", "<html><body>favorite</body></html>");
    server.addPage(QStringLiteral("/日本.html"), "<html><body>nihon</body></html>");
    const QString startUrl = server.url("/start.html").toString();
    const QString favUrl = server.url("/fav.html").toString();
    const QString japaneseUrl = server.baseUrl() + QStringLiteral("/%E6%97%A5%E6%9C%AC.html");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile ini(dir.filePath(QStringLiteral("KIRO.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[KIRO.set]\r\nFstHpAdrs=" + startUrl.toLatin1() + "\r\n");
    ini.close();
    QFile favFile(dir.filePath(QStringLiteral("Fav.fil")));
    QVERIFY(favFile.open(QIODevice::WriteOnly));
    favFile.write("\"fav\",\"fav@@" + favUrl.toLatin1() + "\"\r\n");
    favFile.close();
    OverrideProgramFolder(dir.path());

    frmMain browser;
    browser.show();
    QLineEdit *turl = browser.TURLBox();
    QTRY_COMPARE_WITH_TIMEOUT(browser.WB()->LocationURL(), startUrl, 30000);
    QTRY_COMPARE(turl->text(), startUrl);

    // "終了": no navigation.
    WhenModalUp("frmFav", [](QWidget *w) { qobject_cast<frmFav *>(w)->cmdEnd_Click(); });
    browser.TB_ButtonClick(QStringLiteral("MyFav"));
    QCOMPARE(turl->text(), startUrl);
    QCOMPARE(FavAdrs, startUrl);

    // "追加" takes the address box's text; a Japanese address is stored
    // encoded and loads the same page.
    turl->setText(server.baseUrl() + QStringLiteral("/日本.html"));
    WhenModalUp("frmFav", [](QWidget *w) {
        WhenModalUp("frmFavAdd", [](QWidget *add) {
            add->findChild<QLineEdit *>(QStringLiteral("txtFav"))->setText(QStringLiteral("日本"));
            qobject_cast<frmFavAdd *>(add)->cmdAdd_Click();
        });
        qobject_cast<frmFav *>(w)->cmdAdd_Click();
        ShowFavorite(w, QStringLiteral("日本"));
    });
    browser.TB_ButtonClick(QStringLiteral("MyFav"));
    QCOMPARE(FavAdrs, japaneseUrl);
    QTRY_COMPARE_WITH_TIMEOUT(browser.WB()->LocationURL(), japaneseUrl, 30000);
    QCOMPARE(server.requestCount(QStringLiteral("/%E6%97%A5%E6%9C%AC.html")), 1);

    // "ＵＲＬ表示" on another favorite navigates there.
    WhenModalUp("frmFav", [](QWidget *w) { ShowFavorite(w, QStringLiteral("fav")); });
    browser.TB_ButtonClick(QStringLiteral("MyFav"));
    QCOMPARE(FavAdrs, favUrl);
    QTRY_COMPARE_WITH_TIMEOUT(browser.WB()->LocationURL(), favUrl, 30000);
    QTRY_COMPARE(turl->text(), favUrl);
    QCOMPARE(server.requestCount(QStringLiteral("/fav.html")), 1);
    QCOMPARE(server.requestCount(QStringLiteral("/start.html")), 1);
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestFavBrowser)
#include "tst_favbrowser.moc"
