#pragma once

#include <QString>

// The desktop's plain-text clipboard.
class Clipboard
{
public:
    virtual ~Clipboard() = default;

    virtual void copyToClipboard(const QString& text) = 0;
};
