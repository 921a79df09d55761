#include "HistoryCommand.h"

#include "HistoryExport.h"
#include "HistoryQuery.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace HistoryCommand {
namespace {
const QString Connection = QStringLiteral("history-command");

// Cut to width with an ellipsis, so that one long owner name does not shift the columns.
QString cell(const QString& text, int width)
{
    return (text.size() > width ? text.left(width - 1) + QChar(0x2026) : text).leftJustified(width);
}

QByteArray tableLine(const HistoryIncident& incident)
{
    const QDateTime last
        = QDateTime::fromMSecsSinceEpoch(incident.last, Qt::OffsetFromUTC, incident.utcOffset);
    const QStringList cells { last.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
        cell(incident.addressText, 24), cell(incident.country, 2), cell(incident.owner, 22),
        cell(incident.ports, 18), cell(HistoryFilter::kindNames(incident.kinds), 16),
        QString::number(incident.count).rightJustified(7),
        QLatin1String(HistoryExport::stateName(incident.state)) };
    const QString line = cells.join(QLatin1String("  "));
    return line.trimmed().toUtf8() + '\n';
}

int print(HistoryQuery& query, const CommandLineOptions& options, std::FILE* out, std::FILE* err)
{
    QFile output;
    if (!output.open(out, QIODevice::WriteOnly))
        return 1;
    QString error;
    bool done = false;
    if (options.historyOutput == CommandLineOptions::HistoryOutput::Table) {
        output.write(u"%1  %2  %3  %4  %5  %6  %7  State\n"_qs
                         .arg(cell(u"Last seen"_qs, 19), cell(u"Address"_qs, 24), cell(u"CC"_qs, 2),
                             cell(u"Network owner"_qs, 22), cell(u"Ports"_qs, 18), cell(u"Kinds"_qs, 16),
                             u"Count"_qs.rightJustified(7))
                         .toUtf8());
        done = query.forEach(options.historyFilter, {},
            [&output](const HistoryIncident& incident) { return output.write(tableLine(incident)) >= 0; });
        error = query.lastError();
    } else {
        const auto format = options.historyOutput == CommandLineOptions::HistoryOutput::Csv
            ? HistoryExport::Format::Csv
            : HistoryExport::Format::JsonLines;
        done = HistoryExport::write(query, options.historyFilter, {}, format, output, &error);
    }
    output.close();
    if (!done)
        std::fprintf(err, "sentrel: the history could not be read: %s\n", qPrintable(error));
    return done ? 0 : 1;
}
} // namespace

int run(const CommandLineOptions& options, const QString& path, std::FILE* out, std::FILE* err)
{
    if (!QFileInfo::exists(path)) {
        std::fprintf(err, "sentrel: no history yet: %s does not exist\n", qPrintable(path));
        return 1;
    }
    int status = 1;
    {
        HistoryQuery query(HistoryQuery::openForReading(path, Connection));
        status = print(query, options, out, err);
    }
    QSqlDatabase::removeDatabase(Connection);
    return status;
}

} // namespace HistoryCommand
