#pragma once

#include "core/Shared.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// What a search or a download goes by, taken as a value when it starts: the
// settings dialog saved meanwhile changes nothing of the run in progress.
struct GetterOptions {
    qint64 grhkb = 1;
    int chkSubURL = 0;
    int chkFileName = 0;
    int chkPageView = 0;
    int FilesAtOnce = 4;
    QString FstDir;
    QStringList ExtNames;   // element 0 is "" and not part of the list
    QList<int> ExtChecks;

    // The shared values as they are now.
    static GetterOptions Current()
    {
        return {kiro::grhkb, kiro::chkSubURL, kiro::chkFileName, kiro::chkPageView,
                kiro::FilesAtOnce, kiro::FstDir, kiro::ExtNames, kiro::ExtChecks};
    }
};

// The getter window's variables that its search, transfer and download share.
// They live as long as the window.
struct GetterVars {
    // The texts under analysis
    QString HtmlText;            // of the page searched
    QString SubHtmlText;         // of a page it links to

    // Search
    QString BaseURL;             // the searched page, taken when a search starts
    QRegularExpression LinkRegExp;
    QStringList PageLinks;
    qsizetype PageLinkCount = 0;
    QStringList CandidateFiles;
    qsizetype CandidateCount = 0;
    QStringList FoundFiles;
    qsizetype FoundCount = 0;
};
