#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// The getter window's variables that its search, transfer and download share.
// They live as long as the window; one request runs at a time, so each has a
// single writer at any moment.
struct GetterVars {
    // Transfers
    int TransferMode = 0;        // 1 page text, 2 sub-page text, 3 file at SavePath
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
