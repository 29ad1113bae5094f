#include "SessionOptions.h"

#include "CommandLine.h"
#include "SessionRecorder.h"
#include "analysis/FixTrack.h"

#include <QCommandLineParser>

void AddSessionOptions(QCommandLineParser &parser) {
    parser.addOptions(
        {QCommandLineOption(QStringLiteral("record"), QString(), QStringLiteral("FILE")),
         QCommandLineOption(QStringLiteral("record-overwrite"), QString()),
         QCommandLineOption(QStringLiteral("view"), QString(), QStringLiteral("VIEW")),
         QCommandLineOption(QStringLiteral("reference"), QString(),
                            QStringLiteral("LAT,LON[,ALT]"))});
}

QString TakeSessionOptions(const QCommandLineParser &parser, AppOptions &options) {
    if (parser.isSet(QStringLiteral("view"))) {
        options.view = parser.value(QStringLiteral("view"));
        static const QStringList kViews = {QStringLiteral("scatter"), QStringLiteral("history"),
                                           QStringLiteral("console"), QStringLiteral("console-hex"),
                                           QStringLiteral("console-decoded")};
        if (!kViews.contains(options.view))
            return QStringLiteral("--view wants scatter or history or console (console-hex, "
                                  "console-decoded: in that view), got \"%1\"")
                .arg(options.view);
    }
    if (parser.isSet(QStringLiteral("reference"))) {
        options.reference = parser.value(QStringLiteral("reference"));
        GeoPoint point;
        if (!ParseReference(options.reference.toStdString(), point))
            return QStringLiteral("--reference wants LAT,LON[,ALT] in degrees and metres, got "
                                  "\"%1\"")
                .arg(options.reference);
    }
    options.recordOverwrite = parser.isSet(QStringLiteral("record-overwrite"));
    if (!parser.isSet(QStringLiteral("record")))
        return options.recordOverwrite ? QStringLiteral("--record-overwrite goes with --record")
                                       : QString();
    options.recordPath = parser.value(QStringLiteral("record"));
    if (options.recordPath.isEmpty())
        return QStringLiteral("--record wants a file name");
    const std::string problem = platform::CSessionRecorder::CheckTarget(
        FileNameBytes(options.recordPath).toStdString(), options.recordOverwrite);
    return QString::fromLocal8Bit(problem.c_str());
}
