// The exchange pattern shared by every procedure - line settings, open, write,
// timed wait, read, close - the two-stage packet transfer, and the two reply
// decoders, against the in-process radio on a virtual clock.
#include "link_rig.h"

#include <QRegularExpression>
#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

const QByteArray identifyCommand = "QZ~RQ-V5\r";

// Runs one protocol procedure by name. "frame" is ExchangeFrame(ModeFlash) of an
// "ED" packet on a port the test opened, as its callers do.
std::int16_t run(LinkRig& r, const QString& procedure) {
    if (procedure == "identify")
        return r.link.IdentifyDevice();
    if (procedure == "connect flash")
        return r.link.ConnectDevice(ModeFlash);
    if (procedure == "connect E")
        return r.link.ConnectDevice(ModeE);
    if (procedure == "connect FL")
        return r.link.ConnectDevice(ModeFL);
    if (procedure == "erase")
        return r.link.FlashErase();
    if (procedure == "end")
        return r.link.FlashEnd();
    if (procedure == "write") {
        r.image.RowHasData(0xC000) = MemoryImage::True;
        return r.link.FlashWriteImage();
    }
    if (procedure == "frame") {
        r.link.BuildEndPacket();
        r.port->open();
        const std::int16_t total = r.link.ExchangeFrame(ModeFlash);
        r.port->close();
        return total;
    }
    qFatal("no procedure %s", qPrintable(procedure));
}

// Micros after the simulation's start as whole virtual milliseconds.
std::int64_t ms(sim::Micros t) {
    return t / 1000;
}

} // namespace

class ExchangeTest : public QObject {
    Q_OBJECT

private slots:
    // --- Line settings -----------------------------------------------------

    void settingsPerOption_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("baud");
        // The connect of the two row-by-row modes never runs at 57600: with that
        // option chosen, a fresh port stays at its initial 38400.
        const struct {
            const char* name;
            bool honours57600;
        } procedures[] = {{"identify", true},   {"connect flash", true}, {"erase", true},
                          {"write", true},      {"end", true},           {"frame", true},
                          {"connect E", false}, {"connect FL", false}};
        for (const auto& p : procedures) {
            QTest::addRow("%s at 9600", p.name) << p.name << 0 << 9600;
            QTest::addRow("%s at 38400", p.name) << p.name << 1 << 38400;
            QTest::addRow("%s at 57600", p.name) << p.name << 2 << (p.honours57600 ? 57600 : 38400);
        }
    }

    void settingsPerOption() {
        QFETCH(QString, procedure);
        QFETCH(int, option);
        QFETCH(int, baud);

        LinkRig r;
        r.host.baudOption = option;
        run(r, procedure);
        const auto writes = r.port->writes();
        QVERIFY(!writes.isEmpty());
        for (const auto& w : writes) {
            QCOMPARE(w.settings.baud, baud);
            QVERIFY(w.settings == LineSettings{baud}); // n, 8, 1
        }
        QVERIFY(r.idle());
    }

    void unhonouredOptionKeepsTheLastSettings() {
        LinkRig r;
        r.host.baudOption = 0;
        QCOMPARE(r.link.IdentifyDevice(), ReplyOK);
        r.host.baudOption = 2;
        r.link.ConnectDevice(ModeE);
        QCOMPARE(r.port->writes().last().settings.baud, 9600);
        r.link.ConnectDevice(ModeFlash);
        QCOMPARE(r.port->writes().last().settings.baud, 57600);
        r.link.ConnectDevice(ModeFL);
        QCOMPARE(r.port->writes().last().settings.baud, 57600);
    }

    void parseLineSettings_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QChar>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits10");

        QTest::newRow("57600") << QByteArray("57600,n,8,1") << true << 57600 << QChar('n') << 8 << 10;
        QTest::newRow("38400") << QByteArray("38400,n,8,1") << true << 38400 << QChar('n') << 8 << 10;
        QTest::newRow("9600") << QByteArray("9600,n,8,1") << true << 9600 << QChar('n') << 8 << 10;
        QTest::newRow("even, 7, 2") << QByteArray("110,e,7,2") << true << 110 << QChar('e') << 7 << 20;
        QTest::newRow("odd, 1.5 stop")
            << QByteArray("19200,O,5,1.5") << true << 19200 << QChar('o') << 5 << 15;
        QTest::newRow("mark") << QByteArray("115200,m,4,1") << true << 115200 << QChar('m') << 4 << 10;

        const char* invalid[] = {"",
                                 "57600",
                                 "57600,n,8",
                                 "57600,n,8,1,",
                                 "57600,n,8,1,x",
                                 "57601,n,8,1",
                                 "-9600,n,8,1",
                                 " 57600,n,8,1",
                                 "57600,x,8,1",
                                 "57600,no,8,1",
                                 "57600,,8,1",
                                 "57600,n,9,1",
                                 "57600,n,3,1",
                                 "57600,n,8,3",
                                 "57600,n,8,1.0"};
        for (const char* text : invalid)
            QTest::addRow("invalid \"%s\"", text) << QByteArray(text) << false << 0 << QChar() << 0 << 0;
    }

    void parseLineSettings() {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);

        const auto parsed = rqv5::parseLineSettings(text.toStdString());
        QCOMPARE(parsed.has_value(), valid);
        if (!valid)
            return;
        QFETCH(int, baud);
        QFETCH(QChar, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits10);
        QCOMPARE(parsed->baud, baud);
        QCOMPARE(QChar(parsed->parity), parity);
        QCOMPARE(parsed->dataBits, dataBits);
        QCOMPARE(parsed->stopBits10, stopBits10);
    }

    // --- Opening and closing -------------------------------------------------

    void opensTheMenuPortAtEachProcedure() {
        // The radio hangs on COM3; COM1 exists but nothing answers there.
        LinkRig r({}, sim::PortSetup{{1, 3}, 3, {}});
        r.host.com = 3;
        QCOMPARE(r.link.IdentifyDevice(), ReplyOK);
        r.host.com = 1;
        QCOMPARE(r.link.ConnectDevice(ModeFlash), ReplyUnknown);

        QStringList seen;
        for (const auto& e : r.port->events()) {
            const char* what[] = {"open", "close", "write"};
            seen << QStringLiteral("%1 COM%2").arg(QLatin1String(what[int(e.type)])).arg(e.portNumber);
        }
        const QStringList expected{"open COM3", "write COM3", "close COM3",
                                   "open COM1", "write COM1", "close COM1"};
        QCOMPARE(seen, expected);
        QVERIFY(r.idle());
    }

    void openPortIsUsedAsItIs_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("result");
        QTest::newRow("identify") << "identify" << int(ReplyOK);
        QTest::newRow("connect") << "connect flash" << int(ReplyCT);
        QTest::newRow("erase") << "erase" << int(ReplyBE);
        QTest::newRow("write") << "write" << 0;
        QTest::newRow("end") << "end" << int(ReplyED);
    }

    void openPortIsUsedAsItIs() {
        QFETCH(QString, procedure);
        QFETCH(int, result);

        // The menu now names a port that does not exist, and another speed is
        // chosen: the open port keeps its number but takes the new settings.
        LinkRig r;
        r.port->open();
        r.host.com = 2;
        r.host.baudOption = 0;
        QCOMPARE(int(run(r, procedure)), result);
        QCOMPARE(r.port->openCount(), 1);
        for (const auto& w : r.port->writes()) {
            QCOMPARE(w.portNumber, 1);
            QCOMPARE(w.settings.baud, 9600);
        }
        QVERIFY(r.idle());
    }

    void portThatWillNotOpen_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("com");
        QTest::addColumn<int>("failure");
        // 17: no COM item carries a check mark. COM2 exists but another program holds it.
        for (int com : {17, 2}) {
            QTest::addRow("identify, COM%d", com) << "identify" << com << 8;
            QTest::addRow("connect flash, COM%d", com) << "connect flash" << com << 8;
            QTest::addRow("connect E, COM%d", com) << "connect E" << com << 8;
            QTest::addRow("erase, COM%d", com) << "erase" << com << -1;
            QTest::addRow("write, COM%d", com) << "write" << com << -1;
            QTest::addRow("end, COM%d", com) << "end" << com << -1;
        }
    }

    void portThatWillNotOpen() {
        QFETCH(QString, procedure);
        QFETCH(int, com);
        QFETCH(int, failure);

        LinkRig r({}, sim::PortSetup{{1, 2}, 1, {2}});
        r.host.com = static_cast<std::int16_t>(com);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("exchange failed: COM.* (does not exist|is in use)"));
        QCOMPARE(int(run(r, procedure)), failure);
        QVERIFY(r.port->events().isEmpty());
        QCOMPARE(r.radio().messageCount(), 0);
        QCOMPARE(r.clock().now(), sim::Micros{0}); // at once, no deadline
        QVERIFY(r.idle());
    }

    void runTimeErrorMidway_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("failure");
        // The cable is pulled right after the radio's answer has gone out.
        QTest::newRow("identify") << "identify" << int(Kind::Identify) << 8;
        QTest::newRow("connect") << "connect flash" << int(Kind::Connect) << 8;
        QTest::newRow("erase") << "erase" << int(Kind::BE) << -1;
        QTest::newRow("end") << "end" << int(Kind::ED) << -1;
    }

    void runTimeErrorMidway() {
        QFETCH(QString, procedure);
        QFETCH(int, kind);
        QFETCH(int, failure);

        LinkRig r(radioWith([&](auto& o) {
            o.hangUpAfter = 1;
            o.hangUpKind = Kind(kind);
        }));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("exchange failed: .*cable was pulled"));
        QCOMPARE(int(run(r, procedure)), failure);
        QVERIFY(r.radio().hungUp());
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    // --- The command exchange's wait -------------------------------------------

    void commandWait_data() {
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QByteArray>("rxBuf");

        const QByteArray ok = identifyCommand + "\r\nOK\r\n";
        const auto lateBy = [](int ms) {
            return radioWith([ms](auto& o) { o.faultsFor(Kind::Identify).late = sim::millis(ms); });
        };
        QTest::newRow("answered") << sim::RadioOptions{} << 0 << 0 << ok;
        QTest::newRow("nothing arrives")
            << radioWith([](auto& o) { o.silent = true; }) << 8 << 5000 << QByteArray();
        QTest::newRow("echo only") << radioWith([](auto& o) { o.echoOnly = true; }) << 8 << 5000
                                   << identifyCommand;
        QTest::newRow("answer just inside") << lateBy(4999) << 0 << 4999 << ok;
        // The answer completes in the yield that also delivers the expiry: the
        // count is taken after the wait, so it is still decoded.
        QTest::newRow("answer with the expiry") << lateBy(5000) << 0 << 5000 << ok;
        QTest::newRow("answer after the deadline") << lateBy(5001) << 8 << 5000 << identifyCommand;
        // Stale bytes ahead of the echo push the answer off its index.
        QTest::newRow("stale bytes ahead")
            << radioWith([](auto& o) { o.garbage = QByteArray::fromHex("0600"); }) << 8 << 0
            << QByteArray::fromHex("0600") + ok;
    }

    void commandWait() {
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, result);
        QFETCH(int, elapsedMs);
        QFETCH(QByteArray, rxBuf);

        LinkRig r(options);
        QCOMPARE(int(r.link.IdentifyDevice()), result);
        QCOMPARE(r.port->written(), identifyCommand);
        QCOMPARE(ms(r.clock().now() - r.port->writes().first().at), std::int64_t(elapsedMs));
        QCOMPARE(r.link.RxBuf, rxBuf);
        QVERIFY(r.idle());
    }

    // --- The two-stage packet transfer ---------------------------------------

    void packetTransferComplete() {
        LinkRig r;
        r.link.BuildEndPacket();
        const QByteArray packet(reinterpret_cast<const char*>(r.link.TxPacket.data()), Link::PacketSize);
        r.port->open();
        QCOMPARE(r.link.ExchangeFrame(ModeFlash), std::int16_t(1036));

        const auto writes = r.port->writes();
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0].bytes, packet.first(512));
        QCOMPARE(writes[1].bytes, packet.sliced(512));
        QCOMPARE(r.link.RxBuf, packet + "ED\r\n");
        QVERIFY(!r.host.timer1Running());
        QVERIFY(r.port->isOpen()); // the callers open and close the port
    }

    void packetTransferShort_data() {
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("total");
        QTest::addColumn<sim::Micros>("secondWriteAt");
        QTest::addColumn<int>("returnedAtMs");
        QTest::addColumn<int>("leftWaiting"); // -1: not looked at

        const sim::Micros deadline = sim::millis(5000);
        QTest::newRow("nothing arrives")
            << radioWith([](auto& o) { o.silent = true; }) << 0 << deadline << 5000 << 0;
        // The second half's echo stays unread: 520 is below the 524 that let
        // the second wait read.
        QTest::newRow("echo only") << radioWith([](auto& o) { o.echoOnly = true; }) << 512 << sim::Micros{0}
                                   << 5000 << 520;
        // At 300 baud only 150 bytes echo in 5 seconds: the first wait never
        // reads, the second half goes out at the deadline and the call returns.
        QTest::newRow("first echo never completes")
            << radioWith([](auto& o) { o.pacing.baud = 300; }) << 0 << deadline << 5000 << -1;
        // At 1200 baud the first echo takes 4.3 s; the second half's echo and the
        // answer would need as long again, but the deadline is not re-armed.
        QTest::newRow("halves longer than the deadline")
            << radioWith([](auto& o) { o.pacing.baud = 1200; }) << 512 << sim::Pacing::lineTime(512, 1200)
            << 5000 << -1;
    }

    void packetTransferShort() {
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, total);
        QFETCH(sim::Micros, secondWriteAt);
        QFETCH(int, returnedAtMs);
        QFETCH(int, leftWaiting);

        LinkRig r(options);
        r.link.BuildEndPacket();
        r.port->open();
        QCOMPARE(int(r.link.ExchangeFrame(ModeFlash)), total);

        const auto writes = r.port->writes();
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0].bytes.size(), 512);
        QCOMPARE(writes[1].bytes.size(), 520);
        QCOMPARE(writes[0].at, sim::Micros{0});
        QCOMPARE(writes[1].at, secondWriteAt);
        QCOMPARE(ms(r.clock().now()), std::int64_t(returnedAtMs));
        QCOMPARE(int(r.link.RxBuf.size()), total);
        if (leftWaiting >= 0)
            QCOMPARE(r.port->bytesWaiting(), leftWaiting);
        QVERIFY(!r.host.timer1Running());
    }

    void pacedTransferReadsAtTheThresholds() {
        // Bytes trickle in one by one: the first wait reads at exactly 512, the
        // second at exactly 524, so the total is exactly 1036.
        LinkRig r(radioWith([](auto& o) { o.pacing.baud = 57600; }));
        r.link.BuildEndPacket();
        r.port->open();
        QCOMPARE(r.link.ExchangeFrame(ModeFlash), std::int16_t(1036));
        QCOMPARE(r.port->writes()[1].at, sim::Pacing::lineTime(512, 57600));
        QCOMPARE(r.link.DecodeStatusReply(1032), ReplyED);
        QVERIFY(!r.host.timer1Running());
    }

    void staleBytesAheadOfThePacketEcho() {
        // The first read takes the stale bytes with the echo, so the total passes
        // 1036 while index 1032 holds echo, not the answer.
        const QByteArray stale = QByteArray::fromHex("0d0a4f4b0d0a0000");
        LinkRig r(radioWith([&](auto& o) { o.garbage = stale; }));
        r.link.BuildEndPacket();
        r.port->open();
        QCOMPARE(r.link.ExchangeFrame(ModeFlash), std::int16_t(1036 + stale.size()));
        QVERIFY(r.link.RxBuf.startsWith(stale));
        QCOMPARE(r.link.DecodeStatusReply(1032), ReplyUnknown);
    }

    void unreadEchoIsAtTheHeadOfTheNextTransfer() {
        LinkRig r(radioWith([](auto& o) { o.echoOnly = true; }));
        r.link.BuildEndPacket();
        const QByteArray packet(reinterpret_cast<const char*>(r.link.TxPacket.data()), Link::PacketSize);
        r.port->open();
        QCOMPARE(r.link.ExchangeFrame(ModeFlash), std::int16_t(512));
        QCOMPARE(r.link.ExchangeFrame(ModeFlash), std::int16_t(520 + 512));
        QCOMPARE(r.link.RxBuf, packet.sliced(512) + packet.first(512));
    }

    void packetTransferOnAClosedPortRaises() {
        LinkRig r;
        r.link.BuildEndPacket();
        QVERIFY_THROWS_EXCEPTION(PortError, r.link.ExchangeFrame(ModeFlash));
        QVERIFY(r.idle());
    }

    // --- Decoders ----------------------------------------------------------------

    void decoders_data() {
        QTest::addColumn<QString>("decoder");
        QTest::addColumn<QByteArray>("rxBuf");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code"); // -1: subscript error

        const QByteArray echo = identifyCommand;
        const struct {
            const char* pair;
            int code;
        } status[] = {{"OK", 0},
                      {"NG", 1},
                      {"ED", 2},
                      {"CT", 3},
                      {"BE", 4},
                      {"PG", 5},
                      {"RA", 6},
                      {"EE", 7},
                      // framed-only pairs and near misses are unknown
                      {"RE", 8},
                      {"03", 8},
                      {"ok", 8},
                      {"KO", 8},
                      {"XY", 8}};
        for (const auto& s : status)
            QTest::addRow("status %s", s.pair) << "status" << QByteArray(s.pair) + "\r\n" << 0 << s.code;
        QTest::newRow("status OK CR CR") << "status" << QByteArray("OK\r\r") << 0 << 8;
        QTest::newRow("status OK LF CR") << "status" << QByteArray("OK\n\r") << 0 << 8;
        QTest::newRow("status behind the echo") << "status" << echo + "CT\r\n" << 9 << 3;
        QTest::newRow("status with more behind") << "status" << echo + "CT\r\nxx" << 9 << 3;
        QTest::newRow("status one byte off") << "status" << echo + "CT\r\n" << 8 << 8;
        QTest::newRow("status three bytes behind") << "status" << echo + "CT\r" << 9 << -1;
        QTest::newRow("status at the last byte") << "status" << echo << 8 << -1;
        QTest::newRow("status past the end") << "status" << echo << 100 << -1;
        QTest::newRow("status empty") << "status" << QByteArray() << 0 << -1;
        QTest::newRow("status negative") << "status" << echo << -1 << -1;
        QTest::newRow("status packet reply") << "status" << QByteArray(1032, '\xFF') + "PG\r\n" << 1032 << 5;

        const struct {
            const char* pair;
            int code;
        } framed[] = {{"OK", 0},
                      {"NG", 1},
                      {"RE", 13},
                      {"00", 9},
                      {"01", 10},
                      {"02", 11},
                      {"03", 12},
                      // status-only pairs and near misses are unknown
                      {"ED", 8},
                      {"CT", 8},
                      {"30", 8},
                      {"04", 8},
                      {"ok", 8}};
        for (const auto& f : framed)
            QTest::addRow("framed %s", f.pair) << "framed"
                                               << "\r\n" + QByteArray(f.pair) + "\r\n"
                                               << 0 << f.code;
        QTest::newRow("framed OK LF CR") << "framed" << QByteArray("\r\nOK\n\r") << 0 << 8;
        QTest::newRow("framed OK CR CR") << "framed" << QByteArray("\r\nOK\r\r") << 0 << 8;
        QTest::newRow("framed LF CR OK") << "framed" << QByteArray("\n\rOK\r\n") << 0 << 8;
        QTest::newRow("framed status form") << "framed" << echo + "OK\r\n\r\n" << 9 << 8;
        QTest::newRow("framed behind the echo") << "framed" << echo + "\r\nRE\r\n" << 9 << 13;
        QTest::newRow("framed five bytes behind") << "framed" << echo + "\r\nOK\r" << 9 << -1;
        QTest::newRow("framed status-sized") << "framed" << echo + "OK\r\n" << 9 << -1;
        QTest::newRow("framed empty") << "framed" << QByteArray() << 0 << -1;
        QTest::newRow("framed negative") << "framed" << echo + "\r\nOK\r\n" << -1 << -1;
    }

    void decoders() {
        QFETCH(QString, decoder);
        QFETCH(QByteArray, rxBuf);
        QFETCH(int, index);
        QFETCH(int, code);

        LinkRig r;
        r.link.RxBuf = rxBuf;
        const auto i = static_cast<std::int16_t>(index);
        const auto decode = [&] {
            return decoder == "status" ? r.link.DecodeStatusReply(i) : r.link.DecodeFramedReply(i);
        };
        if (code < 0)
            QVERIFY_THROWS_EXCEPTION(SubscriptError, decode());
        else
            QCOMPARE(int(decode()), code);
        QCOMPARE(r.link.RxBuf, rxBuf);
    }
};

QTEST_GUILESS_MAIN(ExchangeTest)
#include "tst_exchange.moc"
