#pragma once

#include "AlarmSettings.h"
#include "DetectionSettings.h"
#include "EventSettings.h"
#include "PushSettings.h"
#include "WorkingCopy.h"

#include <QStringList>

class SettingsStore;

// The working copy of the sections beyond the original keys ("Alarm", "Events", "Detection",
// "UDP Ports" and "Push") for the Alarm, Detection and Push pages: edits stay here until OK saves them;
// Cancel (any other close) loads the stored values again.
class AlarmOptions : public WorkingCopy
{
    Q_OBJECT

public:
    explicit AlarmOptions(SettingsStore& store, QObject* parent = nullptr);

    void load();
    // Writes the sections; the original keys are never written from here.
    void save();

    AlarmSettings& alarm() { return m_alarm; }
    EventSettings& events() { return m_events; }
    DetectionSettings& detection() { return m_detection; }
    PushSettings& push() { return m_push; }
    // Appends a UDP entry when the text reads as one, as Add Port does for the TCP list.
    void addUdpPort(const QString& typed);
    void removeUdpPorts(QList<int> rows);
    const QStringList& allowEntries() const { return m_allow; }
    // Adds one address or range; returns why it was refused, empty when it was added.
    QString addAllowEntry(const QString& entry);
    void removeAllowEntries(QList<int> rows);
    // Why the collector text cannot be used, in the allow list's form ("text": reason); empty
    // when it can, and for an empty text, which means none.
    static QString collectorProblem(const QString& collector);
    // Tells the page that a value changed other than through its own controls.
    void touch() { emit changed(); }
    // Nothing else on the page depends on a control's value, and a change would also clear the
    // allow list's refusal message: an edit stays quiet.
    void edited() override { }

private:
    SettingsStore& m_store;
    AlarmSettings m_alarm;
    EventSettings m_events;
    DetectionSettings m_detection;
    PushSettings m_push;
    QStringList m_allow;
};
