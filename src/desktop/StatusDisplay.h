#pragma once

#include "AutoScrollHold.h"
#include "EndOfPass.h"
#include "NonBlockingOutput.h"
#include "StatusListModel.h"
#include "StatusListWatch.h"
#include "StatusReporter.h"

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <memory>

class MonitoringState;
class StatusListView;

// The status list and the status label, with the auto-scroll that moves the list's view one row
// a second. Optionally mirrors every line and label text to a stream (standard output when the
// program runs without a display).
class StatusDisplay : public QObject, public StatusReporter
{
    Q_OBJECT

public:
    static constexpr auto LinePrefix = "[ ORRA ] - ";

    // clock: for the auto-scroll's wait for the reader; none: the steady clock.
    explicit StatusDisplay(
        const MonitoringState& monitoring, QObject* parent = nullptr, AutoScrollHold::Clock clock = {});
    ~StatusDisplay() override;

    void addStatusLine(const QString& text) override;
    void setStatusText(const QString& text) override;
    void clearStatusList();
    void resetStatusText();
    void clearMessages();

    QString statusText() const { return m_statusText; }
    StatusListModel& model() { return m_model; }

    void setView(StatusListView* view) { m_view = view; }
    // The widget that shows the list: lines are laid out and painted only while it can be seen.
    void watchList(QWidget* list) { m_listWatch.watch(list); }
    // Without a display nobody ever sees the list.
    void setDisplayPresent(bool present) { m_listWatch.setDisplayPresent(present); }
    // Where the program runs without any display the list is never shown: the lines then go to
    // the mirror alone, and the memory the list would hold is never taken.
    void keepNoLines() { m_keepLines = false; }
    void measureStatusList();
    int statusItemHeight() const { return m_itemHeight; }
    int statusVisibleRows() const { return m_visibleRows; }

    void setAutoScrollEnabled(bool enabled);
    // One auto-scroll step: the next row to the top, back to row 0 after the last came into view.
    // While the reader uses the list it waits (AutoScrollHold), then goes on from the reader's row.
    void autoScrollStep();
    // The user moved or used the list; topRow is the row at the top of the view afterwards.
    void userUsedList(bool atEnd, int topRow);
    int autoScrollPos() const { return m_autoScrollPos; }

    // Lines and label texts are also written to this stream, one per line; nullptr stops it. A
    // reader that stops reading never holds the program up: what it cannot take is counted.
    void setMirror(std::FILE* stream);

signals:
    void statusTextChanged(const QString& text);

private:
    void mirror(QLatin1StringView prefix, const QString& text);
    void writeMirror();

    const MonitoringState& m_monitoring;
    StatusListModel m_model;
    StatusListWatch m_listWatch { m_model };
    QString m_statusText = QStringLiteral("Loading..");
    bool m_keepLines = true;
    StatusListView* m_view = nullptr;
    int m_itemHeight = 0;
    int m_visibleRows = 0;
    // Wide enough for every line the list may hold.
    int m_autoScrollPos = 0;
    QTimer m_autoScrollTimer;
    AutoScrollHold m_hold;
    bool m_held = false;
    int m_readerTopRow = 0;
    // The mirror is written once per event-loop pass, like the list, so a flood of intrusions
    // does not cost one write per line.
    EndOfPass m_mirrorFlush { [this] { writeMirror(); } };
    std::unique_ptr<NonBlockingOutput> m_mirror;
    QByteArray m_mirrorPending; // written out once per event-loop pass
};
