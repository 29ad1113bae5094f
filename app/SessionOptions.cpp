#include "SessionOptions.h"

#include "SessionRecorder.h"

#include <QCommandLineParser>
#include <QFile>

void AddSessionOptions(QCommandLineParser &parser) {
    parser.addOptions(
        {QCommandLineOption(QStringLiteral("record"), QString(), QStringLiteral("FILE")),
         QCommandLineOption(QStringLiteral("record-overwrite"), QString())});
}

QString TakeSessionOptions(const QCommandLineParser &parser, AppOptions &options) {
    options.recordOverwrite = parser.isSet(QStringLiteral("record-overwrite"));
    if (!parser.isSet(QStringLiteral("record")))
        return options.recordOverwrite ? QStringLiteral("--record-overwrite goes with --record")
                                       : QString();
    options.recordPath = parser.value(QStringLiteral("record"));
    if (options.recordPath.isEmpty())
        return QStringLiteral("--record wants a file name");
    const std::string problem = platform::CSessionRecorder::CheckTarget(
        QFile::encodeName(options.recordPath).toStdString(), options.recordOverwrite);
    return QString::fromLocal8Bit(problem.c_str());
}
