#pragma once

#include "HistoryFilter.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

// The fields a history is searched by: address or prefix, port, kind, how far back, and free
// text. The filter follows the typing once it pauses for DelayMs; a field that cannot be read is
// left out of the filter and named beside the fields.
class HistoryFilterBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int DelayMs = 250;

    struct Texts
    {
        QString address;
        QString port;
        QString kind; // a kind's name; empty for any
        QString since; // "24h", "7d"; empty for any time
        QString text;
    };
    // The filter the texts make as of now (ms since the epoch), and what could not be read.
    static HistoryFilter filterOf(const Texts& texts, qint64 now, QStringList* problems = nullptr);

    explicit HistoryFilterBar(QWidget* parent = nullptr);

    // Shows one address's incidents at once, without waiting.
    void showAddress(const QString& address);
    QLineEdit* addressField() const { return m_address; }

signals:
    void filterChanged(const HistoryFilter& filter);
    // Enter in a field: the filter is applied at once, and the incidents are next.
    void finished();

private:
    void apply();

    QLineEdit* m_address;
    QLineEdit* m_port;
    QComboBox* m_kind;
    QComboBox* m_since;
    QLineEdit* m_text;
    QLabel* m_problems;
    QTimer m_delay;
};
