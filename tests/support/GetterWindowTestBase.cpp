#include "GetterWindowTestBase.h"

#include "browser/BrowserView.h"
#include "core/Settings.h"
#include "getter/engine/Inet.h"
#include "getter/engine/TransferQueue.h"
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
    m_server.addPage("/start.html", "<html><body>start</body></html>");
    return writeProgramFiles();
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
    QSignalSpy loaded(m_window->WB()->page(), &QWebEnginePage::loadFinished);
    m_window->TURLBox()->setText(target);
    m_window->TURL_KeyPress(13);
    return QTest::qWaitFor([&] {
        return !loaded.isEmpty() && m_window->WB()->LocationURL() == target;
    }, 20000);
}

frmLoad *GetterWindowTestBase::clickFget()
{
    m_window->TB_ButtonClick(QStringLiteral("Fget"));
    frmLoad *w = frmLoad::Current();
    if (!w || !QTest::qWaitForWindowExposed(w))
        return nullptr;
    // Failures that may pass are tried again; here without a long wait.
    if (auto *transfer = w->findChild<TransferQueue *>())
        transfer->setRetryWait(20);
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
