// Every fault of the radio, the line and the port, one row each, for the Start
// button and for the service panel's step buttons wherever the fault can reach
// that step. The window's own code - QSerialPort, Timer1 and the blocking yield -
// runs against the simulated radio program over a pseudo-terminal.
//
// Each row checks what the operator and the radio are left with: exactly one
// message with its exact text, the port given back (the device opens again at
// once, and no descriptor of this process still points at it), a window that
// takes the next press, and - from the radio's counts and its flash - that
// nothing was sent or written after the step that failed.
//
// Faults that cost many deadlines, and late replies, whose effect depends on
// exactly when their bytes fall between two reads, run on the virtual clock
// instead (manyDeadlinesAndLateReplies).
#include "app/frm_main.h"
#include "app/widgets.h"
#include "pty_simulator.h"
#include "radio_model.h"
#include "window_fixture.h"

#include <QApplication>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

namespace {

// Keeps the deadlines of this suite short; the 5-second length itself is tested
// on the virtual clock.
constexpr int DeadlineMs = 1000;
// Chunks of the embedded image that hold data below the boot block.
constexpr int DataChunks = 250;

enum class Press { Start, Connect, Erase, Write, End };
// How the port itself fails, apart from the radio behind it.
enum class PortFault { None, Missing, Denied, Busy };

} // namespace

Q_DECLARE_METATYPE(Press)
Q_DECLARE_METATYPE(PortFault)
Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

QPushButton* buttonFor(frmMain& w, Press press) {
    switch (press) {
    case Press::Start:
        return w.cmdStart;
    case Press::Connect:
        return w.Command11;
    case Press::Erase:
        return w.Command8;
    case Press::Write:
        return w.Command9;
    case Press::End:
        return w.Command10;
    }
    return nullptr;
}

QString passText(Press press) {
    switch (press) {
    case Press::Start:
        return QStringLiteral("Completed.");
    case Press::Connect:
        return QStringLiteral("Connected.");
    case Press::Erase:
        return QStringLiteral("Erased.");
    case Press::Write:
        return QStringLiteral("Write OK.");
    case Press::End:
        return QStringLiteral("Disconnected.");
    }
    return {};
}

struct Message {
    QString text, title;
    MessageIcon icon;
};

// The window on the program's own port and clock, COM1 wired to `device`, the
// service panel revealed as the operator would.
class Program {
public:
    explicit Program(const QString& device, int deadlineMs = DeadlineMs) {
        wire(device);
        WindowEnvironment env;
        env.presenter = [this](const QString& text, const QString& title, MessageIcon icon) {
            messages.append({text, title, icon});
        };
        window = std::make_unique<frmMain>(std::move(env));
        window->Timer1->setInterval(deadlineMs);
        for (int i = 0; i < frmMain::RevealCount; ++i)
            window->Text1_DblClick();
    }
    ~Program() { qunsetenv("RQV5_COM1"); }

    // COM1 is resolved at every open, so this also moves a running program.
    static void wire(const QString& device) { qputenv("RQV5_COM1", device.toLocal8Bit()); }
    void press(Press p) { buttonFor(*window, p)->click(); }

    std::unique_ptr<frmMain> window;
    QList<Message> messages;
};

// A second program that holds the port: this test's own executable, started with
// RQV5_HOLD_PORT, opens the device with QSerialPort and keeps it until its
// standard input closes.
class PortHolder {
public:
    explicit PortHolder(const QString& device) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("RQV5_HOLD_PORT"), device);
        process_.setProcessEnvironment(env);
        process_.start(QCoreApplication::applicationFilePath(), {});
        process_.waitForReadyRead(10000);
        holding_ = process_.readLine().trimmed() == "held";
    }
    ~PortHolder() { release(); }
    bool holding() const { return holding_; }
    void release() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(1000);
    }

private:
    QProcess process_;
    bool holding_ = false;
};

int holdPort(const QString& device, int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("failed %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    port.close();
    return 0;
}

// Whether a descriptor of this process still points at `device`.
bool processHolds(const QString& device) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(entry.path(), linkError);
        if (!linkError && QString::fromStdString(target.string()) == device)
            return true;
    }
    return false;
}

// What the next program to use the port would see: does it open?
bool opensAgain(const QString& device) {
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.close();
    return true;
}

// The radio's flash after a run: its first contents, the eight blocks below the
// boot block erased if an erase reached the radio, and the first `chunks` chunks
// of the image that hold data programmed. Programming can only clear bits.
QByteArray expectedFlash(const MemoryImage& image, bool erased, int chunks) {
    QByteArray flash = sim::RadioModel::initialFlash();
    constexpr int bootBlock = 0xFF000 - 0xC0000;
    if (erased)
        flash.replace(0, bootBlock, QByteArray(bootBlock, '\xFF'));
    int programmed = 0;
    for (int row = MemoryImage::FirstRow; row <= Link::LastChunkRow && programmed < chunks;
         row += Link::RowsPerChunk) {
        bool hasData = false;
        for (int k = 0; k < Link::RowsPerChunk; ++k)
            hasData = hasData || image.RowHasData(row + k) == MemoryImage::True;
        if (!hasData)
            continue;
        for (int k = 0; k < Link::RowsPerChunk; ++k)
            for (int c = 0; c < MemoryImage::Columns; ++c) {
                const int at = (row + k) * 16 + c - 0xC0000;
                flash[at] =
                    static_cast<char>(static_cast<std::uint8_t>(flash[at]) & image.ImageData(row + k, c));
            }
        ++programmed;
    }
    return flash;
}

// Empty when the flash is as expected, else where it first differs.
QString flashDifference(const QByteArray& actual, const QByteArray& expected) {
    if (actual.size() != expected.size())
        return QStringLiteral("flash of %1 bytes, expected %2").arg(actual.size()).arg(expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return QStringLiteral("flash at %1 holds %2, expected %3")
                .arg(0xC0000 + i, 0, 16)
                .arg(std::uint8_t(actual[i]), 2, 16, QLatin1Char('0'))
                .arg(std::uint8_t(expected[i]), 2, 16, QLatin1Char('0'));
    return {};
}

// The window is idle again and takes the next press of any button.
QString idleProblem(frmMain& w) {
    if (w.operationRunning())
        return QStringLiteral("an operation is still running");
    if (w.timer1Running())
        return QStringLiteral("Timer1 still runs");
    if (w.MSComm1().isOpen())
        return QStringLiteral("the port is still open");
    if (w.hourglass())
        return QStringLiteral("the hourglass is still shown");
    if (!w.bar->isHidden())
        return QStringLiteral("the progress bar is still shown");
    for (QPushButton* b : {w.cmdStart, w.cmdMacro[2], w.Command11, w.Command8, w.Command9, w.Command10})
        if (!b->isEnabled())
            return b->objectName() + QStringLiteral(" is still disabled");
    return {};
}

// The radio's counts of identify, connect, BE, PG and ED.
QList<int> countsOf(const QMap<QByteArray, QByteArray>& summary) {
    QList<int> counts;
    for (const char* key : {"identify", "connect", "be", "pg", "ed"})
        counts.append(summary.value(key, "-1").toInt());
    return counts;
}

QList<int> countsOf(const sim::RadioModel& radio) {
    return {radio.count(Kind::Identify), radio.count(Kind::Connect), radio.count(Kind::BE),
            radio.count(Kind::PG), radio.count(Kind::ED)};
}

sim::RadioOptions radioWith(const std::function<void(sim::RadioOptions&)>& change) {
    sim::RadioOptions options;
    change(options);
    return options;
}

bool ptyAvailable() {
    return QFile::exists(QStringLiteral("/dev/ptmx"));
}

// Which step the window is waiting in, told from what it last put on the line;
// `step` is "identify", "connect" (after an identify), "open" (any), "BE", "PG" or "ED".
bool waitingIn(frmMain& w, const QByteArray& step) {
    if (!w.MSComm1().isOpen())
        return false;
    const QByteArray letters(reinterpret_cast<const char*>(w.link().TxPacket.data()) + 2, 2);
    if (step == "identify")
        return w.link().RxBuf.isEmpty();
    if (step == "connect")
        return w.link().RxBuf.startsWith("QZ~RQ-V5");
    if (step == "open")
        return true;
    return letters == step;
}

} // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT

    // One row: the button, the radio's options, how the port fails, the one
    // message, the radio's counts {identify, connect, BE, PG, ED}, and its flash:
    // erased or not, and how many chunks of the image it holds.
    static void row(const char* name, Press press, const QStringList& options, const QString& text,
                    const QList<int>& counts, bool erased, int chunks, PortFault port = PortFault::None) {
        QTest::newRow(name) << press << options << port << text << counts << erased << chunks;
    }

private slots:
    void init() {
        if (!ptyAvailable())
            QSKIP("no pseudo-terminals on this machine");
    }

    void matrix_data() {
        QTest::addColumn<Press>("press");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<PortFault>("port");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<bool>("erased");
        QTest::addColumn<int>("chunks");

        constexpr int N = DataChunks;
        const auto S = Press::Start;
        // The Start sequence. Identify decides "Error" or "Region error"; each
        // later step has its own text, and the first that fails ends the run.
        row("start: no radio", S, {"--silent"}, "Error", {1, 0, 0, 0, 0}, false, 0);
        row("start: echo only", S, {"--echo-only"}, "Error", {1, 0, 0, 0, 0}, false, 0);
        row("start: region error", S, {"--identify-code", "RE"}, "Region error", {1, 0, 0, 0, 0}, false, 0);
        row("start: identify answered NG", S, {"--ng", "identify:1"}, "Error", {1, 0, 0, 0, 0}, false, 0);
        row("start: identify answer misframed", S, {"--reply", "identify:0d0a4f4b0a0d"}, "Error",
            {1, 0, 0, 0, 0}, false, 0);
        row("start: identify answer as a status", S, {"--reply", "identify:4f4b0d0a"}, "Error",
            {1, 0, 0, 0, 0}, false, 0);
        row("start: connect answered OK", S, {"--connect-code", "OK"}, "Connect failed.", {1, 1, 0, 0, 0},
            false, 0);
        row("start: connect answered NG", S, {"--ng", "connect:1"}, "Connect failed.", {1, 1, 0, 0, 0}, false,
            0);
        row("start: connect answer framed", S, {"--reply", "connect:0d0a43540d0a"}, "Connect failed.",
            {1, 1, 0, 0, 0}, false, 0);
        row("start: BE NG 2 of 3", S, {"--ng", "be:2"}, "Completed.", {1, 1, 3, N, 1}, true, N);
        row("start: BE NG 3 of 3", S, {"--ng", "be:3"}, "Erase failed.", {1, 1, 3, 0, 0}, false, 0);
        row("start: BE answered OK", S, {"--ok-instead", "be"}, "Erase failed.", {1, 1, 1, 0, 0}, true, 0);
        // The radio erases, but its answer is not a status reply.
        row("start: BE answer framed", S, {"--reply", "be:0d0a42450d0a"}, "Erase failed.", {1, 1, 3, 0, 0},
            true, 0);
        row("start: PG NG 9 of 10", S, {"--ng", "pg:9"}, "Completed.", {1, 1, 1, N + 9, 1}, true, N);
        row("start: PG NG 10 of 10", S, {"--ng", "pg:10"}, "Write failed.", {1, 1, 1, 10, 0}, true, 0);
        // The radio programs the first chunk every time, but never says so.
        row("start: PG answer framed", S, {"--reply", "pg:0d0a50470d0a"}, "Write failed.", {1, 1, 1, 10, 0},
            true, 1);
        row("start: ED NG 9 of 10", S, {"--ng", "ed:9"}, "Completed.", {1, 1, 1, N, 10}, true, N);
        row("start: ED NG 10 of 10", S, {"--ng", "ed:10"}, "Disconnect failed.", {1, 1, 1, N, 10}, true, N);
        row("start: ED answered OK", S, {"--ok-instead", "ed"}, "Disconnect failed.", {1, 1, 1, N, 1}, true,
            N);
        row("start: ED answer framed", S, {"--reply", "ed:0d0a45440d0a"}, "Disconnect failed.",
            {1, 1, 1, N, 10}, true, N);
        // Hang-ups: the echo comes back, then the cable is pulled before the answer.
        row("start: hang-up during identify", S, {"--echo-only", "--hang-up-after", "identify:1"}, "Error",
            {1, 0, 0, 0, 0}, false, 0);
        row("start: hang-up during connect", S, {"--reply", "connect:", "--hang-up-after", "connect:1"},
            "Connect failed.", {1, 1, 0, 0, 0}, false, 0);
        row("start: hang-up during erase", S, {"--reply", "be:", "--hang-up-after", "be:1"}, "Erase failed.",
            {1, 1, 1, 0, 0}, true, 0);
        row("start: hang-up during the write", S, {"--hang-up-after", "pg:20"}, "Write failed.",
            {1, 1, 1, 20, 0}, true, 20);
        row("start: hang-up during the end", S, {"--reply", "ed:", "--hang-up-after", "ed:1"},
            "Disconnect failed.", {1, 1, 1, N, 1}, true, N);
        row("start: no such port", S, {}, "Error", {0, 0, 0, 0, 0}, false, 0, PortFault::Missing);
        row("start: no permission", S, {}, "Error", {0, 0, 0, 0, 0}, false, 0, PortFault::Denied);
        row("start: port held by another program", S, {}, "Error", {0, 0, 0, 0, 0}, false, 0,
            PortFault::Busy);
        row("start: garbage ahead of the echo", S, {"--garbage", "00"}, "Error", {1, 0, 0, 0, 0}, false, 0);

        // The step buttons, each on its own: no identify, no bar.
        const auto C = Press::Connect;
        const QString cf = QStringLiteral("Connect failed.");
        row("connect: no radio", C, {"--silent"}, cf, {0, 1, 0, 0, 0}, false, 0);
        row("connect: echo only", C, {"--echo-only"}, cf, {0, 1, 0, 0, 0}, false, 0);
        row("connect: answered OK", C, {"--connect-code", "OK"}, cf, {0, 1, 0, 0, 0}, false, 0);
        row("connect: answered NG", C, {"--ng", "connect:1"}, cf, {0, 1, 0, 0, 0}, false, 0);
        row("connect: answer framed", C, {"--reply", "connect:0d0a43540d0a"}, cf, {0, 1, 0, 0, 0}, false, 0);
        row("connect: hang-up", C, {"--reply", "connect:", "--hang-up-after", "connect:1"}, cf,
            {0, 1, 0, 0, 0}, false, 0);
        row("connect: no such port", C, {}, cf, {0, 0, 0, 0, 0}, false, 0, PortFault::Missing);
        row("connect: no permission", C, {}, cf, {0, 0, 0, 0, 0}, false, 0, PortFault::Denied);
        row("connect: port held by another program", C, {}, cf, {0, 0, 0, 0, 0}, false, 0, PortFault::Busy);
        row("connect: garbage ahead of the echo", C, {"--garbage", "00"}, cf, {0, 1, 0, 0, 0}, false, 0);

        const auto E = Press::Erase;
        const QString ef = QStringLiteral("Erase failed.");
        row("erase: no radio", E, {"--silent"}, ef, {0, 0, 3, 0, 0}, false, 0);
        row("erase: echo only", E, {"--echo-only"}, ef, {0, 0, 3, 0, 0}, false, 0);
        row("erase: NG 2 of 3", E, {"--ng", "be:2"}, "Erased.", {0, 0, 3, 0, 0}, true, 0);
        row("erase: NG 3 of 3", E, {"--ng", "be:3"}, ef, {0, 0, 3, 0, 0}, false, 0);
        row("erase: answered OK", E, {"--ok-instead", "be"}, ef, {0, 0, 1, 0, 0}, true, 0);
        row("erase: answer framed", E, {"--reply", "be:0d0a42450d0a"}, ef, {0, 0, 3, 0, 0}, true, 0);
        row("erase: hang-up", E, {"--reply", "be:", "--hang-up-after", "be:1"}, ef, {0, 0, 1, 0, 0}, true, 0);
        row("erase: no such port", E, {}, ef, {0, 0, 0, 0, 0}, false, 0, PortFault::Missing);
        row("erase: no permission", E, {}, ef, {0, 0, 0, 0, 0}, false, 0, PortFault::Denied);
        row("erase: port held by another program", E, {}, ef, {0, 0, 0, 0, 0}, false, 0, PortFault::Busy);
        row("erase: garbage ahead of the echo", E, {"--garbage", "00"}, ef, {0, 0, 3, 0, 0}, true, 0);

        // The write without an erase first: the radio programs onto whatever its
        // flash holds, which the expected flash takes into account.
        const auto W = Press::Write;
        const QString wf = QStringLiteral("Write failed.");
        row("write: NG 9 of 10", W, {"--ng", "pg:9"}, "Write OK.", {0, 0, 0, N + 9, 0}, false, N);
        row("write: NG 10 of 10", W, {"--ng", "pg:10"}, wf, {0, 0, 0, 10, 0}, false, 0);
        row("write: answered OK", W, {"--ok-instead", "pg"}, "Write OK.", {0, 0, 0, N, 0}, false, N);
        row("write: answer framed", W, {"--reply", "pg:0d0a50470d0a"}, wf, {0, 0, 0, 10, 0}, false, 1);
        row("write: hang-up", W, {"--hang-up-after", "pg:20"}, wf, {0, 0, 0, 20, 0}, false, 20);
        row("write: hang-up before an answer", W, {"--reply", "pg:", "--hang-up-after", "pg:1"}, wf,
            {0, 0, 0, 1, 0}, false, 1);
        row("write: no such port", W, {}, wf, {0, 0, 0, 0, 0}, false, 0, PortFault::Missing);
        row("write: no permission", W, {}, wf, {0, 0, 0, 0, 0}, false, 0, PortFault::Denied);
        row("write: port held by another program", W, {}, wf, {0, 0, 0, 0, 0}, false, 0, PortFault::Busy);
        row("write: garbage ahead of the echo", W, {"--garbage", "00:10"}, wf, {0, 0, 0, 10, 0}, false, 1);

        const auto D = Press::End;
        const QString df = QStringLiteral("Disconnect failed.");
        row("end: NG 9 of 10", D, {"--ng", "ed:9"}, "Disconnected.", {0, 0, 0, 0, 10}, false, 0);
        row("end: NG 10 of 10", D, {"--ng", "ed:10"}, df, {0, 0, 0, 0, 10}, false, 0);
        row("end: answered OK", D, {"--ok-instead", "ed"}, df, {0, 0, 0, 0, 1}, false, 0);
        row("end: answer framed", D, {"--reply", "ed:0d0a45440d0a"}, df, {0, 0, 0, 0, 10}, false, 0);
        row("end: hang-up", D, {"--reply", "ed:", "--hang-up-after", "ed:1"}, df, {0, 0, 0, 0, 1}, false, 0);
        row("end: no such port", D, {}, df, {0, 0, 0, 0, 0}, false, 0, PortFault::Missing);
        row("end: no permission", D, {}, df, {0, 0, 0, 0, 0}, false, 0, PortFault::Denied);
        row("end: port held by another program", D, {}, df, {0, 0, 0, 0, 0}, false, 0, PortFault::Busy);
        row("end: garbage ahead of the echo", D, {"--garbage", "00"}, df, {0, 0, 0, 0, 10}, false, 0);
    }

    void matrix() {
        QFETCH(Press, press);
        QFETCH(QStringList, options);
        QFETCH(PortFault, port);
        QFETCH(QString, text);
        QFETCH(QList<int>, counts);
        QFETCH(bool, erased);
        QFETCH(int, chunks);

        if (port == PortFault::Denied && ::geteuid() == 0)
            QSKIP("root opens a device whatever its permissions");

        PtySimulator radio(options);
        QVERIFY2(radio.started(), radio.errors().constData());
        const QString device =
            port == PortFault::Missing ? QStringLiteral("/dev/rqv5-no-such-port") : radio.device();
        const bool hangsUp = options.contains(QStringLiteral("--hang-up-after"));

        std::unique_ptr<PortHolder> holder;
        if (port == PortFault::Busy) {
            holder = std::make_unique<PortHolder>(device);
            QVERIFY2(holder->holding(), "the second program could not take the port");
        }
        struct stat before {};
        if (port == PortFault::Denied) {
            QCOMPARE(::stat(qPrintable(device), &before), 0);
            QCOMPARE(::chmod(qPrintable(device), 0), 0);
        }

        Program p(device);
        p.press(press);

        if (port == PortFault::Denied)
            ::chmod(qPrintable(device), before.st_mode & 07777);
        if (holder)
            holder->release();

        // One message, with the exact text, title and icon.
        QCOMPARE(p.messages.size(), 1);
        QCOMPARE(p.messages[0].text, text);
        const bool passed = text == passText(press);
        QCOMPARE(p.messages[0].title, passed ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(p.messages[0].icon, passed ? MessageIcon::None : MessageIcon::Warning);

        // The port is given back: the next program can open it at once.
        QCOMPARE(idleProblem(*p.window), QString());
        QVERIFY(!processHolds(device));
        if (port != PortFault::Missing && !hangsUp)
            QVERIFY(opensAgain(device));

        // Nothing was sent or written after the step that failed.
        const auto summary = radio.stop();
        QCOMPARE(countsOf(summary), counts);
        QCOMPARE(summary.value("bad_check_bytes"), QByteArray("0"));
        QCOMPARE(summary.value("unknown"), QByteArray("0"));
        QCOMPARE(summary.value("hung_up"), hangsUp ? QByteArray("1") : QByteArray("0"));
        QCOMPARE(flashDifference(radio.flash(), expectedFlash(p.window->image, erased, chunks)), QString());

        // The same window takes the next press, against a healthy radio.
        PtySimulator healthy;
        QVERIFY(healthy.started());
        Program::wire(healthy.device());
        p.press(press);
        QCOMPARE(p.messages.size(), 2);
        QCOMPARE(p.messages[1].text, passText(press));
        QCOMPARE(idleProblem(*p.window), QString());
    }

    // Faults that cost many deadlines, and late replies, on the virtual clock
    // with the real 5-second deadline.
    //
    // A late reply lands in the next attempt of the same procedure. At 57600 baud
    // the radio has a packet 89 ms after its first byte, once the echo of the
    // first half is in and the second half written; an answer 4955 ms late is
    // then ready 44 ms after the deadline, while the echo of the next attempt's
    // first half is still on the line, and goes out right behind it. The total
    // reaches 1036 with the stale answer inside the echo, the reply index is off
    // by four, and the attempt's own answer is left over for the one after it,
    // and so on: every later attempt of the procedure fails.
    void manyDeadlinesAndLateReplies_data() {
        QTest::addColumn<Press>("press");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<bool>("erased");
        QTest::addColumn<int>("chunks");

        constexpr int N = DataChunks;
        const auto silent = radioWith([](auto& o) { o.silent = true; });
        const auto echoOnly = radioWith([](auto& o) { o.echoOnly = true; });
        const auto unanswered = [](Kind kind) {
            return radioWith([kind](auto& o) { o.faultsFor(kind).reply = QByteArray(); });
        };
        const auto lateOnce = [](Kind kind) {
            return radioWith([kind](auto& o) {
                o.pacing.baud = 57600;
                o.faultsFor(kind).late = sim::millis(4955);
                o.faultsFor(kind).lateFirst = 1;
            });
        };

        QTest::newRow("start: PG unanswered") << Press::Start << unanswered(Kind::PG) << "Write failed."
                                              << QList<int>{1, 1, 1, 10, 0} << true << 1;
        QTest::newRow("start: ED unanswered") << Press::Start << unanswered(Kind::ED) << "Disconnect failed."
                                              << QList<int>{1, 1, 1, N, 10} << true << N;
        QTest::newRow("start: late BE reply") << Press::Start << lateOnce(Kind::BE) << "Erase failed."
                                              << QList<int>{1, 1, 3, 0, 0} << true << 0;
        QTest::newRow("start: late PG reply") << Press::Start << lateOnce(Kind::PG) << "Write failed."
                                              << QList<int>{1, 1, 1, 10, 0} << true << 1;
        QTest::newRow("start: late ED reply") << Press::Start << lateOnce(Kind::ED) << "Disconnect failed."
                                              << QList<int>{1, 1, 1, N, 10} << true << N;
        QTest::newRow("erase: late reply") << Press::Erase << lateOnce(Kind::BE) << "Erase failed."
                                           << QList<int>{0, 0, 3, 0, 0} << true << 0;
        QTest::newRow("write: no radio")
            << Press::Write << silent << "Write failed." << QList<int>{0, 0, 0, 10, 0} << false << 0;
        QTest::newRow("write: echo only")
            << Press::Write << echoOnly << "Write failed." << QList<int>{0, 0, 0, 10, 0} << false << 0;
        QTest::newRow("write: late reply") << Press::Write << lateOnce(Kind::PG) << "Write failed."
                                           << QList<int>{0, 0, 0, 10, 0} << false << 1;
        QTest::newRow("end: no radio")
            << Press::End << silent << "Disconnect failed." << QList<int>{0, 0, 0, 0, 10} << false << 0;
        QTest::newRow("end: echo only")
            << Press::End << echoOnly << "Disconnect failed." << QList<int>{0, 0, 0, 0, 10} << false << 0;
        QTest::newRow("end: late reply") << Press::End << lateOnce(Kind::ED) << "Disconnect failed."
                                         << QList<int>{0, 0, 0, 0, 10} << false << 0;
    }

    void manyDeadlinesAndLateReplies() {
        QFETCH(Press, press);
        QFETCH(sim::RadioOptions, options);
        QFETCH(QString, text);
        QFETCH(QList<int>, counts);
        QFETCH(bool, erased);
        QFETCH(int, chunks);

        WindowFixture f(options);
        for (int i = 0; i < frmMain::RevealCount; ++i)
            f.window->Text1_DblClick();
        buttonFor(*f.window, press)->click();

        QCOMPARE(f.texts(), QStringList{text});
        QCOMPARE(f.messages[0].title, QStringLiteral("NG"));
        QCOMPARE(f.messages[0].icon, MessageIcon::Warning);
        QCOMPARE(idleProblem(*f.window), QString());
        QCOMPARE(countsOf(f.radio()), counts);
        QCOMPARE(f.radio().badCheckBytes(), 0);
        QCOMPARE(f.radio().count(Kind::Unknown), 0);
        QCOMPARE(flashDifference(f.radio().flash(), expectedFlash(f.window->image, erased, chunks)),
                 QString());
    }

    // Closing the window in the middle of each step, inside the application's
    // event loop as the program runs it: the press returns, no message is shown,
    // the port is given back, the window closes and the application quits.
    void closeMidStep_data() {
        QTest::addColumn<Press>("press");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("step");
        QTest::addColumn<QList<int>>("counts");

        // The radio takes its time over the step's message, so the window is
        // closed while that step waits for the answer.
        const auto slow = [](const char* kind) {
            return QStringList{"--processing", QString("%1:60000").arg(kind)};
        };
        QTest::newRow("start: identify")
            << Press::Start << slow("identify") << QByteArray("identify") << QList<int>{1, 0, 0, 0, 0};
        QTest::newRow("start: connect")
            << Press::Start << slow("connect") << QByteArray("connect") << QList<int>{1, 1, 0, 0, 0};
        QTest::newRow("start: erase")
            << Press::Start << slow("be") << QByteArray("BE") << QList<int>{1, 1, 1, 0, 0};
        QTest::newRow("start: write")
            << Press::Start << slow("pg") << QByteArray("PG") << QList<int>{1, 1, 1, 1, 0};
        QTest::newRow("start: end") << Press::Start << slow("ed") << QByteArray("ED")
                                    << QList<int>{1, 1, 1, DataChunks, 1};
        QTest::newRow("connect button")
            << Press::Connect << slow("connect") << QByteArray("open") << QList<int>{0, 1, 0, 0, 0};
        QTest::newRow("erase button")
            << Press::Erase << slow("be") << QByteArray("BE") << QList<int>{0, 0, 1, 0, 0};
        QTest::newRow("write button")
            << Press::Write << slow("pg") << QByteArray("PG") << QList<int>{0, 0, 0, 1, 0};
        QTest::newRow("end button") << Press::End << slow("ed") << QByteArray("ED")
                                    << QList<int>{0, 0, 0, 0, 1};
    }

    void closeMidStep() {
        QFETCH(Press, press);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, step);
        QFETCH(QList<int>, counts);

        PtySimulator radio(options);
        QVERIFY(radio.started());
        // The full deadline: the close, not a time-out, must end the wait.
        Program p(radio.device(), WaitClock::Timer1IntervalMs);
        p.window->show();
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        QSignalSpy deadlines(p.window->Timer1, &QTimer::timeout);

        bool closeSent = false, pressReturned = false;
        QTimer watch;
        watch.setInterval(1);
        connect(&watch, &QTimer::timeout, p.window.get(), [&] {
            if (!closeSent && waitingIn(*p.window, step)) {
                closeSent = true;
                // Time for the packet's second half to go out, so the radio has
                // the whole message and the window waits for its answer.
                QTimer::singleShot(200, p.window.get(), [&] { p.window->close(); });
            }
        });
        watch.start();
        QTimer::singleShot(0, p.window.get(), [&] {
            p.press(press);
            pressReturned = true;
        });
        // Only so that a program that never quits fails here instead of hanging.
        QTimer failSafe;
        failSafe.setSingleShot(true);
        connect(&failSafe, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        failSafe.start(30000);

        const int exitCode = QApplication::exec();
        watch.stop();
        failSafe.stop();

        QVERIFY(closeSent);
        QVERIFY(pressReturned);
        QCOMPARE(exitCode, 0);
        QCOMPARE(lastWindowClosed.count(), 1);
        QVERIFY(!p.window->isVisible());
        QCOMPARE(p.messages.size(), 0);
        // The close ended the wait, not its deadline.
        QCOMPARE(deadlines.count(), 0);
        QVERIFY(!p.window->MSComm1().isOpen());
        QVERIFY(!p.window->timer1Running());
        QVERIFY(!processHolds(radio.device()));
        QVERIFY(opensAgain(radio.device()));
        // The abandoned step tried once, and nothing came after it.
        QCOMPARE(countsOf(radio.stop()), counts);
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsSet("RQV5_HOLD_PORT"))
        return holdPort(qEnvironmentVariable("RQV5_HOLD_PORT"), argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    FaultMatrixTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fault_matrix.moc"
