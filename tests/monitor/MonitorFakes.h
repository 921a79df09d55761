#pragma once

#include "IntruderAlert.h"
#include "IntruderRecord.h"
#include "SettingsStore.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

#include <QHash>
#include <QStringList>

#include <vector>

// Records every call in one ordered log ("line:" or "text:" in front), so tests can check the
// order between lines and texts as well as each on its own.
class RecordingStatus final : public StatusReporter
{
public:
    void addStatusLine(const QString& text) override
    {
        lines << text;
        log << QLatin1String("line:") + text;
    }
    void setStatusText(const QString& text) override
    {
        texts << text;
        log << QLatin1String("text:") + text;
    }
    void clear()
    {
        lines.clear();
        texts.clear();
        log.clear();
    }

    QStringList lines;
    QStringList texts;
    QStringList log;
};

// Shares the status log, so the sound's place in the order is visible.
class RecordingSoundPlayer final : public SoundPlayer
{
public:
    explicit RecordingSoundPlayer(RecordingStatus& status)
        : m_status(status)
    {
    }
    void play(const QString& fileName) override { m_status.log << QLatin1String("sound:") + fileName; }

private:
    RecordingStatus& m_status;
};

// Keeps each record it was given and marks its place in the status log.
class RecordingAlert final : public IntruderAlert
{
public:
    explicit RecordingAlert(RecordingStatus& status)
        : m_status(status)
    {
    }
    void raiseIntruderAlert(const IntruderRecord& intruder) override
    {
        alerts.push_back(intruder);
        m_status.log << QStringLiteral("alert");
    }

    std::vector<IntruderRecord> alerts;

private:
    RecordingStatus& m_status;
};

class MemorySettingsStore final : public SettingsStore
{
public:
    QString read(const QString& section, const QString& key) const override
    {
        return m_values.value(section + QLatin1Char('/') + key);
    }
    void write(const QString& section, const QString& key, const QString& value) override
    {
        m_values.insert(section + QLatin1Char('/') + key, value);
    }
    void sync() override { }

private:
    QHash<QString, QString> m_values;
};
