#pragma once

// What the status display needs of the widget that shows its list: its measures and scrolling.
class StatusListView
{
public:
    virtual ~StatusListView() = default;
    // Height in pixels of the list's client area.
    virtual int clientHeight() const = 0;
    // Height in pixels of one row; 0 when it cannot be told.
    virtual int rowHeight() const = 0;
    virtual void setTopRow(int row) = 0;
};
