#pragma once

#include "TestServer.h"
#include "browser/frmMain.h"
#include "getter/frmLoad.h"

#include <QByteArray>
#include <QList>
#include <QListWidget>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// What the getter window tests share: a program folder of their own with a
// download folder, KIRO.ini naming a start page on the loopback server and
// Extsn.fil with the test's extensions, recorded messages, and the browser
// window the getter is opened from.
class GetterWindowTestBase : public QObject
{
    Q_OBJECT

protected:
    using Message = QPair<QString, QString>;

    GetterWindowTestBase(QByteArray extsnContent, int grhkb);
    ~GetterWindowTestBase() override;

    // The steps before the browser opens: resources, the program and
    // download folders, message recording and the start page.
    bool prepare();
    bool writeProgramFiles();
    // Shows the browser window and waits for its start page.
    bool openBrowser();
    // Each case starts from the saved settings and an empty download folder.
    bool startCase();
    bool emptyDownloadFolder();
    // Unloads the getter window, if one is open, and waits until it is gone.
    bool closeGetter();
    // The address typed into the address box and Enter; true once the
    // whole page, frames included, has loaded.
    bool showPage(const QString &path);
    // "Fget" on the browser window; the getter retries without a long wait.
    frmLoad *clickFget();
    void recordMessages();

    QString url(const QString &path) const { return m_server.baseUrl() + path; }

    TestServer m_server;
    QTemporaryDir m_appDir;
    QString m_dlDir;
    QList<Message> m_messages;
    // Called with each message's text as it is shown.
    std::function<void(const QString &)> m_onMessage;
    std::unique_ptr<frmMain> m_browser;

private:
    QByteArray m_extsnContent;
    int m_grhkb;
};

template <typename T>
T *control(QWidget *w, const char *name)
{
    return w->findChild<T *>(QLatin1String(name));
}

// The getter's enabled controls, its timer included when it runs, in a
// fixed order.
QString enabledControls(frmLoad *w);

QStringList itemTexts(QListWidget *list);
