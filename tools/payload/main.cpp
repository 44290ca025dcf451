// zq-make-payload: writes a demo payload (fw1.bin, settings.json and two
// display images) into a folder, for trying the tool against a simulated unit.
#include "PayloadWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zq-make-payload"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes fw1.bin, settings.json and two display images into DIR."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Folder to write into."));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
        QStringLiteral("Seed of the content (default 1)."), QStringLiteral("N"),
        QStringLiteral("1"));
    parser.addOption(seedOption);
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: zq-make-payload DIR [--seed N]\n");
        return 2;
    }
    bool ok = false;
    const quint32 seed = parser.value(seedOption).toUInt(&ok, 0);
    if (!ok) {
        std::fprintf(stderr, "zq-make-payload: --seed wants a number\n");
        return 2;
    }
    const QString dir = QDir(args.first()).absolutePath();
    if (!PayloadWriter::writeDemoPayload(dir, seed)) {
        std::fprintf(stderr, "zq-make-payload: cannot write into %s\n", qPrintable(dir));
        return 1;
    }
    std::printf("%s\n", qPrintable(dir));
    return 0;
}
