#pragma once

#include <QObject>
#include <QStringList>

#include <array>

// The options dialog's working copy: every check box, On/Off pair, text, the port list and the
// enabled state of the dependent controls. The dialog's widgets only mirror this object. At run
// time it is also where the port list, the four sound file names and the chat service name live
// ("the dialog's current text"), pending edits included.
class OptionsModel : public QObject
{
    Q_OBJECT

public:
    enum class Check {
        HideMonitor,
        AutoStart,
        StartRun,
        AlwaysTop,
        Minimize,
        IconTray,
        Hotkeys,
        AutoScroll,
        LoadAtLogin,
        FlashIcon,
        DesktopBackground,
        AttackRun,
        Clipboard,
        ChatOn,
        Rps,
        Count
    };
    enum class Choice { Logs, Sounds, Count };
    enum class Text { StartRun, AttackRun, Sound0, Sound1, Sound2, Sound3, ChatService, Count };
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

    // Back to the state of a freshly created dialog: everything unchecked, empty, enabled. Each
    // value that changes is signalled like any other change.
    void reset();

    // Check box state: 0 unchecked, 1 checked, 2 grayed. Changing the state of "Run" (either page)
    // or the chat link's "Enable" runs refreshOptionStates, as clicking them does.
    int checkState(Check check) const { return m_checks[index(check)]; }
    bool isChecked(Check check) const { return checkState(check) == 1; }
    void setCheckState(Check check, int state);

    // An On/Off option pair; true when On is selected. Selecting either runs refreshOptionStates.
    bool isOn(Choice choice) const { return m_choices[index(choice)]; }
    void setOn(Choice choice, bool on);

    QString text(Text text) const { return m_texts[index(text)]; }
    void setText(Text text, const QString& value);

    QString soundFile(int soundIndex) const;
    QString chatService() const { return text(Text::ChatService); }

    const QStringList& ports() const { return m_ports; }
    void appendPort(const QString& port);
    // Removes the entries at the given rows, each once; the others keep their order.
    void removePorts(QList<int> rows);

    bool isEnabled(Control control) const { return m_enabled[index(control)]; }

    // Derives the enabled state of the dependent controls from the current values.
    void refreshOptionStates();

signals:
    void checkStateChanged(OptionsModel::Check check);
    void choiceChanged(OptionsModel::Choice choice);
    void textChanged(OptionsModel::Text text);
    void portsChanged();
    void enabledChanged(OptionsModel::Control control);

private:
    template <typename E> static constexpr std::size_t index(E e) { return static_cast<std::size_t>(e); }

    void setEnabled(Control control, bool enabled);
    template <typename T, typename Signal> static void assign(T& field, const T& value, Signal signal)
    {
        if (field == value)
            return;
        field = value;
        signal();
    }

    std::array<int, std::size_t(Check::Count)> m_checks {};
    std::array<bool, std::size_t(Choice::Count)> m_choices {};
    std::array<QString, std::size_t(Text::Count)> m_texts;
    std::array<bool, std::size_t(Control::Count)> m_enabled {};
    QStringList m_ports;
};
