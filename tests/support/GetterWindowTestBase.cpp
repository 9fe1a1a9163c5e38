#include "GetterWindowTestBase.h"

#include "browser/BrowserView.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "getter/Inet.h"
#include "getter/TransferControl.h"
#include "resources/Resources.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

GetterWindowTestBase::GetterWindowTestBase(QByteArray extsnContent, int grhkb)
    : m_extsnContent(std::move(extsnContent)), m_grhkb(grhkb)
{
}

GetterWindowTestBase::~GetterWindowTestBase()
{
    kiro::SetMessageHandler({});
}

bool GetterWindowTestBase::prepare()
{
    InitKiroResources();
    if (!m_server.isListening()) {
        qWarning("%s", qPrintable(m_server.errorString()));
        return false;
    }
    if (!m_appDir.isValid())
        return false;
    m_dlDir = m_appDir.filePath(QStringLiteral("dl"));
    if (!QDir().mkpath(m_dlDir))
        return false;
    recordMessages();
    kiro::OverrideProgramFolder(m_appDir.path());
    m_server.addPage("/start.html", "<html><body>start</body></html>");
    return writeProgramFiles();
}

void GetterWindowTestBase::recordMessages()
{
    kiro::SetMessageHandler([this](const QString &text, const QString &title) {
        m_messages.append({text, title});
        if (m_onMessage)
            m_onMessage(text);
    });
}

bool GetterWindowTestBase::writeProgramFiles()
{
    QFile ini(m_appDir.filePath(QStringLiteral("KIRO.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // The built-in home page lies outside this machine: both pages are set.
    const QByteArray start = url("/start.html").toLatin1();
    ini.write("[KIRO.set]\r\nStdHpAdrs=" + start + "\r\nFstHpAdrs=" + start + "\r\nFstDir="
              + m_dlDir.toLocal8Bit() + "\r\ngrhkb=" + QByteArray::number(m_grhkb)
              + "\r\nchkSubURL=0\r\nchkFileName=0\r\n");
    if (!ini.flush())
        return false;
    ini.close();

    QFile extsn(m_appDir.filePath(QStringLiteral("Extsn.fil")));
    return extsn.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && extsn.write(m_extsnContent) == m_extsnContent.size();
}

bool GetterWindowTestBase::openBrowser()
{
    m_browser = std::make_unique<frmMain>();
    QSignalSpy completed(m_browser->WB(), &BrowserView::NavigateComplete2);
    m_browser->show();
    if (!QTest::qWaitForWindowExposed(m_browser.get()))
        return false;
    return !completed.isEmpty() || completed.wait(20000);
}

bool GetterWindowTestBase::startCase()
{
    if (!writeProgramFiles())
        return false;
    kiro::LoadSettings();
    kiro::LoadExtensionList();
    m_messages.clear();
    m_onMessage = nullptr;
    return emptyDownloadFolder();
}

bool GetterWindowTestBase::emptyDownloadFolder()
{
    QDir(m_dlDir).removeRecursively();
    return QDir().mkpath(m_dlDir);
}

bool GetterWindowTestBase::closeGetter()
{
    QPointer<frmLoad> w = frmLoad::Current();
    if (!w)
        return true;
    w->Unload();
    return QTest::qWaitFor([&] { return w.isNull(); });
}

bool GetterWindowTestBase::showPage(const QString &path)
{
    const QString target = url(path);
    // The same address twice loads it again.
    QSignalSpy loaded(m_browser->WB()->page(), &QWebEnginePage::loadFinished);
    m_browser->TURLBox()->setText(target);
    m_browser->TURL_KeyPress(13);
    return QTest::qWaitFor([&] {
        return !loaded.isEmpty() && m_browser->WB()->LocationURL() == target;
    }, 20000);
}

frmLoad *GetterWindowTestBase::clickFget()
{
    m_browser->TB_ButtonClick(QStringLiteral("Fget"));
    frmLoad *w = frmLoad::Current();
    if (!w || !QTest::qWaitForWindowExposed(w))
        return nullptr;
    // Failures that may pass are tried again; here without a long wait.
    if (auto *transfer = w->findChild<TransferControl *>())
        transfer->inet().setRetryWait(20);
    return w;
}

QString enabledControls(frmLoad *w)
{
    QStringList on;
    for (const char *key : {"Exit", "Serch", "DownLoad", "Stop"}) {
        if (w->Button(QLatin1String(key))->isEnabled())
            on << QLatin1String(key);
    }
    for (const char *name : {"lstFile", "cmdAllChk", "lstExtsn", "ChkSubURL", "ChkFileName", "ChkPageView",
                             "cmdRefresh", "txtgrhkb"}) {
        if (w->findChild<QWidget *>(QLatin1String(name))->isEnabled())
            on << QLatin1String(name);
    }
    if (w->findChild<QTimer *>(QStringLiteral("Timer"))->isActive())
        on << QStringLiteral("Timer");
    return on.join(QLatin1Char(' '));
}

QStringList itemTexts(QListWidget *list)
{
    QStringList texts;
    texts.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}
