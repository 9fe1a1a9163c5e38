#include "BrowserTestBase.h"

#include "core/JapaneseTexts.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>

BrowserTestBase::BrowserTestBase()
{
    // As the program does, before the first page view.
    kiro::InstallJapaneseTexts();
    kiro::OverrideProgramFolder(m_appDir.path());
    kiro::SetMessageHandler([this](const QString &text, const QString &title) {
        m_messages.append({text, title});
        if (m_onMessage)
            m_onMessage(text);
    });
}

BrowserTestBase::~BrowserTestBase()
{
    kiro::SetMessageHandler({});
}

frmMain *BrowserTestBase::openWindow(const QString &startPage)
{
    QFile ini(m_appDir.filePath(QStringLiteral("KIRO.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return nullptr;
    // The built-in home page lies outside this machine: both pages are set.
    ini.write("[KIRO.set]\r\nStdHpAdrs=" + startPage.toLatin1() + "\r\nFstHpAdrs="
              + startPage.toLatin1() + "\r\n");
    ini.close();
    return showWindow();
}

frmMain *BrowserTestBase::showWindow()
{
    m_window = std::make_unique<frmMain>();
    QSignalSpy completed(m_window->WB(), &BrowserView::NavigateComplete2);
    QSignalSpy loaded(m_window->WB()->page(), &QWebEnginePage::loadFinished);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return nullptr;
    if (!QTest::qWaitFor([&] { return !completed.isEmpty() && !loaded.isEmpty(); }, 20000))
        return nullptr;
    return m_window.get();
}

void BrowserTestBase::closeWindow()
{
    m_window.reset();
    m_messages.clear();
}

bool BrowserTestBase::typeAndEnter(const QString &address)
{
    QLineEdit *box = m_window->TURLBox();
    box->clear();
    QTest::keyClicks(box, address);
    QSignalSpy completed(m_window->WB(), &BrowserView::NavigateComplete2);
    QSignalSpy loaded(m_window->WB()->page(), &QWebEnginePage::loadFinished);
    QTest::keyClick(box, Qt::Key_Return);
    // Done when the page has completed its navigation and finished loading,
    // so that its links are laid out under the pointer.
    return QTest::qWaitFor([&] { return !completed.isEmpty() && !loaded.isEmpty(); }, 20000);
}

bool BrowserTestBase::waitForPage(const QString &location)
{
    return QTest::qWaitFor([&] { return m_window->WB()->LocationURL() == location; }, 20000);
}

namespace {

void postMouse(QWidget *surface, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QCoreApplication::postEvent(surface, new QMouseEvent(type, QPointF(pos),
                                                         QPointF(surface->mapToGlobal(pos)),
                                                         button, buttons, Qt::NoModifier));
}

QWidget *surfaceOf(BrowserView *view)
{
    return view->focusProxy() ? view->focusProxy() : view;
}

} // namespace

void BrowserTestBase::pointAt(BrowserView *view, QPoint pos)
{
    postMouse(surfaceOf(view), QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
}

void BrowserTestBase::clickAt(BrowserView *view, QPoint pos)
{
    QWidget *surface = surfaceOf(view);
    postMouse(surface, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    postMouse(surface, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

bool BrowserTestBase::hoverLink(QPoint pos, const QString &expectedStatusStart)
{
    BrowserView *view = m_window->WB();
    // Hovering is reported on a change only: come from outside the link.
    pointAt(view, OffLinkPoint);
    if (!QTest::qWaitFor([&] { return m_window->StatusText().isEmpty(); }, 10000))
        return false;
    pointAt(view, pos);
    return QTest::qWaitFor([&] {
        return m_window->StatusText().startsWith(expectedStatusStart);
    }, 10000);
}

QByteArray BrowserTestBase::linkPage(const QString &href, const QString &target)
{
    QString html = QStringLiteral(
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
            "<body style=\"margin:0\"><a id=\"link\" href=\"%1\"%2 style=\"display:block;"
            "position:absolute;left:0;top:0;width:400px;height:200px;background:#ddd\">"
            "リンク</a></body></html>")
            .arg(href, target.isEmpty() ? QString() : QStringLiteral(" target=\"%1\"").arg(target));
    return html.toUtf8();
}
