#pragma once

#include <QStringList>

// The program folder: a per-user, writable folder that holds "Log.txt" and the files the program
// opens by bare name (the default sounds, the wallpaper bitmap). It is the working folder from
// start-up on, so those bare names resolve in it.
class ProgramFolder
{
public:
    // assetDirs: folders whose files are copied into the program folder when missing there, the
    // first folder that has a file wins.
    ProgramFolder(const QString& path, const QStringList& assetDirs);

    // The per-user data folder of this application.
    static QString defaultPath();

    // Creates the folder, copies missing assets into it and makes it the working folder.
    // Returns false when the folder could not be created or entered.
    bool prepare();

    // The folder with a trailing separator.
    QString appPath() const;

private:
    void copyMissingAssets() const;

    QString m_path;
    QStringList m_assetDirs;
};
