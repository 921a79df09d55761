#include "CommandLineOptions.h"

#include "SettingsKeys.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include <tuple>

#include <cstdio>

namespace {
void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

// The history's options, in the order the parser was given them: --history, --since, --address,
// --port, --kind, --json, --csv. Returns what is wrong with them, empty when nothing is.
QString parseHistory(
    const QCommandLineParser& parser, const QList<QCommandLineOption>& given, CommandLineOptions& options)
{
    const auto& [history, since, address, port, kind, json, csv]
        = std::tie(given[0], given[1], given[2], given[3], given[4], given[5], given[6]);
    options.history = parser.isSet(history);
    if (!options.history) {
        for (const QCommandLineOption& option : given)
            if (parser.isSet(option))
                return QStringLiteral("--%1 goes with --history").arg(option.names().constFirst());
        return {};
    }
    HistoryFilter& filter = options.historyFilter;
    if (parser.isSet(since)) {
        const std::optional<qint64> age = HistoryFilter::parseAge(parser.value(since));
        if (!age)
            return QStringLiteral("--since takes an age such as 30m, 24h or 7d, not '%1'")
                .arg(parser.value(since));
        filter.since = QDateTime::currentMSecsSinceEpoch() - *age;
    }
    if (parser.isSet(address)) {
        filter.addresses = HistoryFilter::parseAddress(parser.value(address));
        if (!filter.addresses)
            return QStringLiteral("--address takes an address or a network such as 192.0.2.0/24, not '%1'")
                .arg(parser.value(address));
    }
    if (parser.isSet(port)) {
        const std::optional<int> number = HistoryFilter::parsePort(parser.value(port));
        if (!number)
            return QStringLiteral("--port takes a port from 1 to 65535, not '%1'").arg(parser.value(port));
        filter.port = *number;
    }
    if (parser.isSet(kind)) {
        const std::optional<unsigned> kinds = HistoryFilter::parseKinds(parser.value(kind));
        if (!kinds)
            return QStringLiteral(
                "--kind takes connect, half_open, fin, null, xmas, udp, fragment, port_scan or flood, "
                "not '%1'")
                .arg(parser.value(kind));
        filter.kinds = *kinds;
    }
    if (parser.isSet(json) && parser.isSet(csv))
        return QStringLiteral("--json and --csv exclude each other");
    options.historyOutput = parser.isSet(json) ? CommandLineOptions::HistoryOutput::JsonLines
        : parser.isSet(csv)                    ? CommandLineOptions::HistoryOutput::Csv
                                               : CommandLineOptions::HistoryOutput::Table;
    return {};
}
} // namespace

CommandLineOptions CommandLineOptions::parse(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Intrusion alarm: guards ports nobody serves and reports "
                                                    "every connection to them."));
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(
        { QStringLiteral("v"), QStringLiteral("version") }, QStringLiteral("Show the version and exit."));
    const QCommandLineOption headless(QStringLiteral("headless"),
        QStringLiteral("Run without a window, even where a display exists; status lines go to standard "
                       "output."));
    const QCommandLineOption configDir(QStringLiteral("config-dir"),
        QStringLiteral("Keep the settings in <folder> instead of the user's configuration folder."),
        QStringLiteral("folder"));
    const QCommandLineOption check(QStringLiteral("check"),
        QStringLiteral("Start, arm the ports, make one loopback connection to the first armed port, wait "
                       "until it is recorded in every enabled output, print the time it took and exit "
                       "(exit status 1 and the reason when something failed; 3, without touching it or "
                       "its files, when Sentrel is already running)."));
    const QCommandLineOption history(QStringLiteral("history"),
        QStringLiteral(
            "Print the recorded incidents, newest first, and exit; Sentrel may be running meanwhile."));
    const QCommandLineOption since(QStringLiteral("since"),
        QStringLiteral("With --history: only incidents of the last <age>: 30m, 24h, 7d."),
        QStringLiteral("age"));
    const QCommandLineOption address(QStringLiteral("address"),
        QStringLiteral(
            "With --history: only incidents from <address>, or from a network such as 192.0.2.0/24 "
            "or 2001:db8::/32."),
        QStringLiteral("address"));
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("With --history: only incidents that touched <port>."), QStringLiteral("port"));
    const QCommandLineOption kind(QStringLiteral("kind"),
        QStringLiteral(
            "With --history: only incidents seen as one of <kinds> (connect, half_open, fin, null, xmas, "
            "udp, fragment, port_scan, flood; comma-separated)."),
        QStringLiteral("kinds"));
    const QCommandLineOption json(QStringLiteral("json"),
        QStringLiteral("With --history: one JSON object per incident and line, for scripts."));
    const QCommandLineOption csv(
        QStringLiteral("csv"), QStringLiteral("With --history: CSV with a header line."));
    parser.addOptions(
        { help, version, headless, configDir, check, history, since, address, port, kind, json, csv });

    CommandLineOptions options;
    const bool parsed = parser.parse(arguments);
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        print(stderr,
            QStringLiteral("sentrel: %1\nTry 'sentrel --help'.\n")
                .arg(parsed
                        ? QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first())
                        : parser.errorText()));
        options.exitCode = 2;
        return options;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        // The help text names the program from the running application's arguments.
        int count = argc;
        QCoreApplication application(count, argv);
        print(stdout,
            parser.isSet(help) ? parser.helpText()
                               : QStringLiteral("sentrel %1\n").arg(QCoreApplication::applicationVersion()));
        options.exitCode = 0;
        return options;
    }
    if (const QString mistake
        = parseHistory(parser, { history, since, address, port, kind, json, csv }, options);
        !mistake.isEmpty()) {
        print(stderr, QStringLiteral("sentrel: %1\nTry 'sentrel --help'.\n").arg(mistake));
        options.exitCode = 2;
        return options;
    }
    options.headless = parser.isSet(headless) || parser.isSet(check);
    options.check = parser.isSet(check);
    if (parser.isSet(configDir)) {
        options.settingsFile
            = QDir(parser.value(configDir))
                  .absoluteFilePath(QString::fromLatin1(SettingsKeys::Application) + QStringLiteral(".ini"));
    }
    return options;
}
