#include "HistoryOpener.h"

#include "HistoryWindow.h"
#include "SettingsManager.h"
#include "SourceDetails.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <utility>

namespace {
constexpr auto HistoryFile = "history.sqlite";
}

HistoryOpener::HistoryOpener(SettingsManager& settings, SourceActions& actions, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_actions(actions)
    , m_connection(QStringLiteral("history-window"))
{
    m_watch.setInterval(WatchMs);
    connect(&m_watch, &QTimer::timeout, this, &HistoryOpener::lookForNewRows);
}

void HistoryOpener::lookForNewRows()
{
    if (!m_window || !m_window->isVisible()) {
        m_watch.stop();
        return;
    }
    if (!m_query) {
        connectStore(); // the writer may have made the file since
        return;
    }
    // SQLite counts the commits of other connections in data_version: reading it costs no table.
    QSqlQuery version(QSqlDatabase::database(m_connection, false));
    if (!version.exec(QStringLiteral("PRAGMA data_version")) || !version.next())
        return;
    const qint64 now = version.value(0).toLongLong();
    const qint64 before = std::exchange(m_dataVersion, now);
    if (before >= 0 && before != now)
        m_window->newRowsIn();
}

HistoryOpener::~HistoryOpener()
{
    m_window.reset();
    m_query.reset();
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

void HistoryOpener::connectStore()
{
    if (m_query)
        return;
    const QString path = QDir(m_settings.settings().appPath).filePath(QString::fromLatin1(HistoryFile));
    if (!QFileInfo::exists(path)) {
        m_window->setQuery(nullptr, {},
            m_settings.settings().history.keep ? QStringLiteral("No history yet: it starts with the first intrusion.")
                                               : QStringLiteral("No history: \"Keep History\" is off."));
        return;
    }
    QSqlDatabase database = HistoryQuery::openForReading(path, m_connection);
    if (!database.isOpen()) {
        m_window->setQuery(nullptr, {}, QStringLiteral("The history cannot be read: ") + path);
        return;
    }
    m_query = std::make_unique<HistoryQuery>(database);
    m_window->setQuery(m_query.get(), path);
}

void HistoryOpener::open()
{
    m_names.setEnabled(m_settings.settings().history.lookUpNames);
    if (!m_window) {
        m_window = std::make_unique<HistoryWindow>();
        connect(m_window.get(), &HistoryWindow::sourceRequested, this, &HistoryOpener::openSource);
        connectStore();
    } else if (!m_query) {
        connectStore();
    } else if (!m_window->isVisible()) {
        m_window->refresh();
    }
    m_window->show();
    m_dataVersion = -1;
    m_watch.start();
    m_window->raise();
    m_window->activateWindow();
}

void HistoryOpener::openAt(const IpAddress& address)
{
    open();
    m_window->showAddress(address.toString());
}

void HistoryOpener::openSource(const QByteArray& address)
{
    if (!m_query)
        return;
    const std::optional<HistorySourceSummary> summary = m_query->source(address);
    if (!summary)
        return;
    auto* details = new SourceDetails(*summary, m_actions, m_names, m_window.get());
    connect(details, &SourceDetails::changed, m_window.get(), &HistoryWindow::refresh);
    details->show();
}
