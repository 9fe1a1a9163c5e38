#pragma once

// A getter window stand-in for the tests of the search, transfer and download
// logic: it records what they show and holds a file list.

#include "getter/engine/DownloadNaming.h"
#include "getter/engine/GetterSink.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

class RecordingSink : public GetterSink
{
public:
    struct Item {
        QString text;
        bool ticked = false;
        bool hasResult = false;
    };

    QList<Item> items;                // lstFile
    QStringList statusLog;            // every status text, in order
    QString statusText;               // the status bar now
    QMap<Label, QString> labels;      // each label now
    QStringList fetchedNames;         // lblDLFname, in order
    QStringList kbLabels;             // lblKB, in order
    int progressMinimum = -1;
    int progressMaximum = -1;
    int progressValue = -1;
    QList<int> currentItems;
    std::function<void(const QString &)> onStatus;
    std::function<void(Label, const QString &)> onLabel;
    std::function<void(int)> onItemText;

    QString status() const { return statusText; }
    QString kb() const { return labels.value(Label::KB); }

    // The part of an item's text behind its filled address.
    QString Result(int i) const { return items.at(i).text.mid(kiro::FileItemTextWidth + 1); }
    bool Untouched(int i) const { return !items.at(i).hasResult; }

    void SetStatusText(const QString &text) override
    {
        statusText = text;
        statusLog.append(text);
        if (onStatus)
            onStatus(text);
    }
    void SetLabel(Label label, const QString &text) override
    {
        labels[label] = text;
        if (label == Label::DLFname)
            fetchedNames.append(text);
        if (label == Label::KB)
            kbLabels.append(text);
        if (onLabel)
            onLabel(label, text);
    }
    void SetProgressRange(int minimum, int maximum) override
    {
        progressMinimum = minimum;
        progressMaximum = maximum;
    }
    void SetProgressValue(int value) override { progressValue = value; }
    int FileItemCount() const override { return int(items.size()); }
    bool IsFileItemTicked(int i) const override { return items.at(i).ticked; }
    QString FileItemText(int i) const override { return items.at(i).text; }
    void SetFileItemText(int i, const QString &text) override
    {
        items[i].text = text;
        items[i].hasResult = true;
        if (onItemText)
            onItemText(i);
    }
    void SetCurrentFileItem(int i) override { currentItems.append(i); }
};
