#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Shows a file or a folder with the program the desktop has for its type (xdg-open), and says when
// there is none: xdg-open then ends with an error, where merely starting it looks like success.
// Nothing waits for it; at most MaxRunning are under way at once, and one still running after
// AnswerWithinMs counts as shown (a viewer the opener runs in its own place, say).
class FileViewer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRunning = 4;
    static constexpr int AnswerWithinMs = 10000;

    using Failed = std::function<void()>;

    explicit FileViewer(QObject* parent = nullptr);

    // failed runs on the event loop when nothing could show the path.
    void open(const QString& path, Failed failed);

private:
    int m_running = 0;
};
