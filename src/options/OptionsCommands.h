#pragma once

#include <QList>
#include <QString>

#include <functional>

class OptionsModel;

// The modal questions the options dialog asks; the dialog answers them with its own boxes, tests
// with prepared answers.
class OptionsPrompts
{
public:
    virtual ~OptionsPrompts() = default;
    // A file or folder the user confirmed, as a full path; empty when cancelled.
    virtual QString chooseFile() = 0;
    // The text typed for a new port; empty when cancelled.
    virtual QString askPort() = 0;
};

// The dialog's buttons that act on more than their own control: browsing for the six file boxes,
// adding and removing ports, and reading and purging the intrusion log.
class OptionsCommands
{
public:
    static constexpr int BrowseButtonCount = 6;

    struct LogActions
    {
        std::function<void()> read; // opens the log in the desktop's viewer; failures ignored
        std::function<void()> purge; // deletes the log at once; failures ignored
    };

    OptionsCommands(OptionsModel& options, LogActions log);

    void setPrompts(OptionsPrompts* prompts) { m_prompts = prompts; }

    // "?" button 0 (the start-up program), 1 (the attack program) or 2 to 5 (the four sounds);
    // cancelling leaves the box as it was.
    void browse(int button);
    // Asks for a port and appends it when the text reads as one not yet listed; else says why not.
    QString addPort();
    void removePorts(const QList<int>& selectedRows);
    void readLog();
    void purgeLog();

private:
    OptionsModel& m_options;
    LogActions m_log;
    OptionsPrompts* m_prompts = nullptr;
};
