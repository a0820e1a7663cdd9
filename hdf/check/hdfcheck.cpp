// zef400-hdfcheck [--json] [FILE]: runs the program's hardware description parser on FILE (by
// default the program's own description under ZEF400_ROOT) and says whether the program would
// accept it, why not, and how many boards and amplifiers it promises.

#include "hdf/hdffileparser.h"
#include "platform/rootpath.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <unistd.h>

using HdfParser::HdfFileParser;

namespace {

const char usage[] = "usage: zef400-hdfcheck [--json] [FILE]\n"
                     "  FILE defaults to /var/etc/Hdf.hdf under ZEF400_ROOT.\n"
                     "  Exit status: 0 accepted, 1 rejected, 2 bad command line.\n";

QString boardsText(const HdfFileParser& parser)
{
    QStringList pairs;
    for (const HdfParser::Board& b : parser.getBoards())
        pairs << QStringLiteral("(%1, %2)").arg(b.rack).arg(b.unit);
    return pairs.isEmpty() ? QStringLiteral("none") : pairs.join(QLatin1Char(' '));
}

// How the file's lines end. The controller's files are CR LF, and a record ends only with ";"
// before CR LF: in a file with LF alone records run together, and the parser's error then names
// something else (a component missing, a parameter not closed). Said apart so that it is seen.
struct LineEnds {
    int crlf = 0;
    int lfOnly = 0;
    int firstLfOnlyLine = 0;

    QString name() const
    {
        if (lfOnly == 0)
            return crlf == 0 ? QStringLiteral("none") : QStringLiteral("CR LF");
        return crlf == 0 ? QStringLiteral("LF") : QStringLiteral("mixed");
    }
};

LineEnds lineEndsOf(const QString& file)
{
    LineEnds ends;
    QFile f(file);
    if (!QFileInfo(file).isFile() || !f.open(QIODevice::ReadOnly))
        return ends;
    const QByteArray bytes = f.readAll();
    int line = 1;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n')
            continue;
        if (i > 0 && bytes[i - 1] == '\r') {
            ++ends.crlf;
        } else if (ends.lfOnly++ == 0) {
            ends.firstLfOnlyLine = line;
        }
        ++line;
    }
    return ends;
}

QString lineEndsText(const LineEnds& ends)
{
    if (ends.lfOnly == 0)
        return ends.name();
    return QStringLiteral("%1 (first line without CR: %2): a record ends only with \";\" "
                          "before CR LF, so this file is not read as written; save it with CR LF "
                          "line ends")
        .arg(ends.name())
        .arg(ends.firstLfOnlyLine);
}

QByteArray json(const HdfFileParser& parser, const LineEnds& ends)
{
    QJsonArray boards;
    for (const HdfParser::Board& b : parser.getBoards())
        boards.append(QJsonArray { int(b.rack), int(b.unit) });
    const QJsonObject object {
        { "file", QString::fromStdString(parser.getFileName()) },
        { "accepted", parser.getErrorCode() == 0 },
        { "errorCode", parser.getErrorCode() },
        { "errorLine", int(parser.getErrorLine()) },
        { "errorValue", int(parser.getErrorValue()) },
        { "reason", QString::fromStdString(parser.getErrorText()) },
        { "boards", boards },
        { "amps", int(parser.getPowerAmplifiers().size()) },
        { "lineEnds", ends.name() },
        { "firstLfOnlyLine", ends.firstLfOnlyLine },
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

int main(int argc, char** argv)
{
    bool asJson = false;
    QString file;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--json")) {
            asJson = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg.startsWith(QLatin1Char('-')) || haveFile) {
            std::fprintf(stderr, "zef400-hdfcheck: unexpected argument '%s'\n%s", argv[i], usage);
            return 2;
        } else {
            file = arg;
            haveFile = true;
        }
    }
    if (!haveFile)
        file = Platform::rootPath(QStringLiteral("/var/etc/Hdf.hdf"));

    // With --json standard output carries the object alone: log lines, which the parser writes
    // to standard output, go to standard error meanwhile.
    int jsonFd = -1;
    if (asJson) {
        std::fflush(stdout);
        jsonFd = ::dup(STDOUT_FILENO);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }

    const HdfFileParser& parser = HdfFileParser::instance(QFile::encodeName(file).toStdString());
    const bool accepted = parser.getErrorCode() == 0;
    const LineEnds ends = lineEndsOf(file);

    if (asJson) {
        std::fflush(stdout);
        const QByteArray bytes = json(parser, ends);
        qint64 written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(jsonFd, bytes.constData() + written, bytes.size() - written);
            if (n <= 0)
                break;
            written += n;
        }
        ::close(jsonFd);
    } else {
        // Plain concatenation: the reason quotes the record, which may hold "%1".
        const QString text = QStringLiteral("file: ") + file + QStringLiteral("\nverdict: ")
            + (accepted ? QStringLiteral("accepted") : QStringLiteral("rejected"))
            + QStringLiteral("\nerror: code %1, line %2, value %3\nreason: ")
                  .arg(parser.getErrorCode())
                  .arg(parser.getErrorLine())
                  .arg(parser.getErrorValue())
            + (accepted ? QStringLiteral("-") : QString::fromStdString(parser.getErrorText()))
            + QStringLiteral("\nline ends: ") + lineEndsText(ends)
            + QStringLiteral("\nboards (rack, unit): ") + boardsText(parser)
            + QStringLiteral("\nmainboards: %1\namplifiers (Amp entries): %2\n")
                  .arg(parser.getBoards().size())
                  .arg(parser.getPowerAmplifiers().size());
        std::fputs(text.toLocal8Bit().constData(), stdout);
    }
    return accepted ? 0 : 1;
}
