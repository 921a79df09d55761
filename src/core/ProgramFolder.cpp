#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

ProgramFolder::ProgramFolder(const QString& path, const QStringList& assetDirs)
    : m_path(QDir::cleanPath(path))
    , m_assetDirs(assetDirs)
{
}

QString ProgramFolder::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool ProgramFolder::prepare()
{
    if (!QDir().mkpath(m_path))
        return false;
    copyMissingAssets();
    return QDir::setCurrent(m_path);
}

QString ProgramFolder::appPath() const
{
    return m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
}

void ProgramFolder::copyMissingAssets() const
{
    const QDir target(m_path);
    for (const QString& assetDir : m_assetDirs) {
        const QFileInfoList files = QDir(assetDir).entryInfoList(QDir::Files | QDir::Readable);
        for (const QFileInfo& file : files) {
            const QString destination = target.filePath(file.fileName());
            // A user's own file of the same name is never replaced.
            if (!QFileInfo::exists(destination))
                QFile::copy(file.absoluteFilePath(), destination);
        }
    }
}
