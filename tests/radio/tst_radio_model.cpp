#include "radio_model.h"
#include "radio_test_util.h"

#include <QTemporaryDir>
#include <QTest>

using namespace rqv5::sim;
using namespace rqv5::sim::test;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

const QByteArray identify = "QZ~RQ-V5\r";
const QByteArray connectFlash = "QZ~FLASH\r";
const QByteArray framedOK = QByteArray::fromHex("0d0a4f4b0d0a");
const QByteArray legacyPad(16, '\0');

// What the radio sends for a run of messages: each one's echo, then its answer.
QByteArray exchange(const QByteArrayList& messages, const QByteArrayList& answers) {
    QByteArray out;
    for (qsizetype i = 0; i < messages.size(); ++i)
        out += messages[i] + answers.value(i);
    return out;
}

RadioOptions with(const std::function<void(RadioOptions&)>& change) {
    RadioOptions options;
    change(options);
    return options;
}

bool allErased(const RadioModel& radio, std::uint32_t first, std::uint32_t last) {
    const QByteArray part = radio.flash().mid(first - RadioModel::FlashBase, last - first + 1);
    return part == QByteArray(part.size(), '\xFF');
}

bool untouched(const RadioModel& radio, std::uint32_t first, std::uint32_t last) {
    const auto from = first - RadioModel::FlashBase;
    return radio.flash().mid(from, last - first + 1) ==
           RadioModel::initialFlash().mid(from, last - first + 1);
}

struct BlockRange {
    std::uint32_t first;
    std::uint32_t last;
};
const QList<BlockRange> blockRanges{{0xC0000, 0xCFFFF}, {0xD0000, 0xDFFFF}, {0xE0000, 0xEFFFF},
                                    {0xF0000, 0xF7FFF}, {0xF8000, 0xF9FFF}, {0xFA000, 0xFBFFF},
                                    {0xFC000, 0xFDFFF}, {0xFE000, 0xFEFFF}, {0xFF000, 0xFFFFF}};

} // namespace

class TestRadioModel : public QObject {
    Q_OBJECT

private slots:
    void commands_data() {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QByteArrayList>("answers");
        QTest::addColumn<int>("mode");
        const int command = int(RadioModel::Mode::Command);
        const QByteArray framed00 = QByteArray::fromHex("0d0a30300d0a");
        const QByteArray framed01 = QByteArray::fromHex("0d0a30310d0a");
        const QByteArray framed03 = QByteArray::fromHex("0d0a30330d0a");
        const QByteArray framedNG = QByteArray::fromHex("0d0a4e470d0a");

        QTest::newRow("identify") << QByteArrayList{identify} << QByteArrayList{framedOK} << command;
        QTest::newRow("connect flash") << QByteArrayList{connectFlash} << QByteArrayList{"CT\r\n"} << command;
        QTest::newRow("connect mode E") << QByteArrayList{"QZ~E\r"} << QByteArrayList{"CT\r\n" + legacyPad}
                                        << int(RadioModel::Mode::LegacyE);
        QTest::newRow("connect mode FL") << QByteArrayList{"FL\r"} << QByteArrayList{"CT\r\n" + legacyPad}
                                         << int(RadioModel::Mode::LegacyFL);
        QTest::newRow("identify in mode E")
            << QByteArrayList{"QZ~E\r", identify} << QByteArrayList{"CT\r\n" + legacyPad, framedOK}
            << int(RadioModel::Mode::LegacyE);
        QTest::newRow("unknown command: echo only")
            << QByteArrayList{"QZ~HELLO\r"} << QByteArrayList{""} << command;
        QTest::newRow("line noise ahead of a command")
            << QByteArrayList{"\x05", identify} << QByteArrayList{"", framedOK} << command;

        QTest::newRow("pin untouched reads as input, pulled high")
            << QByteArrayList{"QZ~P073\r"} << QByteArrayList{framed03} << command;
        QTest::newRow("pin driven low")
            << QByteArrayList{"QZ~P070\r", "QZ~P073\r"} << QByteArrayList{framedOK, framed00} << command;
        QTest::newRow("pin driven high")
            << QByteArrayList{"QZ~P071\r", "QZ~P073\r"} << QByteArrayList{framedOK, framed01} << command;
        QTest::newRow("pin back to input") << QByteArrayList{"QZ~P071\r", "QZ~P072\r", "QZ~P073\r"}
                                           << QByteArrayList{framedOK, framedOK, framed03} << command;
        QTest::newRow("pins are separate")
            << QByteArrayList{"QZ~P070\r", "QZ~P083\r"} << QByteArrayList{framedOK, framed03} << command;
        QTest::newRow("pin action 4") << QByteArrayList{"QZ~P074\r"} << QByteArrayList{framedNG} << command;
        QTest::newRow("pin of one character")
            << QByteArrayList{"QZ~P73\r"} << QByteArrayList{framedNG} << command;
        QTest::newRow("pin of three characters")
            << QByteArrayList{"QZ~P0073\r"} << QByteArrayList{framedNG} << command;
        QTest::newRow("pin named by letters")
            << QByteArrayList{"QZ~PAB3\r"} << QByteArrayList{framedNG} << command;
        QTest::newRow("pin command without pin")
            << QByteArrayList{"QZ~P\r"} << QByteArrayList{framedNG} << command;
    }
    void commands() {
        QFETCH(QByteArrayList, messages);
        QFETCH(QByteArrayList, answers);
        QFETCH(int, mode);
        Driver radio;
        QByteArray out;
        for (const QByteArray& m : messages)
            out += radio.talk(m);
        QCOMPARE(out, exchange(messages, answers));
        QCOMPARE(int(radio.model.mode()), mode);
    }

    void inputPinReadingLow() {
        Driver radio;
        radio.model.setPinInput("07", false);
        QCOMPARE(radio.talk("QZ~P073\r"), "QZ~P073\r" + QByteArray::fromHex("0d0a30320d0a"));
        QCOMPARE(radio.model.pin("07").high, false);
    }

    void echoComesAheadOfTheAnswer() {
        Driver radio;
        const QByteArray packet = endPacket();
        QCOMPARE(radio.talk(packet.first(512)), packet.first(512));
        QCOMPARE(radio.talk(packet.sliced(512)), packet.sliced(512) + "ED\r\n");

        QByteArray out;
        for (const char byte : identify)
            out += radio.talk(QByteArray(1, byte));
        QCOMPARE(out, identify + framedOK);
    }

    void checkByte_data() {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray ff1027(1027, '\xFF');
        const QByteArray eraseHead =
            QByteArray::fromHex("fffe4245000feffe000fdffe000fbffe000f9ffe000f7ffe000efffe000dfffe000cfffe");
        QTest::newRow("ED ends 0x86")
            << QByteArray::fromHex("fffe4544") + ff1027 + '\x86' << QByteArray("ED\r\n");
        QTest::newRow("BE without boot entry 0xAE")
            << eraseHead + QByteArray(995, '\xFF') + '\xAE' << QByteArray("BE\r\n");
        QTest::newRow("BE with boot entry 0xBE")
            << eraseHead + QByteArray::fromHex("000ffffe") + QByteArray(991, '\xFF') + '\xBE'
            << QByteArray("BE\r\n");
        QTest::newRow("PG of row C000, one 00 byte, 0xA4")
            << QByteArray::fromHex("fffe50470c000000") + QByteArray(1023, '\xFF') + '\xA4'
            << QByteArray("PG\r\n");
        QTest::newRow("ED with check byte 0x87")
            << QByteArray::fromHex("fffe4544") + ff1027 + '\x87' << QByteArray("NG\r\n");
        QTest::newRow("BE whose check byte ignores the letters")
            << eraseHead + QByteArray(995, '\xFF') + '\x27' << QByteArray("NG\r\n");
    }
    void checkByte() {
        QFETCH(QByteArray, packet);
        QFETCH(QByteArray, answer);
        QCOMPARE(packet.size(), RadioModel::PacketSize);
        Driver radio;
        QCOMPARE(radio.talk(packet), packet + answer);
        const bool bad = answer == "NG\r\n";
        QCOMPARE(radio.model.badCheckBytes(), bad ? 1 : 0);
        if (bad)
            QCOMPARE(radio.model.flash(), RadioModel::initialFlash());
    }

    void packetBuilderMatchesTheWire() {
        QCOMPARE(endPacket().back(), '\x86');
        QCOMPARE(erasePacket(false).back(), '\xAE');
        QCOMPARE(erasePacket(true).back(), '\xBE');
        QCOMPARE(programPacket(0xC0000, QByteArray(1, '\0')).back(), '\xA4');
    }

    void erase_data() {
        QTest::addColumn<QByteArray>("entries");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QList<quint32>>("erased");
        const QList<quint32> eight{0xFEFFE, 0xFDFFE, 0xFBFFE, 0xF9FFE, 0xF7FFE, 0xEFFFE, 0xDFFFE, 0xCFFFE};
        const QByteArray list = erasePacket(false).mid(4, 32);
        QTest::newRow("eight blocks") << list << QByteArray("BE\r\n") << eight;
        QTest::newRow("with the boot block") << list + QByteArray::fromHex("000ffffe") << QByteArray("BE\r\n")
                                             << eight + QList<quint32>{0xFFFFE};
        QTest::newRow("empty list") << QByteArray() << QByteArray("BE\r\n") << QList<quint32>{};
        QTest::newRow("only the boot block")
            << QByteArray::fromHex("000ffffe") << QByteArray("BE\r\n") << QList<quint32>{0xFFFFE};
        QTest::newRow("odd address") << QByteArray::fromHex("000fefff") << QByteArray("NG\r\n")
                                     << QList<quint32>{};
        QTest::newRow("block start") << QByteArray::fromHex("000fe000") << QByteArray("NG\r\n")
                                     << QList<quint32>{};
        QTest::newRow("below the flash")
            << QByteArray::fromHex("000bfffe") << QByteArray("NG\r\n") << QList<quint32>{};
        QTest::newRow("good entries, then a bad one: nothing erased")
            << list + QByteArray::fromHex("00012345") << QByteArray("NG\r\n") << QList<quint32>{};
    }
    void erase() {
        QFETCH(QByteArray, entries);
        QFETCH(QByteArray, answer);
        QFETCH(QList<quint32>, erased);
        Driver radio;
        const QByteArray packet = flashPacket("BE", entries);
        QCOMPARE(radio.talk(packet), packet + answer);
        QCOMPARE(radio.model.erasedBlocks(), erased);
        QCOMPARE(radio.model.rejected(), answer == "NG\r\n" ? 1 : 0);
        for (const BlockRange& b : blockRanges) {
            if (erased.contains(b.last - 1))
                QVERIFY2(allErased(radio.model, b.first, b.last), qPrintable(QString::number(b.first, 16)));
            else
                QVERIFY2(untouched(radio.model, b.first, b.last), qPrintable(QString::number(b.first, 16)));
        }
    }

    void programAfterErase() {
        Driver radio;
        radio.talk(erasePacket(true));
        QByteArray data(1024, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 7);
        const QByteArray packet = programPacket(0xFFC00, data);
        QCOMPARE(radio.talk(packet), packet + "PG\r\n");
        QCOMPARE(radio.model.flash().mid(0xFFC00 - RadioModel::FlashBase), data);
        QCOMPARE(radio.model.unerasedWrites(), 0);

        // The same chunk again, as after a lost answer: same contents, but every
        // byte other than 0xFF lands on programmed flash.
        radio.talk(packet);
        QCOMPARE(radio.model.flash().mid(0xFFC00 - RadioModel::FlashBase), data);
        QCOMPARE(radio.model.unerasedWrites(), data.size() - data.count('\xFF'));
    }

    void programWithoutEraseOnlyClearsBits() {
        Driver radio;
        const QByteArray data(1024, '\x0F');
        radio.talk(programPacket(0xC0400, data));
        QCOMPARE(radio.model.unerasedWrites(), 1024);
        const QByteArray before = RadioModel::initialFlash().mid(0x400, 1024);
        for (int i = 0; i < 1024; i += 97)
            QCOMPARE(radio.model.flashAt(0xC0400 + i), std::uint8_t(before[i] & 0x0F));
    }

    void programAddress_data() {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("first chunk") << quint32{0xC0000} << QByteArray("PG\r\n");
        QTest::newRow("last chunk") << quint32{0xFFC00} << QByteArray("PG\r\n");
        QTest::newRow("below the flash") << quint32{0xBFC00} << QByteArray("NG\r\n");
        QTest::newRow("runs past the top") << quint32{0xFFC01} << QByteArray("NG\r\n");
    }
    void programAddress() {
        QFETCH(quint32, address);
        QFETCH(QByteArray, answer);
        Driver radio;
        const QByteArray packet = programPacket(address, QByteArray(1024, '\0'));
        QCOMPARE(radio.talk(packet), packet + answer);
        QCOMPARE(radio.model.count(Kind::PG), 1);
    }

    void unknownPacketLetters() {
        Driver radio;
        const QByteArray packet = flashPacket("XX");
        QCOMPARE(radio.talk(packet), packet + "NG\r\n");
        QCOMPARE(radio.model.count(Kind::Unknown), 1);
    }

    void legacyRowProtocol_data() {
        QTest::addColumn<QByteArray>("connect");
        QTest::addColumn<QByteArray>("leadIn");
        QTest::newRow("mode E") << QByteArray("QZ~E\r") << QByteArray();
        QTest::newRow("mode FL") << QByteArray("FL\r") << QByteArray("CL~");
    }
    void legacyRowProtocol() {
        QFETCH(QByteArray, connect);
        QFETCH(QByteArray, leadIn);
        Driver radio({.legacyConnectCode = "OK"});
        const QByteArray ok = "OK\r\n" + legacyPad;
        const QByteArray eraseFrame = QByteArray::fromHex("01010d0a") + QByteArray(16, '\0');
        const QByteArray rowData = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        const QByteArray row = QByteArray::fromHex("0120") + rowData + QByteArray(2, '\0');
        const QByteArray ack = "OK\r\n" + row.sliced(4);
        const QByteArray endFrame = QByteArray::fromHex("00000d0a") + row.sliced(4);

        QCOMPARE(radio.talk(connect), connect + ok);
        for (const auto& [frame, answer] : QList<std::pair<QByteArray, QByteArray>>{
                 {eraseFrame, ok}, {row, row}, {ack, ok}, {endFrame, ok}})
            QCOMPARE(radio.talk(leadIn + frame), leadIn + frame + answer);

        QCOMPARE(radio.model.count(Kind::Legacy), 4);
        QCOMPARE(radio.model.mode(), RadioModel::Mode::Command);
        QCOMPARE(radio.model.flash().mid(0x120, 16), rowData);
        QVERIFY(allErased(radio.model, 0xC0000, 0xC011F));
        QVERIFY(allErased(radio.model, 0xC0130, 0xFEFFF));
        QVERIFY(untouched(radio.model, 0xFF000, 0xFFFFF));
    }

    void legacyRejectedRowIsNotWritten() {
        Driver radio;
        radio.talk("QZ~E\r");
        radio.talk(QByteArray::fromHex("01010d0a") + QByteArray(16, '\0'));
        const QByteArray row = QByteArray::fromHex("0200") + QByteArray(18, '\x11');
        QCOMPARE(radio.talk(row), row + row);
        QCOMPARE(radio.talk("NG\r\n" + row.sliced(4)), "NG\r\n" + row.sliced(4) + "OK\r\n" + legacyPad);
        // An acknowledge with no row pending has nothing to write.
        QCOMPARE(radio.talk("OK\r\n" + row.sliced(4)), "OK\r\n" + row.sliced(4) + "NG\r\n" + legacyPad);
        QVERIFY(allErased(radio.model, 0xC0200, 0xC020F));
    }

    void legacyEraseAndEndCodes_data() {
        QTest::addColumn<RadioOptions>("options");
        QTest::addColumn<QByteArray>("status"); // at the head of both answers
        QTest::addColumn<bool>("erased");
        QTest::addColumn<int>("modeAfterEnd");

        const int legacyE = int(RadioModel::Mode::LegacyE), command = int(RadioModel::Mode::Command);
        QTest::newRow("OK") << RadioOptions{} << QByteArray("OK") << true << command;
        QTest::newRow("BE") << with([](RadioOptions& o) { o.legacyEraseCode = o.legacyEndCode = "BE"; })
                            << QByteArray("BE") << false << legacyE;
        QTest::newRow("ED") << with([](RadioOptions& o) { o.legacyEraseCode = o.legacyEndCode = "ED"; })
                            << QByteArray("ED") << false << legacyE;
        QTest::newRow("NG") << with([](RadioOptions& o) { o.legacyEraseCode = o.legacyEndCode = "NG"; })
                            << QByteArray("NG") << false << legacyE;
    }
    void legacyEraseAndEndCodes() {
        QFETCH(RadioOptions, options);
        QFETCH(QByteArray, status);
        QFETCH(bool, erased);
        QFETCH(int, modeAfterEnd);

        Driver radio(options);
        radio.talk("QZ~E\r");
        const QByteArray erase = QByteArray::fromHex("01010d0a") + legacyPad;
        const QByteArray end = QByteArray::fromHex("00000d0a") + legacyPad;
        const QByteArray answer = status + "\r\n" + legacyPad;
        QCOMPARE(radio.talk(erase), erase + answer);
        QCOMPARE(allErased(radio.model, 0xC0000, 0xFEFFF), erased);
        QVERIFY(untouched(radio.model, 0xFF000, 0xFFFFF));
        QCOMPARE(radio.talk(end), end + answer);
        QCOMPARE(int(radio.model.mode()), modeAfterEnd);
    }

    void faults_data() {
        QTest::addColumn<RadioOptions>("options");
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray be = erasePacket(false);
        const QByteArray pg = programPacket(0xC0000, "data");
        QByteArray badPg = pg;
        badPg[1031] = static_cast<char>(badPg[1031] + 1);

        QTest::newRow("silent") << with([](RadioOptions& o) { o.silent = true; }) << QByteArrayList{identify}
                                << QByteArray();
        QTest::newRow("echo only") << with([](RadioOptions& o) { o.echoOnly = true; })
                                   << QByteArrayList{identify} << identify;
        QTest::newRow("identify: region error")
            << with([](RadioOptions& o) { o.identifyCode = "RE"; }) << QByteArrayList{identify}
            << identify + QByteArray::fromHex("0d0a52450d0a");
        QTest::newRow("identify in status form")
            << with([](RadioOptions& o) { o.faultsFor(Kind::Identify).reply = "OK\r\n"; })
            << QByteArrayList{identify} << identify + "OK\r\n";
        QTest::newRow("identify in lower case") << with([](RadioOptions& o) { o.identifyCode = "ok"; })
                                                << QByteArrayList{identify} << identify + "\r\nok\r\n";
        QTest::newRow("identify framed LF CR")
            << with([](RadioOptions& o) { o.faultsFor(Kind::Identify).reply = "\r\nOK\n\r"; })
            << QByteArrayList{identify} << identify + "\r\nOK\n\r";
        QTest::newRow("connect answered OK") << with([](RadioOptions& o) { o.connectCode = "OK"; })
                                             << QByteArrayList{connectFlash} << connectFlash + "OK\r\n";
        QTest::newRow("legacy connect answered OK")
            << with([](RadioOptions& o) { o.legacyConnectCode = "OK"; }) << QByteArrayList{"FL\r"}
            << "FL\rOK\r\n" + legacyPad;
        QTest::newRow("NG to the first two erases")
            << with([](RadioOptions& o) { o.faultsFor(Kind::BE).ngFirst = 2; }) << QByteArrayList{be, be, be}
            << be + "NG\r\n" + be + "NG\r\n" + be + "BE\r\n";
        QTest::newRow("NG to a row frame")
            << with([](RadioOptions& o) { o.faultsFor(Kind::Legacy).ngFirst = 1; })
            << QByteArrayList{"QZ~E\r", QByteArray(20, '\x22')}
            << "QZ~E\rCT\r\n" + legacyPad + QByteArray(20, '\x22') + "NG\r\n" + legacyPad;
        QTest::newRow("OK instead of PG")
            << with([](RadioOptions& o) { o.faultsFor(Kind::PG).okInstead = true; }) << QByteArrayList{pg}
            << pg + "OK\r\n";
        QTest::newRow("OK instead does not hide a bad check byte")
            << with([](RadioOptions& o) { o.faultsFor(Kind::PG).okInstead = true; }) << QByteArrayList{badPg}
            << badPg + "NG\r\n";
        QTest::newRow("end answered EE")
            << with([](RadioOptions& o) { o.faultsFor(Kind::ED).reply = "EE\r\n"; })
            << QByteArrayList{endPacket()} << endPacket() + "EE\r\n";
        QTest::newRow("garbage ahead of the first echo")
            << with([](RadioOptions& o) {
                   o.garbage = QByteArray("\x00\x55", 2);
                   o.garbageFirst = 1;
               })
            << QByteArrayList{identify, identify}
            << QByteArray("\x00\x55", 2) + identify + framedOK + identify + framedOK;
        QTest::newRow("garbage ahead of every echo")
            << with([](RadioOptions& o) { o.garbage = "zz"; }) << QByteArrayList{identify, connectFlash}
            << "zz" + identify + framedOK + "zz" + connectFlash + "CT\r\n";
    }
    void faults() {
        QFETCH(RadioOptions, options);
        QFETCH(QByteArrayList, messages);
        QFETCH(QByteArray, expected);
        Driver radio(options);
        QByteArray out;
        for (const QByteArray& m : messages)
            out += radio.talk(m);
        QCOMPARE(out, expected);
        QCOMPARE(radio.model.messageCount(), messages.size());
    }

    // A radio that answers NG, or does not answer at all, has not done the work.
    void refusedMessagesAreNotActedOn_data() {
        QTest::addColumn<RadioOptions>("options");
        QTest::addColumn<int>("erasesDone");
        QTest::newRow("NG first") << with([](RadioOptions& o) { o.faultsFor(Kind::BE).ngFirst = 1; }) << 1;
        QTest::newRow("silent") << with([](RadioOptions& o) { o.silent = true; }) << 0;
        QTest::newRow("echo only") << with([](RadioOptions& o) { o.echoOnly = true; }) << 0;
    }
    void refusedMessagesAreNotActedOn() {
        QFETCH(RadioOptions, options);
        QFETCH(int, erasesDone);
        Driver radio(options);
        radio.talk(erasePacket(false));
        radio.talk(erasePacket(false));
        QCOMPARE(radio.model.count(Kind::BE), 2);
        QCOMPARE(radio.model.erasedBlocks().size(), 8 * erasesDone);
    }

    void lateAnswers_data() {
        QTest::addColumn<RadioOptions>("options");
        QTest::addColumn<QList<qint64>>("delays");
        QTest::newRow("late every time")
            << with([](RadioOptions& o) { o.faultsFor(Kind::Identify).late = millis(6000); })
            << QList<qint64>{6'000'000, 6'000'000};
        QTest::newRow("late the first time") << with([](RadioOptions& o) {
            o.faultsFor(Kind::Identify).late = millis(6000);
            o.faultsFor(Kind::Identify).lateFirst = 1;
        }) << QList<qint64>{6'000'000, 0};
        QTest::newRow("processing time")
            << with([](RadioOptions& o) { o.faultsFor(Kind::Identify).processing = 2500; })
            << QList<qint64>{2500, 2500};
        QTest::newRow("processing and late add up") << with([](RadioOptions& o) {
            o.faultsFor(Kind::Identify).processing = 2500;
            o.faultsFor(Kind::Identify).late = millis(100);
            o.faultsFor(Kind::Identify).lateFirst = 1;
        }) << QList<qint64>{102'500, 2500};
        QTest::newRow("other kinds are on time")
            << with([](RadioOptions& o) { o.faultsFor(Kind::PG).late = millis(6000); })
            << QList<qint64>{0, 0};
    }
    void lateAnswers() {
        QFETCH(RadioOptions, options);
        QFETCH(QList<qint64>, delays);
        Driver radio(options);
        for (const qint64 delay : delays) {
            const Micros start = radio.now;
            if (delay == 0) {
                QCOMPARE(radio.talk(identify), identify + framedOK);
                continue;
            }
            QCOMPARE(radio.talk(identify), identify); // the echo is never late
            QCOMPARE(radio.runUntil(start + delay - 1), QByteArray());
            QCOMPARE(radio.runUntil(start + delay), framedOK);
        }
    }

    void hangUp_data() {
        QTest::addColumn<RadioOptions>("options");
        QTest::addColumn<int>("answered");
        QTest::newRow("after the second PG") << with([](RadioOptions& o) {
            o.hangUpAfter = 2;
            o.hangUpKind = Kind::PG;
        }) << 3;
        QTest::newRow("after the first message") << with([](RadioOptions& o) { o.hangUpAfter = 1; }) << 1;
        QTest::newRow("after three messages") << with([](RadioOptions& o) { o.hangUpAfter = 3; }) << 3;
    }
    void hangUp() {
        QFETCH(RadioOptions, options);
        QFETCH(int, answered);
        options.pacing = {57600, 10, 0};
        Driver radio(options);
        const QByteArrayList messages{identify, programPacket(0xC0000, "a"), programPacket(0xC0400, "b"),
                                      programPacket(0xC0800, "c")};
        QByteArray out;
        for (const QByteArray& m : messages) {
            const bool connected = !radio.model.hungUp();
            radio.model.receive(m, radio.now);
            if (connected)
                QVERIFY(!radio.model.hungUp()); // the cable goes only once the answer is out
            out += radio.runUntil(radio.now + millis(1000));
        }
        QVERIFY(radio.model.hungUp());
        QCOMPARE(radio.model.messageCount(), answered);
        QVERIFY(!radio.model.nextEventTime());
        const QByteArrayList answers{framedOK, "PG\r\n", "PG\r\n", "PG\r\n"};
        QCOMPARE(out, exchange(messages.first(answered), answers.first(answered)));
        QCOMPARE(radio.model.bytesIgnored(), exchange(messages.sliced(answered), {}).size());
    }

    void bytesAtAnotherRateAreLost_data() {
        QTest::addColumn<int>("senderBaud");
        QTest::addColumn<bool>("heard");
        QTest::newRow("same rate") << 57600 << true;
        QTest::newRow("rate unknown") << 0 << true;
        QTest::newRow("38400") << 38400 << false;
    }
    void bytesAtAnotherRateAreLost() {
        QFETCH(int, senderBaud);
        QFETCH(bool, heard);
        Driver radio({.onlyBaud = 57600});
        radio.model.receive(identify, 0, senderBaud);
        QCOMPARE(radio.runUntil(0), heard ? identify + framedOK : QByteArray());
        QCOMPARE(radio.model.bytesIgnored(), heard ? 0 : identify.size());
    }

    // Idle time runs from "everything sent has been handed over" to the
    // program's next byte.
    void idleTime_data() {
        QTest::addColumn<RadioOptions>("options");
        QTest::addColumn<qint64>("nextWrite");
        QTest::addColumn<qint64>("idle");
        QTest::newRow("unpaced") << RadioOptions{} << qint64{250'000} << qint64{250'000};
        // 15 bytes at 57600 baud are out at 2605 us.
        QTest::newRow("57600") << RadioOptions{.pacing = {57600, 10, 0}} << qint64{10'000} << qint64{7395};
        QTest::newRow("57600 in 1 ms frames")
            << RadioOptions{.pacing = {57600, 10, 1000}} << qint64{10'000} << qint64{7000};
        QTest::newRow("written before the answer was out")
            << RadioOptions{.pacing = {57600, 10, 0}} << qint64{1000} << qint64{0};
        QTest::newRow("silent: from the last byte received")
            << with([](RadioOptions& o) { o.silent = true; }) << qint64{5'000'000} << qint64{5'000'000};
    }
    void idleTime() {
        QFETCH(RadioOptions, options);
        QFETCH(qint64, nextWrite);
        QFETCH(qint64, idle);
        Driver radio(options);
        radio.talk(identify, nextWrite);
        QCOMPARE(radio.model.idleTime(), 0);
        radio.talk(connectFlash);
        QCOMPARE(radio.model.idleTime(), idle);
    }

    void messagesRecordedInOrder() {
        Driver radio;
        radio.talk(identify, millis(40));
        radio.talk(connectFlash, millis(90));
        radio.talk(endPacket());
        const auto& messages = radio.model.messages();
        QCOMPARE(messages.size(), 3);
        QCOMPARE(messages[0].kind, Kind::Identify);
        QCOMPARE(messages[1].kind, Kind::Connect);
        QCOMPARE(messages[1].at, millis(40));
        QCOMPARE(messages[2].kind, Kind::ED);
        QCOMPARE(messages[2].bytes, endPacket());
        QCOMPARE(messages[2].at, millis(90));
        QCOMPARE(radio.model.bytesReceived(), identify.size() + connectFlash.size() + 1032);
        QCOMPARE(radio.model.bytesSent(), radio.model.bytesReceived() + 6 + 4 + 4);
    }

    void flashChecksum() {
        Driver radio;
        QVERIFY(!RadioModel::initialFlash().contains('\xFF'));
        QCOMPARE(radio.model.flashCrc32(), 0xCA86EE3Bu);
        radio.talk(erasePacket(true));
        QCOMPARE(radio.model.flashCrc32(), 0xB7094978u); // 256 KB of 0xFF
    }

    void dumpFlash() {
        QTemporaryDir dir;
        Driver radio;
        radio.talk(programPacket(0xC0000, "written"));
        const QString path = dir.filePath("flash.bin");
        QVERIFY(radio.model.dumpFlash(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), radio.model.flash());
        QVERIFY(!radio.model.dumpFlash(dir.filePath("missing/flash.bin")));
    }

    void kindNames() {
        for (int i = 0; i < KindCount; ++i)
            QCOMPARE(kindFromName(kindName(Kind(i))), std::optional<Kind>(Kind(i)));
        QCOMPARE(kindFromName("BE"), std::optional<Kind>(Kind::BE));
        QCOMPARE(kindFromName("frame"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestRadioModel)
#include "tst_radio_model.moc"
