#include "ProgramFolder.h"

#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

const QStringList& ProgramFolder::assetNames()
{
    static const QStringList names { QStringLiteral("NetOn.wav"), QStringLiteral("NetOff.wav"),
        QStringLiteral("Intruder.wav"), QStringLiteral("Start.wav"), QStringLiteral("SentrelBg.bmp"),
        QStringLiteral("ReadMe.html") };
    return names;
}

ProgramFolder::ProgramFolder(const QString& path, const QStringList& assetDirs)
    : m_path(QDir::cleanPath(path))
    , m_assetDirs(assetDirs)
{
}

QString ProgramFolder::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QStringList ProgramFolder::prepare()
{
    QString error;
    if (!PrivateFiles::makePrivateFolder(m_path, &error))
        return { QStringLiteral("Cannot create the program folder %1: %2").arg(m_path, error) };
    QStringList problems = copyMissingAssets();
    if (!QDir::setCurrent(m_path))
        problems << QStringLiteral("Cannot enter the program folder %1").arg(m_path);
    return problems;
}

QString ProgramFolder::appPath() const
{
    return m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
}

QStringList ProgramFolder::copyMissingAssets() const
{
    QStringList problems;
    const QDir target(m_path);
    for (const QString& name : assetNames()) {
        const QString destination = target.filePath(name);
        // A user's own file of the same name is never replaced.
        if (QFileInfo::exists(destination))
            continue;
        for (const QString& assetDir : m_assetDirs) {
            QFile source(QDir(assetDir).filePath(name));
            if (assetDir.isEmpty() || !QFileInfo(source).isFile())
                continue;
            if (!source.copy(destination))
                problems << QStringLiteral("Cannot copy %1 into the program folder: %2")
                                .arg(name, source.errorString());
            break;
        }
    }
    return problems;
}
