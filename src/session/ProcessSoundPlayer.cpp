#include "ProcessSoundPlayer.h"

#include "ChildCapabilities.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString PulsePlayer = QStringLiteral("paplay");
const QString AlsaPlayer = QStringLiteral("aplay");
} // namespace

ProcessSoundPlayer::ProcessSoundPlayer(QObject* parent)
    : QObject(parent)
{
}

ProcessSoundPlayer::~ProcessSoundPlayer()
{
    // The child is deleted with this object; once killed it is gone in an instant, so reaping it
    // here costs nothing and spares QProcess's warning about a running child.
    if (m_current) {
        m_current->disconnect(this);
        m_current->kill();
        m_current->waitForFinished(1000);
    }
}

void ProcessSoundPlayer::play(const QString& fileName)
{
    stopCurrent();
    // A player would complain on standard error about a missing file; silence is what is wanted.
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return;
    startPlayer(PulsePlayer, fileName);
}

void ProcessSoundPlayer::startPlayer(const QString& program, const QString& fileName)
{
    const QString executable = QStandardPaths::findExecutable(program);
    if (!withholdCapabilitiesFromChildren())
        return;
    if (executable.isEmpty()) {
        if (program == PulsePlayer)
            startPlayer(AlsaPlayer, fileName);
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(executable);
    // "--": a file name that starts with a dash is still a file name.
    process->setArguments(program == AlsaPlayer
            ? QStringList { QStringLiteral("-q"), QStringLiteral("--"), fileName }
            : QStringList { QStringLiteral("--"), fileName });
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, &ProcessSoundPlayer::playerFinished);
    connect(process, &QProcess::errorOccurred, this, &ProcessSoundPlayer::playerFailed);
    m_current = process;
    m_currentFile = fileName;
    m_currentProgram = program;
    process->start();
}

void ProcessSoundPlayer::playerFinished(int exitCode, QProcess::ExitStatus status)
{
    if (sender() != m_current)
        return;
    m_current->deleteLater();
    m_current = nullptr;
    // paplay fails at once when no Pulse server answers; ALSA may still reach the card.
    if (status != QProcess::NormalExit || exitCode != 0)
        fallBack();
}

void ProcessSoundPlayer::playerFailed(QProcess::ProcessError error)
{
    if (sender() != m_current || error != QProcess::FailedToStart)
        return;
    m_current->deleteLater();
    m_current = nullptr;
    fallBack();
}

void ProcessSoundPlayer::fallBack()
{
    if (m_currentProgram == PulsePlayer)
        startPlayer(AlsaPlayer, m_currentFile);
}

void ProcessSoundPlayer::stopCurrent()
{
    if (!m_current)
        return;
    QProcess* process = m_current;
    m_current = nullptr;
    process->disconnect(this);
    // Deleting a running QProcess waits for it; let it go once the kill has taken effect.
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->setParent(nullptr);
    process->kill();
}
