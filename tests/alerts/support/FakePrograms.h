#pragma once

#include <QFile>
#include <QTemporaryDir>

// Outside programs replaced by shell scripts in a folder that is all of PATH, so no real program
// runs. Each script appends its name and arguments as one line to the folder's "calls", then runs
// its commands.
class FakePrograms
{
public:
    FakePrograms() { qputenv("PATH", m_dir.path().toUtf8()); }
    ~FakePrograms() { qputenv("PATH", m_oldPath); }

    void add(const QString& name, const QString& then = {})
    {
        QFile script(m_dir.filePath(name));
        script.open(QIODevice::WriteOnly);
        script.write(
            QString("#!/bin/sh\necho \"%1 $*\" >> \"${0%/*}/calls\"\n%2\n").arg(name, then).toUtf8());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // A file in the scripts' folder, one item a line.
    QStringList read(const QString& name = "calls") const
    {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }

private:
    QTemporaryDir m_dir;
    const QByteArray m_oldPath = qgetenv("PATH");
};
