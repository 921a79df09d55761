#include "CommandLineOptions.h"

#include "SettingsKeys.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {
void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
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
    parser.addOptions({ help, version, headless, configDir, check });

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
    options.headless = parser.isSet(headless) || parser.isSet(check);
    options.check = parser.isSet(check);
    if (parser.isSet(configDir)) {
        options.settingsFile
            = QDir(parser.value(configDir))
                  .absoluteFilePath(QString::fromLatin1(SettingsKeys::Application) + QStringLiteral(".ini"));
    }
    return options;
}
