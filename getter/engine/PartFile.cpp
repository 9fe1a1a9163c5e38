#include "PartFile.h"

#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Pieces of a body come as small as a TLS record (16 KiB); they are gathered
// into writes of this size, which costs the file system a quarter as much.
constexpr qint64 GatherBytes = 256 * 1024;

const QString NotOpenText = QStringLiteral("the file is not open");

QString TemplateFor(const QString &target)
{
    const QFileInfo info(target);
    return info.dir().filePath(QLatin1Char('.') + info.fileName().left(64) + QStringLiteral(".XXXXXX.part"));
}

} // namespace

PartFile::PartFile(const QString &target)
    : m_target(target)
    , m_temp(TemplateFor(target))
{
}

PartFile::~PartFile()
{
    cancelWriting();
}

bool PartFile::open()
{
    if (m_target.isEmpty() || QFileInfo::exists(m_target)) {
        m_error = QStringLiteral("the file exists already");
        return false;
    }
    m_gathered.reserve(GatherBytes);
    m_open = true;
    return true;
}

bool PartFile::reserve()
{
    m_open = true;
    m_outsideWriter = true;
    return makeTemp();
}

QString PartFile::partPath() const
{
    return m_temp.fileName();
}

// The temporary file is made when the first piece is written: a small file
// touches the file system only once it is complete.
bool PartFile::makeTemp()
{
    if (m_temp.isOpen())
        return true;
    if (!m_open || !m_temp.open()) {
        m_error = m_open ? m_temp.errorString() : NotOpenText;
        return false;
    }
    return true;
}

qint64 PartFile::write(const char *data, qint64 size)
{
    if (m_gathered.size() + size > GatherBytes && !writeGathered())
        return -1;
    if (size >= GatherBytes) {
        if (!makeTemp())
            return -1;
        const qint64 written = m_temp.write(data, size);
        if (written != size)
            m_error = m_temp.errorString();
        return written;
    }
    m_gathered.append(data, qsizetype(size));
    return size;
}

bool PartFile::writeGathered()
{
    if (m_gathered.isEmpty())
        return true;
    if (!makeTemp())
        return false;
    if (m_temp.write(m_gathered) != m_gathered.size()) {
        m_error = m_temp.errorString();
        return false;
    }
    m_gathered.truncate(0);
    return true;
}

bool PartFile::restart()
{
    m_gathered.truncate(0);
    if (!m_open) {
        m_error = NotOpenText;
        return false;
    }
    if (m_temp.isOpen() && (!m_temp.resize(0) || !m_temp.seek(0))) {
        m_error = m_temp.errorString();
        return false;
    }
    return true;
}

qint64 PartFile::size() const
{
    return (m_temp.isOpen() ? m_temp.size() : 0) + m_gathered.size();
}

bool PartFile::commit()
{
    return commit([this] { return m_target; }, 1);
}

bool PartFile::commit(const std::function<QString()> &nextTarget, int tries)
{
    if (!makeTemp() || !writeGathered() || !m_temp.flush()) {
        if (m_error.isEmpty())
            m_error = m_temp.errorString();
        cancelWriting();
        return false;
    }
    m_open = false;
    m_temp.close();
    // A file of our own is still unnamed (Qt makes it with O_TMPFILE) and
    // takes its one name below; one a writer outside filled is set by its
    // path, since that writer may have put another file under it.
    if (m_outsideWriter)
        QFile::setPermissions(m_temp.fileName(), kiro::NewFilePermissions());
    else
        m_temp.setPermissions(kiro::NewFilePermissions());
    for (int i = 0; i < tries; ++i) {
        const QString target = nextTarget();
        // Qt's rename never replaces a file: one put there meanwhile stays.
        if (!target.isEmpty() && m_temp.rename(target)) {
            // The file now has its real name and stays.
            m_temp.setAutoRemove(false);
            m_finalPath = target;
            return true;
        }
        const QFileInfo taken(target);
        if (target.isEmpty() || !(taken.exists() || taken.isSymLink()))
            break;
    }
    m_error = QStringLiteral("cannot rename to the file's name");
    cancelWriting();
    return false;
}

void PartFile::cancelWriting()
{
    m_open = false;
    m_gathered.clear();
    if (m_temp.autoRemove() && !m_temp.fileName().isEmpty())
        m_temp.remove();
}

QString PartFile::errorString() const
{
    return m_error;
}
