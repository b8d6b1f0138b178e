#include "inproc_radio.h"
#include "radio_test_util.h"

#include <QTest>

using namespace rqv5::sim;
using namespace rqv5::sim::test;
using rqv5::PortError;

Q_DECLARE_METATYPE(rqv5::sim::Pacing)
Q_DECLARE_METATYPE(rqv5::sim::PortSetup)

namespace {

const QByteArray identify = "QZ~RQ-V5\r";
const QByteArray framedOK = QByteArray::fromHex("0d0a4f4b0d0a");

// The program's wait: arm Timer1, then yield until `n` bytes wait or the
// deadline passes.
int waitFor(rqv5::SerialPort& port, rqv5::WaitClock& clock, int n) {
    clock.armTimer1();
    while (clock.timer1Running()) {
        clock.yieldToEvents();
        if (port.bytesWaiting() >= n)
            clock.disarmTimer1();
    }
    return port.bytesWaiting();
}

// The program's two-stage packet transfer: 512 bytes, wait for their echo,
// 520 bytes, wait for theirs and the status, one deadline for both.
QByteArray exchangePacket(rqv5::SerialPort& port, rqv5::WaitClock& clock, const QByteArray& packet,
                          int& total) {
    QByteArray received;
    total = 0;
    const auto collect = [&](int limit, int threshold) {
        while (total < limit && clock.timer1Running()) {
            clock.yieldToEvents();
            if (port.bytesWaiting() >= threshold) {
                total += port.bytesWaiting();
                received += port.readAll();
            }
        }
    };
    port.write(packet.first(512));
    clock.armTimer1();
    collect(512, 512);
    port.write(packet.sliced(512));
    collect(1036, 524);
    if (total >= 1036)
        clock.disarmTimer1();
    return received;
}

} // namespace

class TestInProcessRadio : public QObject {
    Q_OBJECT

private slots:
    void timer1ExpiresAfter5000ms() {
        VirtualClock clock;
        clock.armTimer1();
        QVERIFY(clock.timer1Running());
        clock.yieldToEvents();
        QCOMPARE(clock.nowMs(), 5000);
        QVERIFY(!clock.timer1Running());
        QCOMPARE(clock.timer1Expiries(), 1);

        clock.armTimer1(); // a new full period
        clock.yieldToEvents();
        QCOMPARE(clock.nowMs(), 10000);
    }

    void armingWhileRunningDoesNotRestart() {
        VirtualClock clock;
        clock.armTimer1();
        clock.at(3000, [&clock] { clock.armTimer1(); });
        clock.yieldToEvents();
        QCOMPARE(clock.nowMs(), 3000);
        clock.yieldToEvents();
        QCOMPARE(clock.nowMs(), 5000);
        QVERIFY(!clock.timer1Running());
    }

    void nothingPendingKeepsTime() {
        VirtualClock clock;
        clock.armTimer1();
        clock.disarmTimer1();
        clock.yieldToEvents();
        QCOMPARE(clock.now(), 0);
        QCOMPARE(clock.yieldCount(), 1);
        QCOMPARE(clock.timer1Expiries(), 0);
    }

    void scheduledActions() {
        VirtualClock clock;
        QStringList log;
        clock.at(1200, [&] { log << QStringLiteral("a@%1").arg(clock.nowMs()); });
        clock.at(1200, [&] { log << QStringLiteral("b@%1").arg(clock.nowMs()); });
        clock.after(300, [&] {
            log << QStringLiteral("c@%1").arg(clock.nowMs());
            clock.after(100, [&] { log << QStringLiteral("d@%1").arg(clock.nowMs()); });
        });
        clock.yieldToEvents();
        QCOMPARE(log, (QStringList{"c@300"}));
        clock.yieldToEvents();
        clock.yieldToEvents();
        QCOMPARE(log, (QStringList{"c@300", "d@400", "a@1200", "b@1200"}));
    }

    // A user's click during a wait, e.g. one that ends it early.
    void actionDuringAWait() {
        VirtualClock clock;
        clock.at(2000, [&clock] { clock.disarmTimer1(); });
        clock.armTimer1();
        while (clock.timer1Running())
            clock.yieldToEvents();
        QCOMPARE(clock.nowMs(), 2000);
        QCOMPARE(clock.timer1Expiries(), 0);
    }

    void advanceToHandlesWhatIsDueOnTheWay() {
        VirtualClock clock;
        bool ran = false;
        clock.armTimer1();
        clock.at(6000, [&ran] { ran = true; });
        clock.advanceTo(millis(5500));
        QVERIFY(!clock.timer1Running());
        QVERIFY(!ran);
        QCOMPARE(clock.nowMs(), 5500);
    }

    void newPort() {
        InProcessRadio sim;
        auto port = sim.makePort();
        QVERIFY(!port->isOpen());
        QCOMPARE(port->portNumber(), 1);
        QCOMPARE(port->settings(), (rqv5::LineSettings{38400, 'n', 8, 10}));
    }

    void settingsSurviveCloseAndOpen() {
        InProcessRadio sim;
        auto port = sim.makePort();
        port->setSettings("57600,n,8,1");
        port->open();
        port->close();
        port->open();
        QCOMPARE(port->settings().baud, 57600);
        port->setSettings("9600,n,8,1"); // allowed while open
        QCOMPARE(port->settings().baud, 9600);
    }

    void invalidSettingsAreRefused_data() {
        QTest::addColumn<QString>("settings");
        QTest::newRow("odd rate") << "57601,n,8,1";
        QTest::newRow("parity") << "57600,x,8,1";
        QTest::newRow("empty") << "";
    }
    void invalidSettingsAreRefused() {
        QFETCH(QString, settings);
        InProcessRadio sim;
        auto port = sim.makePort();
        port->setSettings("9600,n,8,1");
        QVERIFY_THROWS_EXCEPTION(PortError, port->setSettings(settings.toStdString()));
        QCOMPARE(port->settings().baud, 9600);
    }

    void openFailures_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<PortSetup>("setup");
        QTest::addColumn<bool>("heldByAnotherPort");
        QTest::newRow("COM2 does not exist") << 2 << PortSetup{} << false;
        QTest::newRow("COM17, even when listed") << 17 << PortSetup{{1, 17}} << false;
        QTest::newRow("COM0") << 0 << PortSetup{{0, 1}} << false;
        QTest::newRow("busy") << 3 << PortSetup{{1, 3}, 1, {3}} << false;
        QTest::newRow("held by another port") << 1 << PortSetup{} << true;
    }
    void openFailures() {
        QFETCH(int, number);
        QFETCH(PortSetup, setup);
        QFETCH(bool, heldByAnotherPort);
        InProcessRadio sim({}, setup);
        auto other = sim.makePort();
        if (heldByAnotherPort)
            other->open();
        auto port = sim.makePort();
        port->setPortNumber(number);
        QVERIFY_THROWS_EXCEPTION(PortError, port->open());
        QVERIFY(!port->isOpen());
        QCOMPARE(port->openCount(), 0);
    }

    void misuseRaisesPortError() {
        InProcessRadio sim;
        auto port = sim.makePort();
        QVERIFY_THROWS_EXCEPTION(PortError, port->write(identify));
        QVERIFY_THROWS_EXCEPTION(PortError, port->bytesWaiting());
        QVERIFY_THROWS_EXCEPTION(PortError, port->readAll());
        port->close(); // closing a closed port is harmless
        QVERIFY(port->events().isEmpty());
        QCOMPARE(sim.radio().bytesReceived(), 0);

        port->open();
        QVERIFY_THROWS_EXCEPTION(PortError, port->open());
        QVERIFY_THROWS_EXCEPTION(PortError, port->setPortNumber(2));
        QCOMPARE(port->portNumber(), 1);
    }

    void bytesArriveOnlyWhenTheClockDeliversThem() {
        InProcessRadio sim;
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        QCOMPARE(port->bytesWaiting(), 0);
        sim.clock().yieldToEvents();
        QCOMPARE(sim.clock().now(), 0);
        QCOMPARE(port->bytesWaiting(), 15);
        QCOMPARE(port->readAll(), identify + framedOK);
        QCOMPARE(port->bytesWaiting(), 0);
    }

    void pacedReplyTakesLineTime_data() {
        QTest::addColumn<Pacing>("pacing");
        QTest::addColumn<qint64>("arrival");
        QTest::newRow("unpaced") << Pacing{} << qint64{0};
        QTest::newRow("57600") << Pacing{57600, 10, 0} << qint64{2605};
        QTest::newRow("57600 in 1 ms frames") << Pacing{57600, 10, 1000} << qint64{3000};
        QTest::newRow("9600") << Pacing{9600, 10, 0} << qint64{15625};
    }
    void pacedReplyTakesLineTime() {
        QFETCH(Pacing, pacing);
        QFETCH(qint64, arrival);
        InProcessRadio sim({.pacing = pacing});
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        QCOMPARE(waitFor(*port, sim.clock(), 15), 15);
        QCOMPARE(sim.clock().now(), arrival);
        QCOMPARE(port->readAll(), identify + framedOK);
    }

    void packetExchangeAsTheProgramDoesIt_data() {
        QTest::addColumn<Pacing>("pacing");
        QTest::addColumn<qint64>("end");
        QTest::newRow("unpaced") << Pacing{} << qint64{0};
        QTest::newRow("57600") << Pacing{57600, 10, 0} << qint64{Pacing::lineTime(1036, 57600)};
        // The second half goes out at the 89 ms frame that completes the first echo.
        QTest::newRow("57600 in 1 ms frames") << Pacing{57600, 10, 1000} << qint64{180'000};
    }
    void packetExchangeAsTheProgramDoesIt() {
        QFETCH(Pacing, pacing);
        QFETCH(qint64, end);
        InProcessRadio sim({.pacing = pacing});
        auto port = sim.makePort();
        port->open();
        int total = 0;
        const QByteArray received = exchangePacket(*port, sim.clock(), endPacket(), total);
        QCOMPARE(total, 1036);
        QCOMPARE(received, endPacket() + "ED\r\n");
        QCOMPARE(sim.clock().now(), end);
        QVERIFY(!sim.clock().timer1Running());
        QCOMPARE(port->writes().size(), 2);
    }

    // Ten silent attempts of 5 s each: 50 s of virtual time.
    void fiftySecondRetryPath() {
        InProcessRadio sim({.silent = true});
        auto port = sim.makePort();
        port->open();
        for (int attempt = 0; attempt < 10; ++attempt) {
            int total = -1;
            exchangePacket(*port, sim.clock(), endPacket(), total);
            QCOMPARE(total, 0);
        }
        QCOMPARE(sim.clock().nowMs(), 50'000);
        QCOMPARE(sim.clock().timer1Expiries(), 10);
        QCOMPARE(sim.radio().count(Kind::ED), 10);
    }

    void unreadBytesAreGoneAfterClose() {
        InProcessRadio sim;
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        sim.clock().yieldToEvents();
        port->close();
        port->open();
        QCOMPARE(port->bytesWaiting(), 0);
    }

    void bytesDueBeforeACloseAreGone() {
        InProcessRadio sim;
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        port->close(); // no yield: the answer came, unread
        port->open();
        sim.clock().yieldToEvents();
        QCOMPARE(port->bytesWaiting(), 0);
    }

    void lateReplyToAClosedPortIsLost() {
        RadioOptions options;
        options.faultsFor(Kind::Identify).late = millis(6000);
        InProcessRadio sim(options);
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        QCOMPARE(waitFor(*port, sim.clock(), 15), identify.size()); // only the echo by the deadline
        port->close();
        sim.clock().advanceTo(millis(7000));
        port->open();
        QCOMPARE(port->bytesWaiting(), 0);
    }

    void lateReplyStaysWhileThePortIsOpen() {
        RadioOptions options;
        options.faultsFor(Kind::Identify).late = millis(6000);
        InProcessRadio sim(options);
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        QCOMPARE(waitFor(*port, sim.clock(), 15), identify.size());
        sim.clock().advanceTo(millis(7000));
        QCOMPARE(port->readAll(), identify + framedOK);
    }

    void hangUpIsAPulledCable() {
        InProcessRadio sim({.hangUpAfter = 1});
        auto port = sim.makePort();
        port->open();
        port->write(identify);
        sim.clock().yieldToEvents();
        QVERIFY(sim.radio().hungUp());
        QVERIFY_THROWS_EXCEPTION(PortError, port->bytesWaiting());
        QVERIFY_THROWS_EXCEPTION(PortError, port->readAll());
        QVERIFY_THROWS_EXCEPTION(PortError, port->write(identify));
        port->close();
        QVERIFY(!port->isOpen());
        QVERIFY_THROWS_EXCEPTION(PortError, port->open());
        QCOMPARE(sim.radio().count(Kind::Identify), 1);
    }

    void portRecordsWhatTheProgramDid() {
        InProcessRadio sim;
        auto port = sim.makePort();
        port->setSettings("57600,n,8,1");
        port->open();
        sim.clock().advanceTo(millis(20));
        port->write(identify);
        sim.clock().yieldToEvents();
        port->readAll();
        port->close();

        const QList<PortEvent>& events = port->events();
        QCOMPARE(events.size(), 3);
        QCOMPARE(events[0].type, PortEvent::Type::Open);
        QCOMPARE(events[1].type, PortEvent::Type::Write);
        QCOMPARE(events[1].at, millis(20));
        QCOMPARE(events[1].bytes, identify);
        QCOMPARE(events[1].settings.baud, 57600);
        QCOMPARE(events[2].type, PortEvent::Type::Close);
        QCOMPARE(port->written(), identify);
        QCOMPARE(port->openCount(), 1);
        QVERIFY(!port->isOpen());
    }

    void portWithoutTheRadio() {
        InProcessRadio sim({}, PortSetup{{1, 2}, 1, {}});
        auto port = sim.makePort();
        port->setPortNumber(2);
        port->open();
        port->write(identify);
        QCOMPARE(waitFor(*port, sim.clock(), 15), 0);
        QCOMPARE(sim.clock().nowMs(), 5000);
        QCOMPARE(sim.radio().bytesReceived(), 0);
    }

    void writesAtAnotherRateAreLost_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("received");
        QTest::newRow("radio's rate") << "57600,n,8,1" << 15;
        QTest::newRow("38400") << "38400,n,8,1" << 0;
    }
    void writesAtAnotherRateAreLost() {
        QFETCH(QString, settings);
        QFETCH(int, received);
        InProcessRadio sim({.onlyBaud = 57600});
        auto port = sim.makePort();
        port->setSettings(settings.toStdString());
        port->open();
        port->write(identify);
        QCOMPARE(waitFor(*port, sim.clock(), 15), received);
    }
};

QTEST_GUILESS_MAIN(TestInProcessRadio)
#include "tst_inproc_radio.moc"
