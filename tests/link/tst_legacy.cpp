// The two row-by-row protocols, modes E and FL: the frames and their bytes on
// the line, the bytes 4..19 a frame inherits from the one before, the tries of
// erase and end, the answer threshold, the row walk of the write with its
// address overflow, the echo check of a row, and the baud rates these modes use.
#include "image/embedded_image.h"
#include "link_rig.h"

#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

const QByteArray eraseHead = QByteArray::fromHex("01010d0a");
const QByteArray endHead = QByteArray::fromHex("00000d0a");
const QByteArray zeros16(16, '\0');
// Stands for bytes 4..19 left behind by an earlier frame.
const QByteArray leftOver = QByteArray::fromHex("a1a2a3a4a5a6a7a8a9aaabacadaeafb0");

QByteArray onLine(int mode, const QByteArray& frame) {
    return mode == ModeFL ? "CL~" + frame : frame;
}

QByteArray answer(const QByteArray& status) {
    return status + "\r\n" + zeros16;
}

QByteArray bytesOf(const std::array<std::uint8_t, 20>& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), 20);
}

void setRowFrame(Link& link, const QByteArray& bytes) {
    std::copy(bytes.begin(), bytes.end(), link.RowFrame.begin());
}

// A rig whose radio already takes 20-byte frames, as after a connect in the
// mode: what the connect answered was lost with the port closed.
struct LegacyRig : LinkRig {
    LegacyRig(int mode, sim::RadioOptions options = {}) : LinkRig(std::move(options)) {
        radio().receive(mode == ModeE ? "QZ~E\r" : "FL\r", clock().now());
    }

    QByteArrayList written() const {
        QByteArrayList bytes;
        for (const sim::PortEvent& e : port->writes())
            bytes << e.bytes;
        return bytes;
    }
};

} // namespace

class LegacyTest : public QObject {
    Q_OBJECT

private slots:
    void controlFramesSetOnlyTheirHead_data() {
        QTest::addColumn<int>("frame");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("erase") << 0 << eraseHead;
        QTest::newRow("end") << 1 << endHead;
        QTest::newRow("acknowledge") << 2 << QByteArray("OK\r\n");
        QTest::newRow("reject") << 3 << QByteArray("NG\r\n");
    }

    void controlFramesSetOnlyTheirHead() {
        QFETCH(int, frame);
        QFETCH(QByteArray, head);
        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            LinkRig r;
            setRowFrame(r.link, QByteArray::fromHex("c1c2c3c4") + leftOver);
            switch (frame) {
            case 0:
                r.link.BuildEraseFrame(mode);
                break;
            case 1:
                r.link.BuildEndFrame(mode);
                break;
            case 2:
                r.link.SetOkFrame();
                break;
            default:
                r.link.SetNgFrame();
                break;
            }
            QCOMPARE(bytesOf(r.link.RowFrame), head + leftOver);
        }
    }

    void rowFrameOfAnyImageRowOverflows_data() {
        QTest::addColumn<int>("row");
        // Two address bytes end at row 0xFFF; the image starts at 0xC000.
        QTest::newRow("0x1000, the first beyond the address bytes") << 0x1000;
        QTest::newRow("0xC000, the image's first row") << 0xC000;
        QTest::newRow("0xFFFF, the image's last row") << 0xFFFF;
    }

    void rowFrameOfAnyImageRowOverflows() {
        QFETCH(int, row);
        LinkRig r;
        setRowFrame(r.link, eraseHead + leftOver);
        QVERIFY_THROWS_EXCEPTION(OverflowError, r.link.BuildRowFrame(ModeE, row));
        QCOMPARE(bytesOf(r.link.RowFrame), eraseHead + leftOver);
    }

    void eraseAndEndOnTheLine_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QByteArray>("inherited"); // RowFrame bytes 4..19 before the call
        QTest::addColumn<QByteArray>("frame");

        // Nothing but a completed row frame ever fills bytes 4..19, and no row of
        // the image can be built, so on a real run they stay zero.
        QTest::newRow("E erase") << int(ModeE) << "ERASE" << zeros16 << eraseHead + zeros16;
        QTest::newRow("E end") << int(ModeE) << "END" << zeros16 << endHead + zeros16;
        QTest::newRow("FL erase") << int(ModeFL) << "ERASE" << zeros16 << eraseHead + zeros16;
        QTest::newRow("FL end") << int(ModeFL) << "END" << zeros16 << endHead + zeros16;
        QTest::newRow("E erase inherits 4..19") << int(ModeE) << "ERASE" << leftOver << eraseHead + leftOver;
        QTest::newRow("FL end inherits 4..19") << int(ModeFL) << "END" << leftOver << endHead + leftOver;
    }

    void eraseAndEndOnTheLine() {
        QFETCH(int, mode);
        QFETCH(QString, word);
        QFETCH(QByteArray, inherited);
        QFETCH(QByteArray, frame);

        LegacyRig r(mode);
        setRowFrame(r.link, QByteArray(4, '\x55') + inherited);
        QCOMPARE(r.link.LegacyEraseOrEnd(word, ProtocolMode(mode)), std::int16_t{0});
        QCOMPARE(r.written(), QByteArrayList{onLine(mode, frame)});
        QCOMPARE(r.written()[0].size(), mode == ModeE ? 20 : 23);
        QCOMPARE(bytesOf(r.link.RowFrame), frame);
        if (mode == ModeFL)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.link.ClFrame.data()), 23), "CL~" + frame);
        QCOMPARE(r.link.RxBuf, onLine(mode, frame) + answer("OK"));
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    void endAfterEraseKeepsTheTail() {
        LegacyRig r(ModeE);
        setRowFrame(r.link, QByteArray(4, '\0') + leftOver);
        QCOMPARE(r.link.LegacyEraseOrEnd("ERASE", ModeE), std::int16_t{0});
        QCOMPARE(r.link.LegacyEraseOrEnd("END", ModeE), std::int16_t{0});
        QCOMPARE(r.written(), (QByteArrayList{eraseHead + leftOver, endHead + leftOver}));
        QCOMPARE(r.radio().mode(), sim::RadioModel::Mode::Command);
    }

    void eraseOrEndTries_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("word");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("tries"); // frames written, all the same
        QTest::addColumn<int>("elapsedMs");

        const auto eraseCode = [](const char* code) {
            return radioWith([code](auto& o) { o.legacyEraseCode = code; });
        };
        const auto endCode = [](const char* code) {
            return radioWith([code](auto& o) { o.legacyEndCode = code; });
        };
        const auto replying = [](const QByteArray& bytes) {
            return radioWith([bytes](auto& o) { o.faultsFor(Kind::Legacy).reply = bytes; });
        };

        for (const int mode : {int(ModeE), int(ModeFL)}) {
            const auto row = [mode](const char* name) -> QTestData& {
                return QTest::newRow(
                           qPrintable(QStringLiteral("%1 %2").arg(mode == ModeE ? "E" : "FL", name)))
                       << mode;
            };
            row("erase OK") << "ERASE" << sim::RadioOptions{} << 0 << 1 << 0;
            row("end OK") << "END" << sim::RadioOptions{} << 0 << 1 << 0;
            // ED and BE end the tries as they are; the buttons count them as failures.
            row("erase answered ED") << "ERASE" << eraseCode("ED") << 2 << 1 << 0;
            row("erase answered BE") << "ERASE" << eraseCode("BE") << 4 << 1 << 0;
            row("end answered ED") << "END" << endCode("ED") << 2 << 1 << 0;
            row("end answered BE") << "END" << endCode("BE") << 4 << 1 << 0;
            row("erase answered NG") << "ERASE" << eraseCode("NG") << 1 << 10 << 0;
            row("end answered CT") << "END" << endCode("CT") << 1 << 10 << 0;
            row("erase answered EE") << "ERASE" << eraseCode("EE") << 1 << 10 << 0;
            row("OK at the fourth try")
                << "ERASE" << radioWith([](auto& o) { o.faultsFor(Kind::Legacy).ngFirst = 3; }) << 0 << 4
                << 0;
            // One byte short of the threshold: the count alone spends the try,
            // after the full wait.
            row("answer of 19 bytes") << "ERASE" << replying(answer("OK").chopped(1)) << 1 << 10 << 50000;
            row("status only") << "END" << replying("OK\r\n") << 1 << 10 << 50000;
            row("no radio") << "ERASE" << radioWith([](auto& o) { o.silent = true; }) << 1 << 10 << 50000;
            row("echo only") << "END" << radioWith([](auto& o) { o.echoOnly = true; }) << 1 << 10 << 50000;
            // The first answer comes after the deadline; the second try's answer
            // is in time and the late one is lost with the closed port.
            row("first answer late") << "ERASE" << radioWith([](auto& o) {
                o.faultsFor(Kind::Legacy).late = sim::millis(6000);
                o.faultsFor(Kind::Legacy).lateFirst = 1;
            }) << 0 << 2 << 5000;
            // A stray byte ahead of the first echo moves the status off the answer
            // index; the count is complete, so only the decoding spends the try.
            // (The radio counts the connect as its first message.)
            row("stray byte ahead of the echo") << "ERASE" << radioWith([](auto& o) {
                o.garbage = "\x7F";
                o.garbageFirst = 2;
            }) << 0 << 2 << 0;
        }
    }

    void eraseOrEndTries() {
        QFETCH(int, mode);
        QFETCH(QString, word);
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, result);
        QFETCH(int, tries);
        QFETCH(int, elapsedMs);

        LegacyRig r(mode, options);
        QCOMPARE(int(r.link.LegacyEraseOrEnd(word, ProtocolMode(mode))), result);
        const QByteArray frame = onLine(mode, (word == "ERASE" ? eraseHead : endHead) + zeros16);
        QCOMPARE(r.written(), QByteArrayList(tries, frame));
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    void commandWordIsExact_data() {
        QTest::addColumn<QString>("word");
        QTest::newRow("erase") << "erase";
        QTest::newRow("End") << "End";
        QTest::newRow("ERASE with a space") << "ERASE ";
        QTest::newRow("empty") << "";
    }

    void commandWordIsExact() {
        QFETCH(QString, word);
        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            LegacyRig r(mode);
            QCOMPARE(r.link.LegacyEraseOrEnd(word, mode), std::int16_t{1});
            QVERIFY(r.written().isEmpty());
            QCOMPARE(bytesOf(r.link.RowFrame), QByteArray(20, '\0'));
            QCOMPARE(r.port->openCount(), 1);
            QVERIFY(r.idle());
        }
    }

    void portFailures_data() {
        QTest::addColumn<int>("com");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("framesWritten");

        QTest::newRow("COM2 does not exist") << 2 << sim::RadioOptions{} << 0;
        QTest::newRow("no COM item checked") << 17 << sim::RadioOptions{} << 0;
        QTest::newRow("cable pulled after the first answer") << 1 << radioWith([](auto& o) {
            o.hangUpAfter = 1;
            o.hangUpKind = Kind::Legacy;
        }) << 1;
    }

    void portFailures() {
        QFETCH(int, com);
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, framesWritten);
        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            LegacyRig r(mode, options);
            r.host.com = std::int16_t(com);
            QCOMPARE(r.link.LegacyEraseOrEnd("ERASE", mode), std::int16_t{-1});
            QCOMPARE(r.written().size(), framesWritten);
            QVERIFY(r.idle());
        }
    }

    void writeOpenFailure() {
        LegacyRig r(ModeE);
        r.host.com = 2;
        QCOMPARE(r.link.LegacyWriteImage(ModeE), std::int16_t{-1});
        QVERIFY(r.host.text1.isEmpty());
        QVERIFY(r.idle());
    }

    void writeWalksTheRowsBelowTheBootBlock_data() {
        QTest::addColumn<QList<int>>("rows"); // rows that hold data
        QTest::addColumn<int>("flag");        // the rows' RowHasData value
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("lastShown");

        QTest::newRow("no data") << QList<int>{} << -1 << 0 << "FEFF0";
        QTest::newRow("data only in the boot block") << QList<int>{0xFF00, 0xFFFF} << -1 << 0 << "FEFF0";
        QTest::newRow("flag 1 is not true") << QList<int>{0xC000, 0xD000} << 1 << 0 << "FEFF0";
        // The address overflows before a byte of the row is written.
        QTest::newRow("first row") << QList<int>{0xC000} << -1 << -1 << "C0000";
        QTest::newRow("a middle row") << QList<int>{0xD234, 0xFF00} << -1 << -1 << "D2340";
        QTest::newRow("last row below the boot block") << QList<int>{0xFEFF} << -1 << -1 << "FEFF0";
    }

    void writeWalksTheRowsBelowTheBootBlock() {
        QFETCH(QList<int>, rows);
        QFETCH(int, flag);
        QFETCH(int, result);
        QFETCH(QString, lastShown);
        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            LegacyRig r(mode);
            for (const int row : rows) {
                r.image.ImageData(row, 0) = 0x12;
                r.image.RowHasData(row) = std::int16_t(flag);
            }
            setRowFrame(r.link, eraseHead + leftOver);
            QCOMPARE(int(r.link.LegacyWriteImage(mode)), result);
            // Every row up to the one that stopped the walk was shown, in order.
            QStringList shown;
            for (int row = 0xC000; shown.isEmpty() || shown.last() != lastShown; ++row)
                shown << QString::asprintf("%X0", row);
            QCOMPARE(r.host.text1, shown);
            QVERIFY(r.written().isEmpty());
            QCOMPARE(bytesOf(r.link.RowFrame), eraseHead + leftOver);
            QCOMPARE(r.port->openCount(), 1);
            QVERIFY(r.idle());
        }
    }

    void writeOfTheEmbeddedImageStopsAtItsFirstRow() {
        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            LegacyRig r(mode);
            ImageLineTable lines;
            std::int16_t loadError = 0;
            LoadEmbeddedImage(r.image, lines, loadError);
            QCOMPARE(r.image.RowHasData(0xC000), MemoryImage::True);
            QCOMPARE(r.link.LegacyWriteImage(mode), std::int16_t{-1});
            QCOMPARE(r.host.text1, QStringList{"C0000"});
            QVERIFY(r.written().isEmpty());
            QCOMPARE(r.port->openCount(), 1);
            QVERIFY(r.idle());
        }
    }

    void rowEchoCheck_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("result");

        const QByteArray row = QByteArray::fromHex("0c0000112233445566778899aabbccddeeff0000");
        const QByteArray echo(20, '\x01');
        auto differing = [&row](int at) {
            QByteArray r = row;
            r[at] = char(r[at] ^ 0x01);
            return r;
        };
        QTest::newRow("mode E answer") << echo + row << 20 << 1;
        QTest::newRow("mode FL answer") << "CL~" + echo + row << 23 << 1;
        QTest::newRow("bytes beyond the answer") << echo + row + "OK\r\n" << 20 << 1;
        QTest::newRow("byte 0 differs") << echo + differing(0) << 20 << 0;
        QTest::newRow("only byte 19 differs") << echo + differing(19) << 20 << 0;
        // Every byte there matches, so the comparison runs past the end.
        QTest::newRow("one byte short") << echo + row.chopped(1) << 20 << -1;
        QTest::newRow("nothing behind the echo") << echo << 20 << -1;
        QTest::newRow("nothing received") << QByteArray() << 20 << -1;
        QTest::newRow("short, a byte differs before the end") << echo + differing(5).left(10) << 20 << 0;
        QTest::newRow("negative index") << echo + row << -1 << -1;
    }

    void rowEchoCheck() {
        QFETCH(QByteArray, received);
        QFETCH(int, index);
        QFETCH(int, result);
        LinkRig r;
        setRowFrame(r.link, QByteArray::fromHex("0c0000112233445566778899aabbccddeeff0000"));
        r.link.RxBuf = received;
        QCOMPARE(int(r.link.VerifyRowEcho(std::int16_t(index))), result);
    }

    void answerThreshold_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("answerLength");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("elapsedMs");

        QTest::newRow("E complete") << int(ModeE) << 20 << 40 << 0;
        QTest::newRow("E one short") << int(ModeE) << 19 << 39 << 5000;
        QTest::newRow("E no answer") << int(ModeE) << 0 << 20 << 5000;
        QTest::newRow("FL complete") << int(ModeFL) << 20 << 43 << 0;
        QTest::newRow("FL one short") << int(ModeFL) << 19 << 42 << 5000;
        QTest::newRow("FL no answer") << int(ModeFL) << 0 << 23 << 5000;
    }

    // The exchange itself, on a port its caller opened: it writes the frame of
    // the mode, waits for echo and answer, and leaves the port open.
    void answerThreshold() {
        QFETCH(int, mode);
        QFETCH(int, answerLength);
        QFETCH(int, count);
        QFETCH(int, elapsedMs);

        const QByteArray reply = answer("OK").left(answerLength);
        LegacyRig r(mode, radioWith([&](auto& o) { o.faultsFor(Kind::Legacy).reply = reply; }));
        r.link.BuildEndFrame(ProtocolMode(mode));
        r.port->open();
        QCOMPARE(int(r.link.ExchangeFrame(ProtocolMode(mode))), count);
        QCOMPARE(r.link.RxBuf, onLine(mode, endHead + zeros16) + reply);
        QCOMPARE(r.clock().nowMs(), std::int64_t(elapsedMs));
        QVERIFY(r.port->isOpen());
        QVERIFY(!r.host.timer1Running());
        QCOMPARE(r.port->openCount(), 1);
    }

    void baudRate_data() {
        QTest::addColumn<bool>("write"); // LegacyWriteImage, else erase and end
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("earlier"); // option of an identify run before, -1: none
        QTest::addColumn<int>("baud");

        for (const bool write : {false, true}) {
            const auto row = [write](const char* name) -> QTestData& {
                return QTest::newRow(
                           qPrintable(QStringLiteral("%1, %2").arg(write ? "write" : "erase", name)))
                       << write;
            };
            row("9600") << 0 << -1 << 9600;
            row("38400") << 1 << -1 << 38400;
            row("57600 keeps the initial 38400") << 2 << -1 << 38400;
            row("57600 keeps 9600 from before") << 2 << 0 << 9600;
            row("57600 keeps 57600 from before") << 2 << 2 << 57600;
            row("38400 after 57600") << 1 << 2 << 38400;
        }
    }

    void baudRate() {
        QFETCH(bool, write);
        QFETCH(int, option);
        QFETCH(int, earlier);
        QFETCH(int, baud);
        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            LegacyRig r(mode);
            if (earlier >= 0) {
                r.host.baudOption = earlier;
                r.link.IdentifyDevice();
            }
            const auto before = r.port->events().size();
            r.host.baudOption = option;
            // With no data in the image the write only opens and closes the port.
            const std::int16_t result =
                write ? r.link.LegacyWriteImage(mode) : r.link.LegacyEraseOrEnd("ERASE", mode);
            QCOMPARE(result, std::int16_t{0});
            const QList<sim::PortEvent> events = r.port->events().mid(before);
            QCOMPARE(events.size(), write ? 2 : 3);
            for (const sim::PortEvent& e : events)
                QCOMPARE(e.settings.baud, baud);
        }
    }
};

QTEST_GUILESS_MAIN(LegacyTest)
#include "tst_legacy.moc"
