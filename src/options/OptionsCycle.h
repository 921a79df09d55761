#pragma once

#include <QObject>

#include <functional>
#include <vector>

class MonitorWindowAccess;
class MonitoringState;
class ListenerControl;
class NetworkWatch;
class SettingsManager;

// The options dialog's rules that are not about single controls: OK and the Close steps that undo
// the opening, which page frames are visible and which page label is highlighted. The dialog only
// shows what this object says; tests drive it without a window.
class OptionsCycle : public QObject
{
    Q_OBJECT

public:
    struct Targets
    {
        SettingsManager* settings = nullptr;
        std::function<void()> reapplySettings;
        MonitorWindowAccess* window = nullptr;
        NetworkWatch* networkWatch = nullptr; // its timer belongs to the dialog's lifetime
        const MonitoringState* monitoringState = nullptr;
        ListenerControl* monitoring = nullptr;
    };

    static constexpr int NoLabel = -1;

    // All targets must be set.
    OptionsCycle(Targets targets, int pageCount, QObject* parent = nullptr);

    // Stores every pending value, then closes.
    void ok();
    // Every way of closing the dialog other than OK: the pending edits are dropped, the stored
    // settings re-applied, the monitor window enabled again, the dialog hidden, and the listeners
    // (and the sentinel when enabled) re-opened if monitoring is on, without status lines.
    void close();

    int pageCount() const { return int(m_visible.size()); }
    // After a rebuild every page frame is visible, stacked in one place; a click on a page label
    // leaves only that page visible.
    bool isPageVisible(int page) const;
    void selectPage(int page);
    // The page the user sees and the keyboard reaches: the one left visible, the first (on top)
    // while all are stacked. Only its controls may take the focus or answer their access keys.
    int currentPage() const;
    // The next page (+1) or the previous one (-1), round the ends, as Ctrl+Tab and Ctrl+Shift+Tab do.
    void stepPage(int step);

    // The label the pointer last moved over is bold and underlined, until the pointer moves over
    // the dialog's own background or a page frame's surface (labelNormal).
    int highlightedLabel() const { return m_highlighted; }
    void hoverLabel(int label);
    void labelNormal();

signals:
    void pagesChanged();
    void highlightChanged();
    void hideRequested();
    // The Close steps are done, listeners included; saved: they followed OK.
    void closed(bool saved);

private:
    void resetPages();

    Targets m_targets;
    std::vector<bool> m_visible;
    int m_highlighted = NoLabel;
    bool m_saving = false;
};
