#pragma once

#include <QObject>

#include <functional>

// HexChat's D-Bus remote control. Calls are asynchronous and never start HexChat.
class HexChatRemote final : public QObject
{
    Q_OBJECT

public:
    // Calls still waiting for HexChat's answer beyond this are dropped, so a client that stopped
    // answering cannot make commands pile up.
    static constexpr int MaxPendingCalls = 16;

    explicit HexChatRemote(QObject* parent = nullptr);

    // Runs a command as if typed, given without its leading "/". onFailure runs later when
    // HexChat answers with an error (it is not running). Returns false, and sends nothing, when
    // there is no session bus.
    [[nodiscard]] bool command(const QString& text, std::function<void()> onFailure = {});

private:
    int m_pending = 0;
};
