// The identify and connect commands: the exact command bytes, the wait counts,
// which answers each accepts, and what is left in RxBuf.
#include "link_rig.h"

#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

// A radio that answers every command of `kind` with exactly these bytes.
sim::RadioOptions answering(Kind kind, const QByteArray& answer) {
    return radioWith([&](auto& o) { o.faultsFor(kind).reply = answer; });
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void identify_data() {
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("answer"); // RxBuf behind the 9 echoed bytes
        QTest::addColumn<int>("elapsedMs");

        QTest::newRow("OK") << sim::RadioOptions{} << 0 << QByteArray("\r\nOK\r\n") << 0;
        QTest::newRow("region error")
            << radioWith([](auto& o) { o.identifyCode = "RE"; }) << 13 << QByteArray("\r\nRE\r\n") << 0;
        QTest::newRow("NG is not accepted")
            << radioWith([](auto& o) { o.identifyCode = "NG"; }) << 8 << QByteArray("\r\nNG\r\n") << 0;
        QTest::newRow("pin code is not accepted")
            << radioWith([](auto& o) { o.identifyCode = "03"; }) << 8 << QByteArray("\r\n03\r\n") << 0;
        // 13 bytes are fewer than the 15 the wait needs.
        QTest::newRow("status form") << answering(Kind::Identify, "OK\r\n") << 8 << QByteArray("OK\r\n")
                                     << 5000;
        QTest::newRow("one byte short")
            << answering(Kind::Identify, "\r\nOK\r") << 8 << QByteArray("\r\nOK\r") << 5000;
        QTest::newRow("LF CR swapped")
            << answering(Kind::Identify, "\r\nOK\n\r") << 8 << QByteArray("\r\nOK\n\r") << 0;
        QTest::newRow("lower case") << answering(Kind::Identify, "\r\nok\r\n") << 8
                                    << QByteArray("\r\nok\r\n") << 0;
        QTest::newRow("more than asked")
            << answering(Kind::Identify, "\r\nRE\r\n\r\n") << 13 << QByteArray("\r\nRE\r\n\r\n") << 0;
    }

    void identify() {
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, result);
        QFETCH(QByteArray, answer);
        QFETCH(int, elapsedMs);

        LinkRig r(options);
        QCOMPARE(int(r.link.IdentifyDevice()), result);
        QCOMPARE(r.port->written(), QByteArray("QZ~RQ-V5\r"));
        QCOMPARE(r.link.RxBuf, "QZ~RQ-V5\r" + answer);
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    void connect_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer"); // RxBuf behind the echo
        QTest::addColumn<int>("elapsedMs");

        const auto flash = [](const char* code) {
            return radioWith([code](auto& o) { o.connectCode = code; });
        };
        const QByteArray flashCommand = "QZ~FLASH\r";
        QTest::newRow("flash CT") << int(ModeFlash) << sim::RadioOptions{} << 3 << flashCommand
                                  << QByteArray("CT\r\n") << 0;
        QTest::newRow("flash OK") << int(ModeFlash) << flash("OK") << 0 << flashCommand
                                  << QByteArray("OK\r\n") << 0;
        QTest::newRow("flash BE") << int(ModeFlash) << flash("BE") << 8 << flashCommand
                                  << QByteArray("BE\r\n") << 0;
        QTest::newRow("flash NG") << int(ModeFlash) << flash("NG") << 8 << flashCommand
                                  << QByteArray("NG\r\n") << 0;
        QTest::newRow("flash framed form") << int(ModeFlash) << answering(Kind::Connect, "\r\nCT\r\n") << 8
                                           << flashCommand << QByteArray("\r\nCT\r\n") << 0;
        QTest::newRow("flash three bytes") << int(ModeFlash) << answering(Kind::Connect, "CT\r") << 8
                                           << flashCommand << QByteArray("CT\r") << 5000;

        // The row-by-row modes answer with 20 bytes whose first four are the status.
        const QByteArray legacyCT = "CT\r\n" + QByteArray(16, '\0');
        QTest::newRow("E CT") << int(ModeE) << sim::RadioOptions{} << 3 << QByteArray("QZ~E\r") << legacyCT
                              << 0;
        QTest::newRow("FL CT") << int(ModeFL) << sim::RadioOptions{} << 3 << QByteArray("FL\r") << legacyCT
                               << 0;
        QTest::newRow("FL OK") << int(ModeFL) << radioWith([](auto& o) { o.legacyConnectCode = "OK"; }) << 0
                               << QByteArray("FL\r") << "OK\r\n" + QByteArray(16, '\0') << 0;
        QTest::newRow("E NG") << int(ModeE) << radioWith([](auto& o) { o.legacyConnectCode = "NG"; }) << 8
                              << QByteArray("QZ~E\r") << "NG\r\n" + QByteArray(16, '\0') << 0;
        // 9 bytes arrive, fewer than the 25 the wait needs.
        QTest::newRow("E bare CT") << int(ModeE) << answering(Kind::Connect, "CT\r\n") << 8
                                   << QByteArray("QZ~E\r") << QByteArray("CT\r\n") << 5000;
        QTest::newRow("E one byte short") << int(ModeE) << answering(Kind::Connect, legacyCT.chopped(1)) << 8
                                          << QByteArray("QZ~E\r") << legacyCT.chopped(1) << 5000;
        QTest::newRow("FL one byte short") << int(ModeFL) << answering(Kind::Connect, legacyCT.chopped(1))
                                           << 8 << QByteArray("FL\r") << legacyCT.chopped(1) << 5000;
    }

    void connect() {
        QFETCH(int, mode);
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, result);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        QFETCH(int, elapsedMs);

        LinkRig r(options);
        QCOMPARE(int(r.link.ConnectDevice(ProtocolMode(mode))), result);
        QCOMPARE(r.port->written(), command);
        QCOMPARE(r.link.RxBuf, command + answer);
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    void connectWithoutAModeSendsNothing_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("3") << 3;
        QTest::newRow("-1") << -1;
    }

    void connectWithoutAModeSendsNothing() {
        QFETCH(int, mode);
        LinkRig r;
        QCOMPARE(r.link.ConnectDevice(ProtocolMode(mode)), ReplyUnknown);
        QVERIFY(r.port->events().isEmpty());
        QCOMPARE(r.radio().messageCount(), 0);
        QVERIFY(r.idle());
    }
};

QTEST_GUILESS_MAIN(CommandsTest)
#include "tst_commands.moc"
