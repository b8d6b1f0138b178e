// The port-pin command: the bytes it sends, its fixed wait of 14 bytes and
// reply index 8 whatever the pin number's length, the framed answers, the
// failures, and the baud rates it runs at.
#include "link_rig.h"

#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)
Q_DECLARE_METATYPE(rqv5::sim::PortSetup)

class PortPinTest : public QObject {
    Q_OBJECT

private slots:
    void pinNumberLength_data() {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("received"); // bytes in RxBuf
        QTest::addColumn<int>("elapsedMs");

        // The radio answers every one of them with a 6-byte framed reply ("NG"
        // for a pin name that is not two digits); only two characters put that
        // reply at index 8.
        QTest::newRow("empty") << "" << QByteArray("QZ~P3\r") << 8 << 12 << 5000;
        QTest::newRow("one character") << "7" << QByteArray("QZ~P73\r") << 8 << 13 << 5000;
        QTest::newRow("two characters") << "07" << QByteArray("QZ~P073\r") << 12 << 14 << 0;
        // Index 8 holds the echoed CR, 9 the CR that opens the reply.
        QTest::newRow("three characters") << "007" << QByteArray("QZ~P0073\r") << 8 << 15 << 0;
        QTest::newRow("four characters") << "0007" << QByteArray("QZ~P00073\r") << 8 << 16 << 0;
    }

    void pinNumberLength() {
        QFETCH(QString, pin);
        QFETCH(QByteArray, command);
        QFETCH(int, result);
        QFETCH(int, received);
        QFETCH(int, elapsedMs);

        LinkRig r;
        r.host.pinNumber = pin;
        QCOMPARE(int(r.link.PortPinCommand()), result);
        QCOMPARE(r.port->written(), command);
        QVERIFY(r.link.RxBuf.startsWith(command));
        QCOMPARE(r.link.RxBuf.size(), received);
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    void actions_data() {
        QTest::addColumn<QList<int>>("before"); // actions sent to pin 07 first
        QTest::addColumn<bool>("heldLow");      // the pin reads low as an input
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("result");

        QTest::newRow("drive low") << QList<int>{} << false << 0 << int(ReplyOK);
        QTest::newRow("drive high") << QList<int>{} << false << 1 << int(ReplyOK);
        QTest::newRow("make it an input") << QList<int>{} << false << 2 << int(ReplyOK);
        QTest::newRow("read an input, high") << QList<int>{} << false << 3 << int(ReplyPinInHigh);
        QTest::newRow("read an input, low") << QList<int>{} << true << 3 << int(ReplyPinInLow);
        QTest::newRow("read an output, low") << QList<int>{0} << false << 3 << int(ReplyPinOutLow);
        QTest::newRow("read an output, high") << QList<int>{1} << false << 3 << int(ReplyPinOutHigh);
        QTest::newRow("read it as an input again") << QList<int>{1, 2} << false << 3 << int(ReplyPinInHigh);
    }

    void actions() {
        QFETCH(QList<int>, before);
        QFETCH(bool, heldLow);
        QFETCH(int, action);
        QFETCH(int, result);

        LinkRig r;
        r.host.pinNumber = QStringLiteral("07");
        if (heldLow)
            r.radio().setPinInput("07", false);
        for (const int earlier : before) {
            r.host.portOption = earlier;
            QCOMPARE(r.link.PortPinCommand(), ReplyOK);
        }
        r.host.portOption = action;
        QCOMPARE(int(r.link.PortPinCommand()), result);
        QCOMPARE(r.port->writes().last().bytes, "QZ~P07" + QByteArray::number(action) + "\r");
        QVERIFY(r.idle());
    }

    void noActionChosen() {
        // Without an action the command has neither digit nor CR, so the radio
        // never takes it as complete; only the echo comes back.
        LinkRig r;
        r.host.pinNumber = QStringLiteral("07");
        r.host.portOption = -1;
        QCOMPARE(r.link.PortPinCommand(), ReplyUnknown);
        QCOMPARE(r.port->written(), QByteArray("QZ~P07"));
        QCOMPARE(r.link.RxBuf, QByteArray("QZ~P07"));
        QCOMPARE(r.clock().nowMs(), std::int64_t{5000});
        QVERIFY(r.idle());
    }

    void answers_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("elapsedMs");

        QTest::newRow("OK") << QByteArray("\r\nOK\r\n") << int(ReplyOK) << 0;
        QTest::newRow("NG") << QByteArray("\r\nNG\r\n") << int(ReplyNG) << 0;
        QTest::newRow("00") << QByteArray("\r\n00\r\n") << int(ReplyPinOutLow) << 0;
        QTest::newRow("01") << QByteArray("\r\n01\r\n") << int(ReplyPinOutHigh) << 0;
        QTest::newRow("02") << QByteArray("\r\n02\r\n") << int(ReplyPinInLow) << 0;
        QTest::newRow("03") << QByteArray("\r\n03\r\n") << int(ReplyPinInHigh) << 0;
        QTest::newRow("RE") << QByteArray("\r\nRE\r\n") << int(ReplyRE) << 0;
        QTest::newRow("more than the frame") << QByteArray("\r\n02\r\nxyz") << int(ReplyPinInLow) << 0;
        QTest::newRow("04") << QByteArray("\r\n04\r\n") << 8 << 0;
        QTest::newRow("30") << QByteArray("\r\n30\r\n") << 8 << 0;
        QTest::newRow("ok in lower case") << QByteArray("\r\nok\r\n") << 8 << 0;
        QTest::newRow("a status code") << QByteArray("\r\nED\r\n") << 8 << 0;
        QTest::newRow("LF CR swapped") << QByteArray("\r\n03\n\r") << 8 << 0;
        QTest::newRow("garbage") << QByteArray("\xFF\x00zz\x01\x02", 6) << 8 << 0;
        // Fewer than 14 bytes: not looked at, after the full wait.
        QTest::newRow("status form") << QByteArray("03\r\n") << 8 << 5000;
        QTest::newRow("one byte short") << QByteArray("\r\n03\r") << 8 << 5000;
    }

    void answers() {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QFETCH(int, elapsedMs);

        LinkRig r(radioWith([&](auto& o) { o.faultsFor(Kind::Pin).reply = reply; }));
        r.host.pinNumber = QStringLiteral("07");
        QCOMPARE(int(r.link.PortPinCommand()), result);
        QCOMPARE(r.link.RxBuf, "QZ~P073\r" + reply);
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QVERIFY(r.idle());
    }

    void failures_data() {
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<sim::PortSetup>("ports");
        QTest::addColumn<int>("com");
        QTest::addColumn<bool>("written");
        QTest::addColumn<int>("elapsedMs");

        const sim::PortSetup one;
        QTest::newRow("no radio") << radioWith([](auto& o) { o.silent = true; }) << one << 1 << true << 5000;
        QTest::newRow("echo only") << radioWith([](auto& o) { o.echoOnly = true; }) << one << 1 << true
                                   << 5000;
        QTest::newRow("cable pulled with the answer")
            << radioWith([](auto& o) { o.hangUpAfter = 1; }) << one << 1 << true << 0;
        // The port fails to open: at once, nothing written, no wait.
        QTest::newRow("COM port missing") << sim::RadioOptions{} << one << 4 << false << 0;
        QTest::newRow("no COM item checked") << sim::RadioOptions{} << one << 17 << false << 0;
        QTest::newRow("COM port in use")
            << sim::RadioOptions{} << sim::PortSetup{.busy = {1}} << 1 << false << 0;
    }

    void failures() {
        QFETCH(sim::RadioOptions, options);
        QFETCH(sim::PortSetup, ports);
        QFETCH(int, com);
        QFETCH(bool, written);
        QFETCH(int, elapsedMs);

        LinkRig r(options, ports);
        r.host.pinNumber = QStringLiteral("07");
        r.host.com = std::int16_t(com);
        QCOMPARE(r.link.PortPinCommand(), ReplyUnknown);
        QCOMPARE(r.port->written(), written ? QByteArray("QZ~P073\r") : QByteArray());
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QCOMPARE(r.clock().timer1Expiries(), elapsedMs > 0 ? 1 : 0);
        QVERIFY(r.idle());
    }

    void baudRate_data() {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("earlier"); // option of an identify run before, -1: none
        QTest::addColumn<int>("baud");

        QTest::newRow("9600") << 0 << -1 << 9600;
        QTest::newRow("38400") << 1 << -1 << 38400;
        QTest::newRow("57600 keeps the initial 38400") << 2 << -1 << 38400;
        QTest::newRow("57600 keeps 9600 from before") << 2 << 0 << 9600;
        QTest::newRow("57600 keeps 57600 from before") << 2 << 2 << 57600;
        QTest::newRow("9600 after 57600") << 0 << 2 << 9600;
    }

    void baudRate() {
        QFETCH(int, option);
        QFETCH(int, earlier);
        QFETCH(int, baud);

        // The radio hears only its own rate: an answer proves the rate.
        LinkRig r(radioWith([&](auto& o) { o.onlyBaud = baud; }));
        if (earlier >= 0) {
            r.host.baudOption = earlier;
            r.link.IdentifyDevice();
        }
        r.host.baudOption = option;
        r.host.pinNumber = QStringLiteral("07");
        QCOMPARE(r.link.PortPinCommand(), ReplyPinInHigh);
        QCOMPARE(r.port->writes().last().settings.baud, baud);
    }
};

QTEST_GUILESS_MAIN(PortPinTest)
#include "tst_port_pin.moc"
