#pragma once

#include <QFile>
#include <QTemporaryDir>

// Outside programs replaced by shell scripts in a folder put first on PATH. Each script appends
// its arguments as one line to "<name>.args" and then runs the given shell commands.
class FakePrograms
{
public:
    FakePrograms()
        : m_oldPath(qgetenv("PATH"))
    {
        qputenv("PATH", m_dir.path().toUtf8() + ':' + m_oldPath);
    }
    ~FakePrograms() { qputenv("PATH", m_oldPath); }

    // Hides the real programs: only the fakes can be found.
    void hideOthers() { qputenv("PATH", m_dir.path().toUtf8()); }

    void add(const QString& name, const QString& then = {})
    {
        QFile script(m_dir.filePath(name));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1.args'\n%2\n")
                         .arg(script.fileName(), then)
                         .toUtf8());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QStringList calls(const QString& name) const
    {
        QFile record(m_dir.filePath(name + QStringLiteral(".args")));
        if (!record.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(record.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldPath;
};
