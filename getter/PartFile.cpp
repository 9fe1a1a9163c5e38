#include "PartFile.h"

#include <QDir>
#include <QFileInfo>

PartFile::PartFile(const QString &target)
    : m_target(target)
{
    const QFileInfo info(target);
    m_temp.setFileTemplate(info.dir().filePath(QLatin1Char('.') + info.fileName().left(64)
                                               + QStringLiteral(".XXXXXX.part")));
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
    if (!m_temp.open()) {
        m_error = m_temp.errorString();
        return false;
    }
    return true;
}

qint64 PartFile::write(const char *data, qint64 size)
{
    const qint64 written = m_temp.write(data, size);
    if (written != size)
        m_error = m_temp.errorString();
    return written;
}

bool PartFile::restart()
{
    if (!m_temp.isOpen() || !m_temp.resize(0) || !m_temp.seek(0)) {
        m_error = m_temp.errorString();
        return false;
    }
    return true;
}

qint64 PartFile::size() const
{
    return m_temp.size();
}

bool PartFile::commit()
{
    if (!m_temp.isOpen()) {
        m_error = QStringLiteral("the file is not open");
        return false;
    }
    if (!m_temp.flush()) {
        m_error = m_temp.errorString();
        cancelWriting();
        return false;
    }
    m_temp.close();
    m_temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                          | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (QFileInfo::exists(m_target) || !m_temp.rename(m_target)) {
        m_error = QStringLiteral("cannot rename to the file's name");
        cancelWriting();
        return false;
    }
    // The file now has its real name and stays.
    m_temp.setAutoRemove(false);
    return true;
}

void PartFile::cancelWriting()
{
    if (m_temp.autoRemove() && !m_temp.fileName().isEmpty())
        m_temp.remove();
}

QString PartFile::errorString() const
{
    return m_error;
}
