#pragma once

#include "Settings.h"

#include <QObject>
#include <QStringList>

// The options dialog's working copy of every store section, typed as the record is. The
// dialog's controls only mirror it, and the enabled state of the dependent controls derives from
// it. At run time it is also where the port list, the four sound file names and the chat service
// name live ("the dialog's current text"), pending edits included. The controls bound to it show
// their values again after every change.
class OptionsModel : public QObject
{
    Q_OBJECT

public:
    // Controls whose enabled state depends on other values.
    enum class Control {
        StartRunText,
        StartRunBrowse,
        LogsRead,
        LogsPurge,
        AttackRunText,
        AttackRunBrowse,
        SoundsGroup,
        SoundText0,
        SoundText1,
        SoundText2,
        SoundText3,
        SoundBrowse0,
        SoundBrowse1,
        SoundBrowse2,
        SoundBrowse3,
        ChatServiceText,
        Count
    };

    static constexpr int SoundCount = 4;
    enum SoundIndex { NetConnectedSound = 0, NetDisconnectedSound = 1, IntruderSound = 2, StartSound = 3 };

    explicit OptionsModel(QObject* parent = nullptr);

    const Settings& values() const { return m_values; }
    // Every value at once, as loading does; a check box shows a flag outside its three states
    // unchecked, so that is what the working copy keeps.
    void setValues(const Settings& values);
    // One value, as a control or a command sets it.
    template <typename T> void set(T Settings::*field, const T& value)
    {
        if (m_values.*field == value)
            return;
        m_values.*field = value;
        emit changed();
    }
    // Where a control writes a user's edit; it calls edited() afterwards.
    Settings& edit() { return m_values; }
    void edited() { emit changed(); }

    QString soundFile(int soundIndex) const;
    QString chatService() const { return m_values.chatService; }

    // The lists the dialog edits with Add and Remove.
    enum class List { Ports, UdpPorts, AllowEntries };
    const QStringList& ports() const { return m_values.ports; }
    void append(List list, const QString& entry);
    // Removes the entries at the given rows, each once; the others keep their order.
    void remove(List list, QList<int> rows);

    bool isEnabled(Control control) const;

signals:
    // Some value changed; each control shows its value again where it differs.
    void changed();
    // Every value was replaced from the store; lists are filled again even when equal.
    void reloaded();

private:
    QStringList& entries(List list);

    Settings m_values;
};
