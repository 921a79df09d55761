#pragma once

#include <QStringList>

// The program folder: a per-user folder, private to its user, that holds "Log.txt" and the files
// the program opens by bare name (the default sounds, the wallpaper bitmap, the manual). It is the
// working folder from start-up on, so those bare names resolve in it.
class ProgramFolder
{
public:
    // The files start-up copies into the folder when they are missing there; nothing else is
    // taken from an asset folder, whatever it holds.
    static const QStringList& assetNames();

    // assetDirs: folders to copy the assets from, the first folder that has a file wins.
    ProgramFolder(const QString& path, const QStringList& assetDirs);

    // The per-user data folder of this application.
    static QString defaultPath();

    // Creates the folder closed to other users (or closes an existing one), copies missing
    // assets into it and makes it the working folder. What went wrong, each as a status line;
    // empty when all went well.
    [[nodiscard]] QStringList prepare();

    // The folder with a trailing separator.
    QString appPath() const;

private:
    QStringList copyMissingAssets() const;

    QString m_path;
    QStringList m_assetDirs;
};
