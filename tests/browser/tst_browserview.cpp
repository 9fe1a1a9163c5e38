// The page view outliving nothing: a frame read still pending when the view,
// or the window holding it, goes away reaches neither of them.
#include "BrowserTestBase.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

namespace {

QByteArray framesetPage()
{
    return "<html><frameset cols=\"50%,50%\"><frame src=\"left.html\"><frame src=\"right.html\">"
           "</frameset></html>";
}

} // namespace

class BrowserViewTest : public BrowserTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void viewDestroyedDuringFrameRead_data();
    void viewDestroyedDuringFrameRead();
    void windowDestroyedDuringFrameRead_data();
    void windowDestroyedDuringFrameRead();
};

void BrowserViewTest::initTestCase()
{
    QVERIFY2(m_server.isListening(), qPrintable(m_server.errorString()));
    m_server.addPage("/frames.html", framesetPage());
    m_server.addPage("/left.html", "<html><body>left</body></html>");
    m_server.addPage("/right.html", "<html><body>right</body></html>");
}

void BrowserViewTest::viewDestroyedDuringFrameRead_data()
{
    QTest::addColumn<bool>("askedFor");
    QTest::newRow("a read asked for") << true;
    QTest::newRow("the read after the page loaded") << false;
}

void BrowserViewTest::viewDestroyedDuringFrameRead()
{
    QFETCH(bool, askedFor);
    auto *view = new BrowserView;
    view->resize(400, 300);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));

    bool destroying = false;
    int answers = 0;
    int eventsWhileDestroying = 0;
    connect(view, &BrowserView::NavigateComplete2, this, [&] {
        eventsWhileDestroying += destroying ? 1 : 0;
    });
    bool loaded = false;
    connect(view->page(), &QWebEnginePage::loadFinished, this, [&] {
        loaded = true;
        if (askedFor)
            return;
        // The view's own frame read has just been asked for; the view goes
        // before its answer comes.
        QTimer::singleShot(0, this, [&] {
            destroying = true;
            delete view;
            destroying = false;
        });
    });
    view->Navigate(url("/frames.html"));
    QTRY_VERIFY_WITH_TIMEOUT(loaded, 20000);

    if (askedFor) {
        view->ReadFramesAsync([&](bool, const QList<FrameInfo> &) {
            ++answers;
            eventsWhileDestroying += destroying ? 1 : 0;
        });
        destroying = true;
        delete view;
        destroying = false;
    }
    QTest::qWait(300);
    QCOMPARE(answers, 0);
    QCOMPARE(eventsWhileDestroying, 0);
}

void BrowserViewTest::windowDestroyedDuringFrameRead_data()
{
    QTest::addColumn<bool>("waiting");
    QTest::newRow("the read after the page loaded") << false;
    QTest::newRow("the getter waiting for the frames") << true;
}

// The browser window closed for good (the program ending) while a frame read
// of its view is pending.
void BrowserViewTest::windowDestroyedDuringFrameRead()
{
    QFETCH(bool, waiting);
    QVERIFY(openWindow(url("/left.html")));
    BrowserView *view = m_window->WB();
    bool destroying = false;
    int eventsWhileDestroying = 0;
    connect(view, &BrowserView::NavigateComplete2, this, [&] {
        eventsWhileDestroying += destroying ? 1 : 0;
    });
    auto closeWindow = [&] {
        destroying = true;
        m_window.reset();
        destroying = false;
    };

    if (!waiting) {
        bool loaded = false;
        connect(view->page(), &QWebEnginePage::loadFinished, this, [&] {
            loaded = true;
            QTimer::singleShot(0, this, closeWindow);
        });
        view->Navigate(url("/frames.html"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded, 20000);
        QTRY_VERIFY(!m_window);
    } else {
        QVERIFY(typeAndEnter(url("/frames.html")));
        QTimer::singleShot(0, this, closeWindow);
        // The wait ends when the view goes, not at its limit.
        int checksAfterClose = 0;
        QList<FrameInfo> frames;
        const bool ok = view->ReadFrames(&frames, [&] {
            return !m_window && ++checksAfterClose > 3;
        }, 60000);
        QVERIFY(!ok);
        QVERIFY(frames.isEmpty());
        QVERIFY2(checksAfterClose <= 1, qPrintable(QString::number(checksAfterClose)));
    }
    QTest::qWait(300);
    QCOMPARE(eventsWhileDestroying, 0);
}

QTEST_MAIN(BrowserViewTest)
#include "tst_browserview.moc"
