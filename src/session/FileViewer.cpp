#include "FileViewer.h"

#include "ChildCapabilities.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

FileViewer::FileViewer(QObject* parent)
    : QObject(parent)
{
}

void FileViewer::open(const QString& path, Failed failed)
{
    if (m_running >= MaxRunning || !withholdCapabilitiesFromChildren()) {
        QTimer::singleShot(0, this, std::move(failed));
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({ path });
    // A viewer that wants a terminal must not take ours.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    ++m_running;
    QElapsedTimer started;
    started.start();
    const auto end = [this, process, started, failed](bool shown) {
        --m_running;
        process->deleteLater();
        if (!shown && started.elapsed() < AnswerWithinMs)
            failed();
    };
    connect(process, &QProcess::finished, this,
        [end](int code, QProcess::ExitStatus status) { end(status == QProcess::NormalExit && code == 0); });
    connect(process, &QProcess::errorOccurred, this, [end](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(false);
    });
    process->start();
}
