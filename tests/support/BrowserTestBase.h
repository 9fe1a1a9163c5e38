#pragma once

#include "TestServer.h"
#include "browser/BrowserView.h"
#include "browser/frmMain.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// What the window tests share: a program folder of their own whose KIRO.ini
// names a start page on the loopback test server, recorded messages, and a
// user's pointer on the page view.
class BrowserTestBase : public QObject
{
    Q_OBJECT

protected:
    using Message = QPair<QString, QString>;

    BrowserTestBase();
    ~BrowserTestBase() override;

    // Writes KIRO.ini so that the start page is startPage, then opens the
    // browser window and waits until the start page has loaded.
    frmMain *openWindow(const QString &startPage);
    // Opens the browser window on the program files as they are.
    frmMain *showWindow();
    void closeWindow();
    // Types address into the address box, presses Enter and waits for the
    // page's completed navigation.
    bool typeAndEnter(const QString &address);
    bool waitForPage(const QString &location);

    // A pointer over the page view, as a user's mouse would move and click.
    static void pointAt(BrowserView *view, QPoint pos);
    static void clickAt(BrowserView *view, QPoint pos);
    // Points at pos and waits until the view reports the link under it.
    bool hoverLink(QPoint pos, const QString &expectedStatusStart);

    // A page whose only content is a big link covering (0,0)-(400,200).
    static QByteArray linkPage(const QString &href, const QString &target = QString());
    static constexpr QPoint LinkPoint{100, 80};
    static constexpr QPoint OffLinkPoint{600, 400};

    QString url(const QString &path) const { return m_server.baseUrl() + path; }

    TestServer m_server;
    QTemporaryDir m_appDir;
    QList<Message> m_messages;
    // Called with each message's text as it is shown.
    std::function<void(const QString &)> m_onMessage;
    std::unique_ptr<frmMain> m_window;
};
