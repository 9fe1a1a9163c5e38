#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <functional>

// A downloaded file is written under a temporary name beside its target and
// takes the target's name only once it is complete, so a crash never leaves
// a truncated file under the real name, and no file already there is ever
// replaced. Both the getter's downloads and the page view's go through it. Unlike QSaveFile it does not force
// each file to disk: that cost is per file and dominated many small downloads.
// Pieces are gathered in memory up to 256 KiB; the temporary file is made
// only when they are first written out, so a small file touches the file
// system once, at commit().
class PartFile
{
public:
    explicit PartFile(const QString &target);
    ~PartFile();

    // Checks that the target is free; nothing is made on disk yet.
    bool open();
    // Makes the temporary file at once, for a writer outside (the page
    // engine) to fill through partPath(); the target may still be taken.
    bool reserve();
    // The temporary file, once made; empty before.
    QString partPath() const;
    qint64 write(const char *data, qint64 size);
    // Throws away what was written, to write the body anew from its start.
    bool restart();
    qint64 size() const;
    // Renames the complete file to the target; false when that fails.
    bool commit();
    // The same under the name nextTarget() gives, asked again, up to `tries`
    // times, while other files take each name first.
    bool commit(const std::function<QString()> &nextTarget, int tries);
    // Where the file is after commit().
    QString finalPath() const { return m_finalPath; }
    // Drops what was written.
    void cancelWriting();
    QString errorString() const;

private:
    bool makeTemp();
    bool writeGathered();

    QString m_target;
    QString m_finalPath;
    QTemporaryFile m_temp;
    QByteArray m_gathered;   // written to the file in larger pieces
    QString m_error;
    bool m_open = false;
    bool m_outsideWriter = false;   // reserve(): the page engine writes the file
};
