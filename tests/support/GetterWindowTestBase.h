#pragma once

#include "BrowserTestBase.h"
#include "getter/frmLoad.h"

#include <QByteArray>
#include <QListWidget>
#include <QString>
#include <QStringList>

// What the getter window tests add: a download folder, KIRO.ini pointing it
// and the start page at the loopback server, Extsn.fil with the test's
// extensions, and the getter opened from the browser window.
class GetterWindowTestBase : public BrowserTestBase
{
    Q_OBJECT

protected:
    GetterWindowTestBase(QByteArray extsnContent, int grhkb);

    // The steps before the browser opens: resources, the download folder,
    // the start page and the program files.
    bool prepare();
    bool writeProgramFiles();
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

    QString m_dlDir;

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
