#pragma once

#include "SoundPlayer.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

// Plays through a child process: paplay (PulseAudio or PipeWire's Pulse server), else aplay.
// In-process audio APIs block the event loop for half a minute when the sound server hangs; a
// child that hangs only hangs itself. One sound at a time: a new one ends the one still playing.
class ProcessSoundPlayer final : public QObject, public SoundPlayer
{
    Q_OBJECT

public:
    explicit ProcessSoundPlayer(QObject* parent = nullptr);
    ~ProcessSoundPlayer() override;

    void play(const QString& fileName) override;

private:
    void startPlayer(const QString& program, const QString& fileName);
    void playerFinished(int exitCode, QProcess::ExitStatus status);
    void playerFailed(QProcess::ProcessError error);
    void fallBack();
    void stopCurrent();

    QPointer<QProcess> m_current;
    QString m_currentFile;
    QString m_currentProgram;
};
