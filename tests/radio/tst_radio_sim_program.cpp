// The simulator program on a real pseudo-terminal, driven with plain POSIX I/O.

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QByteArray identify = "QZ~RQ-V5\r";
const QByteArray framedOK = QByteArray::fromHex("0d0a4f4b0d0a");

// Reads until `n` bytes came, the line hangs up, or `boundMs` passes (a bound
// against hanging, not a measurement).
QByteArray readAtLeast(int fd, int n, int boundMs = 5000) {
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < n && timer.elapsed() < boundMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char buffer[256];
        const ssize_t r = ::read(fd, buffer, sizeof buffer);
        if (r <= 0)
            break;
        got.append(buffer, r);
    }
    return got;
}

// The simulator as a child process.
class SimProcess {
public:
    ~SimProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // The device it serves, empty when it did not start.
    QString start(const QStringList& arguments = {}) {
        process.start(QStringLiteral(RQV5_RADIO_SIM), arguments);
        while (!process.canReadLine() && process.waitForReadyRead(5000)) {
        }
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }

    // Stops it the way a harness does and reads its summary.
    QMap<QString, QString> stop() {
        if (process.state() != QProcess::NotRunning)
            process.terminate();
        return summary();
    }

    QMap<QString, QString> summary() {
        process.waitForFinished(5000);
        QMap<QString, QString> values;
        for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
            const auto eq = line.indexOf('=');
            if (eq > 0)
                values.insert(QString::fromLatin1(line.first(eq)), QString::fromLatin1(line.sliced(eq + 1)));
        }
        return values;
    }

    QProcess process;
};

int openDevice(const QString& device) {
    return ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
}

} // namespace

class TestRadioSimProgram : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (::access("/dev/ptmx", R_OK | W_OK) != 0)
            QSKIP("no pseudo-terminals on this machine (/dev/ptmx)");
    }

    void identifyOverAPseudoTerminal() {
        QTemporaryDir dir;
        const QString dump = dir.filePath("flash.bin");
        SimProcess sim;
        const QString device = sim.start({"--dump", dump});
        if (device.isEmpty())
            QSKIP(qPrintable("the simulator could not create a pseudo-terminal: " +
                             QString::fromLocal8Bit(sim.process.readAllStandardError())));

        // The program under test closes and reopens its port between steps.
        for (int round = 0; round < 2; ++round) {
            const int fd = openDevice(device);
            QVERIFY2(fd >= 0, qPrintable(device));
            QCOMPARE(::write(fd, identify.constData(), identify.size()), identify.size());
            QCOMPARE(readAtLeast(fd, 15), identify + framedOK);
            ::close(fd);
        }

        const auto summary = sim.stop();
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
        QCOMPARE(summary.value("identify"), "2");
        QCOMPARE(summary.value("bytes_received"), "18");
        QCOMPARE(summary.value("bytes_sent"), "30");
        QCOMPARE(summary.value("hung_up"), "0");
        QCOMPARE(summary.value("flash_crc32"), "ca86ee3b");
        QCOMPARE(summary.value("line_baud"), "57600");
        for (const char* key : {"bytes_ignored", "bytes_discarded", "connect", "pin", "be", "pg", "ed",
                                "legacy", "unknown", "bad_check_bytes", "rejected", "unerased_writes",
                                "erased_blocks", "idle_ms", "line_ms", "elapsed_ms"})
            QVERIFY2(summary.contains(key), key);
        QCOMPARE(QFileInfo(dump).size(), 0x40000);
    }

    void hangUpClosesTheLine() {
        SimProcess sim;
        const QString device = sim.start({"--hang-up-after", "identify:1"});
        if (device.isEmpty())
            QSKIP("the simulator could not create a pseudo-terminal");
        const int fd = openDevice(device);
        QVERIFY(fd >= 0);
        ::write(fd, identify.constData(), identify.size());
        // Whatever arrives before the cable goes, the line then ends.
        readAtLeast(fd, 1000);
        pollfd p{fd, POLLIN, 0};
        QVERIFY(poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)));
        ::close(fd);

        const auto summary = sim.summary(); // it leaves by itself
        QCOMPARE(sim.process.exitCode(), 0);
        QCOMPARE(summary.value("hung_up"), "1");
        QVERIFY(openDevice(device) < 0);
    }

    void replyToAClosedPortIsDiscarded() {
        SimProcess sim;
        const QString device = sim.start({"--late", "identify:300"});
        if (device.isEmpty())
            QSKIP("the simulator could not create a pseudo-terminal");
        int fd = openDevice(device);
        ::write(fd, identify.constData(), identify.size());
        ::close(fd);
        QThread::msleep(600); // past the late reply, with the port closed

        fd = openDevice(device);
        const QByteArray connect = "QZ~FLASH\r";
        ::write(fd, connect.constData(), connect.size());
        QCOMPARE(readAtLeast(fd, 13), connect + "CT\r\n");
        ::close(fd);
        const auto summary = sim.stop();
        // The late reply is always discarded; the echo only when it is ready after
        // the close, which depends on how fast this machine gets there.
        const int discarded = summary.value("bytes_discarded").toInt();
        QVERIFY2(discarded == framedOK.size() || discarded == identify.size() + framedOK.size(),
                 qPrintable(QString::number(discarded)));
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--bogus"};
        QTest::newRow("unknown kind") << QStringList{"--ng", "xx:1"};
        QTest::newRow("count missing") << QStringList{"--ng", "be"};
        QTest::newRow("zero count") << QStringList{"--ng", "be:0"};
        QTest::newRow("rate not a number") << QStringList{"--baud", "fast"};
        QTest::newRow("negative time") << QStringList{"--late", "pg:-5"};
        QTest::newRow("odd hex") << QStringList{"--garbage", "abc"};
        QTest::newRow("value missing") << QStringList{"--dump"};
        QTest::newRow("stray argument") << QStringList{"/dev/ttyS0"};
    }
    void badOptions() {
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(QStringLiteral(RQV5_RADIO_SIM), arguments);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(process.readAllStandardError().startsWith("rqv5-radio-sim: "));
    }
};

QTEST_GUILESS_MAIN(TestRadioSimProgram)
#include "tst_radio_sim_program.moc"
