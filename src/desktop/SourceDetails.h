#pragma once

#include "HistoryQuery.h"
#include "IpAddress.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class ReverseNames;
class SourceActions;

// Everything the history holds about one source, its name and where it is, and what can be done
// about it: copy the address, allow it (on every port or one), block it for an hour or a day,
// unblock it, read its entries in Log.txt.
class SourceDetails : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MaxListed = 500; // incidents listed, newest first

    SourceDetails(const HistorySourceSummary& summary, SourceActions& actions, ReverseNames& names,
        QWidget* parent = nullptr);

signals:
    // The allow list or the blocks changed: the history's view may want to read again.
    void changed();

private:
    void showName(ReverseNames& names, bool explicitly);
    void allow();
    void block(int seconds);
    void showBlockState();
    void openLogEntries();
    void say(const QString& text);

    HistorySourceSummary m_summary;
    IpAddress m_address;
    SourceActions& m_actions;
    QLabel* m_name;
    QPushButton* m_lookUp;
    QComboBox* m_allowOn;
    QPushButton* m_unblock;
    QLabel* m_said;
};
