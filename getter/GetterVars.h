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

// Where the running request's body goes.
enum class TransferMode {
    None = 0,
    PageText = 1,      // HtmlText
    SubPageText = 2,   // SubHtmlText
    File = 3,          // the file at SavePath
};

// The getter window's variables that its search, transfer and download share.
// They live as long as the window; one request runs at a time, so each has a
// single writer at any moment.
struct GetterVars {
    // Transfers
    ::TransferMode TransferMode = ::TransferMode::None;
    int TransferDone = 0;        // 1 once the running request is over
    QString HtmlText;            // text of the page (mode 1)
    QString SubHtmlText;         // text of a sub-page (mode 2)
    QString SavePath;            // file written in mode 3
    qint64 ReceivedBytes = 0;    // bytes written so far in mode 3

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
