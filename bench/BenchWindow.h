#pragma once
// The browser window shown on its start page, and the getter opened from it
// on an address as the user does it: typed in the address box, then "Fget".

#include "browser/BrowserView.h"
#include "browser/frmMain.h"
#include "getter/frmLoad.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

namespace bench {

// The getter, or nullptr (with the reason on stderr) when the start page did
// not load within 30 s or the getter did not open.
inline frmLoad *OpenGetter(frmMain &browser, const QString &startPage, const QString &address)
{
    {
        QEventLoop loop;
        QObject::connect(browser.WB(), &BrowserView::NavigateComplete2, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        browser.show();
        loop.exec();
    }
    if (browser.WB()->LocationURL() != startPage) {
        std::fprintf(stderr, "the start page did not load\n");
        return nullptr;
    }
    browser.TURLBox()->setText(address);
    browser.TB_ButtonClick(QStringLiteral("Fget"));
    frmLoad *getter = frmLoad::Current();
    if (!getter)
        std::fprintf(stderr, "the getter did not open\n");
    return getter;
}

} // namespace bench
