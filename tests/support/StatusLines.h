#pragma once

#include "StatusReporter.h"

#include <QStringList>

// The status lines a part reports, in order; its status text is not kept.
struct StatusLines : StatusReporter
{
    void addStatusLine(const QString& text) override { lines << text; }
    void setStatusText(const QString&) override { }
    QStringList lines;
};
