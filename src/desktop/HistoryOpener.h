#pragma once

#include "HistoryQuery.h"
#include "IpAddress.h"
#include "ReverseNames.h"
#include "SourceActions.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class HistoryWindow;
class SettingsManager;

// Opens the History window (made on first use) on the program folder's "history.sqlite", read
// beside the writer, and a source's details from it.
class HistoryOpener : public QObject
{
    Q_OBJECT

public:
    HistoryOpener(SettingsManager& settings, SourceActions& actions, QObject* parent = nullptr);
    ~HistoryOpener() override;

    void open();
    // The window showing the incidents of one address.
    void openAt(const IpAddress& address);
    void openSource(const QByteArray& address);

    HistoryWindow* window() const { return m_window.get(); }

    // How often an open window looks for rows the writer has added since.
    static constexpr int WatchMs = 3000;

private:
    void connectStore();
    void lookForNewRows();

    SettingsManager& m_settings;
    SourceActions& m_actions;
    ReverseNames m_names;
    QString m_connection;
    std::unique_ptr<HistoryQuery> m_query;
    std::unique_ptr<HistoryWindow> m_window;
    QTimer m_watch;
    qint64 m_dataVersion = -1;
};
