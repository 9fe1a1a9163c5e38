#include "BrowserTestBase.h"

#include "core/Shared.h"
#include "resources/Resources.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QWebEnginePage>

// Pop-up windows and completed navigations of frames in the browser window:
// driven through the page view as a user's pointer would.
class PopupsTest : public BrowserTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void popupOpenedByThePageIsDropped();
    void popupOfAnotherLinkIsDropped();
    void clickedPopupLinkOpensInTheView_data();
    void clickedPopupLinkOpensInTheView();
    void toolbarClickDropsThePopup();
    void addressBoxAfterFrames_data();
    void addressBoxAfterFrames();
    void frameNavigatingLater();
    void readFrames();

private:
    int visibleTopLevelWindows() const;
    void verifyNothingOpened(const QString &shownPage);

    int m_windowsBefore = 0;
    QString m_pageBefore;
};

void PopupsTest::initTestCase()
{
    InitKiroResources();
    QVERIFY2(m_server.isListening(), qPrintable(m_server.errorString()));
    QVERIFY(m_appDir.isValid());
    m_server.addPage("/start.html", "<html><body>start</body></html>");
    m_server.addPage("/target.html", "<html><body>target</body></html>");
    m_server.addPage("/ad.html", "<html><body>advertisement</body></html>");
    m_server.addPage("/auto.html",
                     "<html><body>opens a window<script>window.open('/ad.html');</script>"
                     "</body></html>");
    m_server.addPage("/日本語のページ.html",
                     "<html><head><meta charset=\"utf-8\"></head><body>日本語</body></html>");
    m_server.addPage("/a%26b.html", "<html><body>a and b</body></html>");
    // A jump script that would send the browser on: it must never be asked.
    m_server.addRouteAnyQuery("/jump.cgi", TestResponse::redirect("/ad.html"));

    m_server.addPage("/fs/index.html",
                     "<html><frameset cols=\"50%,50%\"><frame src=\"left.html\">"
                     "<frame src=\"right.html\"></frameset></html>");
    m_server.addPage("/fs/left.html", "<html><body>left</body></html>");
    m_server.addPage("/fs/right.html", "<html><body>right</body></html>");
    m_server.addPage("/one/index.html",
                     "<html><body><iframe src=\"frame.html\"></iframe></body></html>");
    m_server.addPage("/one/frame.html", "<html><body>frame</body></html>");
    m_server.addPage("/one/next.html", "<html><body>next</body></html>");
    m_server.addPage("/other/index.html",
                     "<html><body><iframe src=\"/one/frame.html\"></iframe></body></html>");
    m_server.addPage("/plain.html", "<html><body>no frames</body></html>");
}

void PopupsTest::init()
{
    QVERIFY(openWindow(url("/start.html")));
    m_windowsBefore = visibleTopLevelWindows();
}

void PopupsTest::cleanup()
{
    closeWindow();
}

int PopupsTest::visibleTopLevelWindows() const
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += widget->isVisible() ? 1 : 0;
    return count;
}

void PopupsTest::verifyNothingOpened(const QString &shownPage)
{
    QCOMPARE(m_window->WB()->LocationURL(), shownPage);
    QCOMPARE(m_window->WB2()->LocationURL(), QString());
    QVERIFY(!m_window->WB2()->isVisible());
    QCOMPARE(visibleTopLevelWindows(), m_windowsBefore);
    QCOMPARE(m_server.requestCount("/ad.html"), 0);
}

void PopupsTest::popupOpenedByThePageIsDropped()
{
    QSignalSpy newWindow(m_window->WB(), &BrowserView::NewWindow2);
    QSignalSpy caught(m_window->WB2(), &BrowserView::BeforeNavigate2);
    QVERIFY(typeAndEnter(url("/auto.html")));
    QTRY_COMPARE(newWindow.size(), 1);
    QCOMPARE(caught.size(), 1);
    QCOMPARE(caught.at(0).at(1).toString(), url("/ad.html"));
    QCOMPARE(m_window->PopupPending(), -1);
    verifyNothingOpened(url("/auto.html"));
    QCOMPARE(m_window->TURLBox()->text(), url("/auto.html"));
}

void PopupsTest::popupOfAnotherLinkIsDropped()
{
    m_server.addPage("/links.html", linkPage(url("/target.html")));
    QVERIFY(typeAndEnter(url("/links.html")));
    QVERIFY(hoverLink(LinkPoint, url("/target.html")));
    QCOMPARE(m_window->PendingURL(), url("/target.html"));

    // The page opens a window of its own while the pointer was last over a link.
    QSignalSpy caught(m_window->WB2(), &BrowserView::BeforeNavigate2);
    m_window->WB()->page()->runJavaScript(QStringLiteral("window.open('/ad.html')"));
    QTRY_COMPARE(caught.size(), 1);
    QCOMPARE(m_window->PopupPending(), -1);
    verifyNothingOpened(url("/links.html"));
}

void PopupsTest::clickedPopupLinkOpensInTheView_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("opened");

    QTest::newRow("target _blank") << "BASE/target.html" << "/target.html";
    QTest::newRow("jump link") << "BASE/jump.cgi?url=BASE/target.html" << "/target.html";
    QTest::newRow("jump link, encoded target")
            << "BASE/jump.cgi?url=ENCBASE%2Ftarget.html" << "/target.html";
    QTest::newRow("Japanese name") << "BASE/日本語のページ.html"
                                   << "/%E6%97%A5%E6%9C%AC%E8%AA%9E%E3%81%AE%E3%83%9A%E3%83%BC%E3%82%B8.html";
    QTest::newRow("Japanese name, escaped in the page")
            << "BASE/%E6%97%A5%E6%9C%AC%E8%AA%9E%E3%81%AE%E3%83%9A%E3%83%BC%E3%82%B8.html"
            << "/%E6%97%A5%E6%9C%AC%E8%AA%9E%E3%81%AE%E3%83%9A%E3%83%BC%E3%82%B8.html";
    QTest::newRow("escaped ampersand keeps its meaning") << "BASE/a%26b.html" << "/a%26b.html";
}

void PopupsTest::clickedPopupLinkOpensInTheView()
{
    QFETCH(QString, href);
    QFETCH(QString, opened);
    const QString encodedBase = QString::fromLatin1(QUrl::toPercentEncoding(m_server.baseUrl()));
    href.replace("ENCBASE", encodedBase).replace("BASE", m_server.baseUrl());

    m_server.addPage("/popup-link.html", linkPage(href, QStringLiteral("_blank")));
    QVERIFY(typeAndEnter(url("/popup-link.html")));
    QVERIFY(hoverLink(LinkPoint, m_server.baseUrl()));

    const int before = m_server.requestCount(opened);
    QSignalSpy newWindow(m_window->WB(), &BrowserView::NewWindow2);
    QSignalSpy caught(m_window->WB2(), &BrowserView::BeforeNavigate2);
    clickAt(m_window->WB(), LinkPoint);
    QVERIFY(waitForPage(url(opened)));
    QCOMPARE(newWindow.size(), 1);
    QCOMPARE(caught.size(), 1);
    QCOMPARE(m_window->PopupPending(), 0);
    QTRY_COMPARE(m_window->TURLBox()->text(), url(opened));
    QCOMPARE(m_server.requestCount(opened), before + 1);
    for (const TestRequest &request : m_server.requestLog())
        QVERIFY2(!request.target.startsWith("/jump.cgi"), qPrintable(request.target));
    QCOMPARE(m_window->WB2()->LocationURL(), QString());
    QCOMPARE(visibleTopLevelWindows(), m_windowsBefore);
}

void PopupsTest::toolbarClickDropsThePopup()
{
    m_server.addPage("/popup-link.html", linkPage(url("/target.html"), QStringLiteral("_blank")));
    QVERIFY(typeAndEnter(url("/popup-link.html")));
    QVERIFY(hoverLink(LinkPoint, url("/target.html")));
    QCOMPARE(m_window->PendingURL(), url("/target.html"));

    auto *tb = m_window->findChild<QToolBar *>("TB");
    QWidget *stopButton = tb->widgetForAction(m_window->Button("Cancel"));
    QVERIFY(stopButton);
    QTest::mouseClick(stopButton, Qt::LeftButton);
    QCOMPARE(m_window->PendingURL(), QString());

    // The pop-up the link asked for arrives only now.
    const int before = m_server.requestCount("/target.html");
    QSignalSpy caught(m_window->WB2(), &BrowserView::BeforeNavigate2);
    m_window->WB()->page()->runJavaScript(
            QStringLiteral("document.getElementById('link').click()"));
    QTRY_COMPARE(caught.size(), 1);
    QCOMPARE(m_window->PopupPending(), -1);
    QCOMPARE(m_window->WB()->LocationURL(), url("/popup-link.html"));
    QCOMPARE(m_window->WB2()->LocationURL(), QString());
    QCOMPARE(m_server.requestCount("/target.html"), before);
}

void PopupsTest::addressBoxAfterFrames_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("shown");

    QTest::newRow("frameset of two frames keeps its address")
            << "/fs/index.html" << 2 << "/fs/index.html";
    QTest::newRow("one frame in the page's folder shows the frame")
            << "/one/index.html" << 1 << "/one/frame.html";
    QTest::newRow("one frame in another folder keeps the page")
            << "/other/index.html" << 1 << "/other/index.html";
    QTest::newRow("no frames") << "/plain.html" << 0 << "/plain.html";
}

void PopupsTest::addressBoxAfterFrames()
{
    QFETCH(QString, page);
    QFETCH(int, frames);
    QFETCH(QString, shown);

    QSignalSpy completed(m_window->WB(), &BrowserView::NavigateComplete2);
    m_window->TURLBox()->setText(url(page));
    m_window->TURL_KeyPress(13);
    QTRY_COMPARE(completed.size(), 1 + frames);
    // The page comes first, then its frames.
    QCOMPARE(completed.at(0).at(1).toString(), url(page));
    for (int i = 1; i <= frames; ++i)
        QVERIFY(completed.at(i).at(1).toString() != url(page));
    QCOMPARE(m_window->WB()->KnownFrameCount(), frames);
    QCOMPARE(m_window->TURLBox()->text(), url(shown));
    QCOMPARE(m_window->WB()->LocationURL(), url(page));
}

void PopupsTest::frameNavigatingLater()
{
    QSignalSpy completed(m_window->WB(), &BrowserView::NavigateComplete2);
    m_window->TURLBox()->setText(url("/one/index.html"));
    m_window->TURL_KeyPress(13);
    QTRY_COMPARE(completed.size(), 2);
    QCOMPARE(m_window->TURLBox()->text(), url("/one/frame.html"));

    m_window->WB()->page()->runJavaScript(
            QStringLiteral("window.frames[0].location.href = 'next.html'"));
    QTRY_COMPARE(m_window->TURLBox()->text(), url("/one/next.html"));
    QCOMPARE(m_window->WB()->LocationURL(), url("/one/index.html"));
}

void PopupsTest::readFrames()
{
    TestServer otherSite;
    QVERIFY(otherSite.isListening());
    otherSite.addPage("/foreign.html", "<html><body>elsewhere</body></html>");
    m_server.addPage("/mixed.html",
                     QStringLiteral("<html><body><iframe src=\"/fs/left.html\"></iframe>"
                                    "<iframe src=\"%1/foreign.html\"></iframe></body></html>")
                             .arg(otherSite.baseUrl()).toUtf8());

    BrowserView *view = m_window->WB();
    QList<FrameInfo> frames;
    QVERIFY(view->ReadFrames(&frames));
    QCOMPARE(frames.size(), 0);

    QSignalSpy completed(view, &BrowserView::NavigateComplete2);
    m_window->TURLBox()->setText(url("/mixed.html"));
    m_window->TURL_KeyPress(13);
    QTRY_COMPARE(completed.size(), 3);
    QVERIFY(view->ReadFrames(&frames));
    QCOMPARE(frames.size(), 2);
    QVERIFY(frames.at(0).readable);
    QCOMPARE(frames.at(0).location, url("/fs/left.html"));
    QVERIFY(!frames.at(1).readable);
    QCOMPARE(frames.at(1).location, QString());
    QCOMPARE(m_window->TURLBox()->text(), url("/mixed.html"));

    // A caller that gives up gets no list.
    frames.clear();
    kiro::AbortFlag = 1;
    QVERIFY(!view->ReadFrames(&frames, [] { return kiro::AbortFlag == 1; }));
    QVERIFY(frames.isEmpty());
    kiro::AbortFlag = 0;
}

QTEST_MAIN(PopupsTest)
#include "tst_popups.moc"
