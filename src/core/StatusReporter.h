#pragma once

#include <QString>

// Where the rest of the program reports what happens: the monitor window's status list and label.
class StatusReporter
{
public:
    virtual ~StatusReporter() = default;

    // Appends "[ ORRA ] - " followed by the text to the status list.
    virtual void addStatusLine(const QString& text) = 0;
    // Replaces the status label's text.
    virtual void setStatusText(const QString& text) = 0;
};
