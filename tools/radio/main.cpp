// rqv5-radio-sim: the simulated RQ-V5 radio on a pseudo-terminal.
//
// Prints the device to open on its first line, serves until SIGTERM, SIGINT or
// SIGHUP (or a hang-up fault, or --exit-after), then prints a summary, one
// key=value per line. Exit code 0, 1 when the terminal failed or the dump could
// not be written, 2 for bad options.

#include "pty_radio.h"
#include "radio_model.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <stdexcept>

using namespace rqv5::sim;

namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void bad(const QString& message) {
    throw UsageError(message.toStdString());
}

int toInt(const QString& text, const QString& option, int min = 0) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min)
        bad(QStringLiteral("--%1: \"%2\" is not a whole number of at least %3").arg(option, text).arg(min));
    return value;
}

Micros toMicrosFromMs(const QString& text, const QString& option) {
    bool ok = false;
    const double ms = text.toDouble(&ok);
    if (!ok || ms < 0 || !std::isfinite(ms) || ms > 1e9)
        bad(QStringLiteral("--%1: \"%2\" is not a time in milliseconds").arg(option, text));
    return std::llround(ms * 1000);
}

QByteArray toCode(const QString& text, const QString& option) {
    if (text.isEmpty() || text.size() > 8 || text.toLatin1() != text.toUtf8())
        bad(QStringLiteral("--%1: \"%2\" is not a reply code").arg(option, text));
    return text.toLatin1();
}

QByteArray toHex(const QString& text, const QString& option) {
    static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    if (!hex.match(text).hasMatch())
        bad(QStringLiteral("--%1: \"%2\" is not hexadecimal bytes").arg(option, text));
    return QByteArray::fromHex(text.toLatin1());
}

// The kinds a KIND:... argument names; "any" names every kind.
QList<Kind> toKinds(const QString& text, const QString& option) {
    if (text.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0) {
        QList<Kind> all;
        for (int i = 0; i < KindCount; ++i)
            all.append(static_cast<Kind>(i));
        return all;
    }
    const auto kind = kindFromName(text.toLatin1());
    if (!kind)
        bad(QStringLiteral(
                "--%1: unknown kind \"%2\" (identify, connect, pin, be, pg, ed, legacy, unknown, any)")
                .arg(option, text));
    return {*kind};
}

QStringList split(const QString& value, const QString& option, int minParts, int maxParts) {
    const QStringList parts = value.split(QLatin1Char(':'));
    if (parts.size() < minParts || parts.size() > maxParts)
        bad(QStringLiteral("--%1: \"%2\" does not have the form the option needs (see --help)")
                .arg(option, value));
    return parts;
}

struct Settings {
    RadioOptions radio;
    QString dumpPath;
    std::optional<Kind> exitKind;
    int exitAfter = 0;
};

Settings parseArguments(const QStringList& arguments, QCommandLineParser& parser) {
    using O = QCommandLineOption;
    parser.setApplicationDescription(QStringLiteral(
        "The simulated RQ-V5 radio on a pseudo-terminal. Prints the device to open, serves until "
        "SIGTERM/SIGINT, then prints a key=value summary.\nKIND is one of identify, connect, pin, be, "
        "pg, ed, legacy, unknown, or any. Times are in milliseconds."));
    parser.addOptions({
        O("baud", "Pace everything sent at this line rate (0: no pacing).", "rate", "0"),
        O("bits-per-byte", "Bits per byte on the line.", "n", "10"),
        O("frame-us", "Hand bytes over in frames of this many microseconds, as a USB adapter does.", "us",
          "0"),
        O("only-baud", "Ignore bytes the program writes at any other rate.", "rate", "0"),
        O("silent", "No echo, no answer."),
        O("echo-only", "Echo, but answer nothing."),
        O("identify-code", "Framed answer to identify, e.g. RE.", "code", "OK"),
        O("connect-code", "Status answer to QZ~FLASH.", "code", "CT"),
        O("legacy-connect-code", "Status at the head of the answer to QZ~E and FL.", "code", "CT"),
        O("legacy-erase-code", "Status at the head of the answer to a legacy erase frame.", "code", "OK"),
        O("legacy-end-code", "Status at the head of the answer to a legacy end frame.", "code", "OK"),
        O("reply", "Send exactly these bytes in place of every answer to KIND.", "kind:hex"),
        O("ng", "Answer NG to the first n messages of KIND.", "kind:n"),
        O("ok-instead", "Answer OK where the radio would give KIND's own code.", "kind"),
        O("late", "Answer KIND this much later; only the first n times if given.", "kind:ms[:n]"),
        O("processing", "Time spent on each message of KIND before answering.", "kind:ms"),
        O("hang-up-after", "Pull the cable after answering the n-th message (of KIND).", "[kind:]n"),
        O("garbage", "Send these bytes ahead of the echo of the first n messages (all if n is left out).",
          "hex[:n]"),
        O("dump", "Write the flash (0xC0000..0xFFFFF, 256 KB) to this file on exit.", "file"),
        O("exit-after", "Exit once the n-th message of KIND has been answered.", "kind:n"),
    });
    parser.addHelpOption();
    if (!parser.parse(arguments))
        bad(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        bad(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));

    Settings s;
    RadioOptions& r = s.radio;
    r.pacing.baud = toInt(parser.value("baud"), "baud");
    r.pacing.bitsPerByte = toInt(parser.value("bits-per-byte"), "bits-per-byte", 1);
    r.pacing.frame = toInt(parser.value("frame-us"), "frame-us");
    r.onlyBaud = toInt(parser.value("only-baud"), "only-baud");
    r.silent = parser.isSet("silent");
    r.echoOnly = parser.isSet("echo-only");
    r.identifyCode = toCode(parser.value("identify-code"), "identify-code");
    r.connectCode = toCode(parser.value("connect-code"), "connect-code");
    r.legacyConnectCode = toCode(parser.value("legacy-connect-code"), "legacy-connect-code");
    r.legacyEraseCode = toCode(parser.value("legacy-erase-code"), "legacy-erase-code");
    r.legacyEndCode = toCode(parser.value("legacy-end-code"), "legacy-end-code");

    for (const QString& v : parser.values("reply")) {
        const QStringList p = split(v, "reply", 2, 2);
        for (const Kind k : toKinds(p[0], "reply"))
            r.faultsFor(k).reply = toHex(p[1], "reply");
    }
    for (const QString& v : parser.values("ng")) {
        const QStringList p = split(v, "ng", 2, 2);
        for (const Kind k : toKinds(p[0], "ng"))
            r.faultsFor(k).ngFirst = toInt(p[1], "ng", 1);
    }
    for (const QString& v : parser.values("ok-instead")) {
        for (const Kind k : toKinds(v, "ok-instead"))
            r.faultsFor(k).okInstead = true;
    }
    for (const QString& v : parser.values("late")) {
        const QStringList p = split(v, "late", 2, 3);
        for (const Kind k : toKinds(p[0], "late")) {
            r.faultsFor(k).late = toMicrosFromMs(p[1], "late");
            r.faultsFor(k).lateFirst = p.size() == 3 ? toInt(p[2], "late", 1) : 0;
        }
    }
    for (const QString& v : parser.values("processing")) {
        const QStringList p = split(v, "processing", 2, 2);
        for (const Kind k : toKinds(p[0], "processing"))
            r.faultsFor(k).processing = toMicrosFromMs(p[1], "processing");
    }
    if (parser.isSet("hang-up-after")) {
        const QStringList p = split(parser.value("hang-up-after"), "hang-up-after", 1, 2);
        if (p.size() == 2 && p[0].compare(QLatin1String("any"), Qt::CaseInsensitive) != 0)
            r.hangUpKind = toKinds(p[0], "hang-up-after").constFirst();
        r.hangUpAfter = toInt(p.constLast(), "hang-up-after", 1);
    }
    if (parser.isSet("garbage")) {
        const QStringList p = split(parser.value("garbage"), "garbage", 1, 2);
        r.garbage = toHex(p[0], "garbage");
        r.garbageFirst = p.size() == 2 ? toInt(p[1], "garbage", 1) : 0;
    }
    s.dumpPath = parser.value("dump");
    if (parser.isSet("exit-after")) {
        const QStringList p = split(parser.value("exit-after"), "exit-after", 2, 2);
        const QList<Kind> kinds = toKinds(p[0], "exit-after");
        if (kinds.size() == 1)
            s.exitKind = kinds.constFirst();
        s.exitAfter = toInt(p[1], "exit-after", 1);
    }
    return s;
}

void printSummary(const RadioModel& radio, const PtyRadio& pty, Micros elapsed) {
    const int rate = radio.options().pacing.baud > 0 ? radio.options().pacing.baud : 57600;
    const auto ms = [](Micros us) { return QByteArray::number(static_cast<double>(us) / 1000.0, 'f', 3); };
    QByteArray out;
    const auto put = [&out](const char* key, const QByteArray& value) { out += key + ('=' + value) + '\n'; };
    put("bytes_received", QByteArray::number(radio.bytesReceived()));
    put("bytes_ignored", QByteArray::number(radio.bytesIgnored()));
    put("bytes_sent", QByteArray::number(radio.bytesSent()));
    put("bytes_discarded", QByteArray::number(pty.bytesDiscarded()));
    for (int i = 0; i < KindCount; ++i)
        put(kindName(static_cast<Kind>(i)).constData(),
            QByteArray::number(radio.count(static_cast<Kind>(i))));
    put("bad_check_bytes", QByteArray::number(radio.badCheckBytes()));
    put("rejected", QByteArray::number(radio.rejected()));
    put("unerased_writes", QByteArray::number(radio.unerasedWrites()));
    put("erased_blocks", QByteArray::number(radio.erasedBlocks().size()));
    put("flash_crc32", QByteArray::number(radio.flashCrc32(), 16).rightJustified(8, '0'));
    put("hung_up", radio.hungUp() ? "1" : "0");
    put("idle_ms", ms(radio.idleTime()));
    put("idle_waits", QByteArray::number(radio.idleCount()));
    put("idle_p50_ms", ms(radio.idlePercentile(0.5)));
    put("idle_p90_ms", ms(radio.idlePercentile(0.9)));
    put("idle_max_ms", ms(radio.idleMax()));
    put("line_baud", QByteArray::number(rate));
    put("line_ms", ms(radio.lineTime(rate)));
    put("elapsed_ms", ms(elapsed));
    std::fputs(out.constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    QCommandLineParser parser;
    Settings settings;
    try {
        settings = parseArguments(arguments, parser);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "rqv5-radio-sim: %s\nTry 'rqv5-radio-sim --help'.\n", e.what());
        return 2;
    }
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    RadioModel radio(settings.radio);
    PtyRadio pty(radio);
    if (!pty.open()) {
        std::fprintf(stderr, "rqv5-radio-sim: %s\n", qPrintable(pty.error()));
        return 1;
    }
    std::printf("%s\n", qPrintable(pty.devicePath()));
    std::fflush(stdout);

    const auto finished = [&] {
        if (settings.exitAfter == 0)
            return false;
        const int seen = settings.exitKind ? radio.count(*settings.exitKind) : radio.messageCount();
        return seen >= settings.exitAfter && !radio.nextEventTime();
    };
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    if (!pty.serve(finished)) {
        std::fprintf(stderr, "rqv5-radio-sim: %s\n", qPrintable(pty.error()));
        status = 1;
    }
    printSummary(radio, pty, timer.nsecsElapsed() / 1000);
    if (!settings.dumpPath.isEmpty() && !radio.dumpFlash(settings.dumpPath)) {
        std::fprintf(stderr, "rqv5-radio-sim: cannot write the flash to %s\n", qPrintable(settings.dumpPath));
        status = 1;
    }
    return status;
}
