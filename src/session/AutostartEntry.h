#pragma once

#include <QString>

// The desktop entry that makes the session start a program at login (XDG autostart). The file is
// the truth: it is rewritten whole every time, switched off by Hidden=true rather than deleted.
class AutostartEntry
{
public:
    // The file is $XDG_CONFIG_HOME/autostart/<name>.desktop, ~/.config when the variable is unset.
    explicit AutostartEntry(const QString& name);

    QString fileName() const { return m_fileName; }

    // Writes the entry for the program, switched on or off. Written atomically: a failure leaves
    // the old file as it was. False with the reason in error when the entry could not be written.
    [[nodiscard]] bool write(const QString& program, bool enabled, QString* error = nullptr) const;

    // The file's whole text.
    static QByteArray text(const QString& program, bool enabled);
    // The program as the Exec key wants it: quoted when it holds a reserved character, then with
    // backslashes and percent signs escaped for a string value.
    static QString execValue(const QString& program);

private:
    QString m_fileName;
};
