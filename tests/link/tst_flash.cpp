// The flash packets "BE", "PG" and "ED": their bytes, the attempts and answers
// each procedure accepts, the chunk walk with its progress outputs, the boot
// block behind the access code, and a whole erase-write-end into the radio.
#include "image/embedded_image.h"
#include "link_rig.h"

#include <QRegularExpression>
#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

const QByteArray eraseEntries = QByteArray::fromHex("000feffe000fdffe000fbffe000f9ffe"
                                                    "000f7ffe000efffe000dfffe000cfffe");

QByteArray ff(int n) {
    return QByteArray(n, '\xFF');
}

QByteArray txPacket(const Link& link) {
    return QByteArray(reinterpret_cast<const char*>(link.TxPacket.data()), Link::PacketSize);
}

// The firmware the program carries.
const MemoryImage& embeddedImage() {
    static const MemoryImage image = [] {
        MemoryImage loaded;
        auto table = std::make_unique<ImageLineTable>();
        std::int16_t loadError = 0;
        LoadEmbeddedImage(loaded, *table, loadError);
        return loaded;
    }();
    return image;
}

// Flags `row` and stores `bytes` in it.
void putRow(MemoryImage& image, int row, const QByteArray& bytes) {
    for (int c = 0; c < bytes.size(); ++c)
        image.ImageData(row, c) = static_cast<std::uint8_t>(bytes[c]);
    image.RowHasData(row) = MemoryImage::True;
}

// Two chunks with data, the first and the last below the boot block.
void twoChunks(MemoryImage& image) {
    putRow(image, 0xC000, QByteArray::fromHex("00112233445566778899aabbccddeeff"));
    putRow(image, 0xFEFF, QByteArray::fromHex("0123456789abcdef0123456789abcdef"));
}

QList<int> chunkStarts(int lastChunk) {
    QList<int> rows;
    for (int row = 0xC000; row <= lastChunk; row += 64)
        rows << row;
    return rows;
}

QStringList addressTexts(const QList<int>& rows) {
    QStringList texts;
    for (int row : rows)
        texts << rowAddressText(row);
    return texts;
}

// The flash address of every "PG" packet the radio received, in order.
QList<int> programmedAddresses(const sim::RadioModel& radio) {
    QList<int> addresses;
    for (const auto& m : radio.messages())
        if (m.kind == Kind::PG)
            addresses << (std::uint8_t(m.bytes[4]) << 16 | std::uint8_t(m.bytes[5]) << 8 |
                          std::uint8_t(m.bytes[6]));
    return addresses;
}

std::int16_t run(LinkRig& r, const QString& procedure) {
    if (procedure == "erase")
        return r.link.FlashErase();
    if (procedure == "write")
        return r.link.FlashWriteImage();
    if (procedure == "end")
        return r.link.FlashEnd();
    qFatal("no procedure %s", qPrintable(procedure));
}

Kind packetKind(const QString& procedure) {
    return procedure == "erase" ? Kind::BE : procedure == "write" ? Kind::PG : Kind::ED;
}

} // namespace

class FlashTest : public QObject {
    Q_OBJECT

private slots:
    // --- Packet bytes --------------------------------------------------------------

    void packets_data() {
        QTest::addColumn<QString>("packet");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("ED") << "ED" << QByteArray::fromHex("fffe4544") + ff(1027) + QByteArray::fromHex("86");
        QTest::newRow("BE") << "BE" << QByteArray::fromHex("fffe4245") + eraseEntries + ff(995) + "\xAE";
        QTest::newRow("BE with the boot block") << "BE boot"
                                                << QByteArray::fromHex("fffe4245") + eraseEntries +
                                                       QByteArray::fromHex("000ffffe") + ff(991) + "\xBE";
        QTest::newRow("PG at C000, first byte 00")
            << "PG C000" << QByteArray::fromHex("fffe50470c000000") + ff(1023) + "\xA4";
        QTest::newRow("PG at FEC0, erased")
            << "PG FEC0" << QByteArray::fromHex("fffe50470fec00") + ff(1024) + "\x92";
        // Rows without data go out as 0xFF; the flagged last row ends the data.
        QTest::newRow("PG, only the last row")
            << "PG last row"
            << QByteArray::fromHex("fffe50470c0000") + ff(1008) +
                   QByteArray::fromHex("000102030405060708090a0b0c0d0e0f") + "\x2B";
    }

    void packets() {
        QFETCH(QString, packet);
        QFETCH(QByteArray, expected);

        LinkRig r;
        r.link.TxPacket.fill(0x55); // every build sets all 1032 bytes
        if (packet == "ED") {
            r.link.BuildEndPacket();
        } else if (packet.startsWith("BE")) {
            r.link.BuildErasePacket(packet == "BE boot");
        } else if (packet == "PG C000") {
            r.image.ImageData(0xC000, 0) = 0x00;
            r.link.BuildProgramPacket(0xC000);
        } else if (packet == "PG FEC0") {
            r.link.BuildProgramPacket(0xFEC0);
        } else {
            putRow(r.image, 0xC03F, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"));
            r.link.BuildProgramPacket(0xC000);
        }
        QCOMPARE(txPacket(r.link).toHex(), expected.toHex());
    }

    void eachProcedureSendsItsPacket_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("erase") << "erase"
                               << QByteArray::fromHex("fffe4245") + eraseEntries + ff(995) + "\xAE";
        QTest::newRow("end") << "end" << QByteArray::fromHex("fffe4544") + ff(1027) + "\x86";
        QTest::newRow("write") << "write" << QByteArray::fromHex("fffe50470c000000") + ff(1023) + "\xA4";
    }

    void eachProcedureSendsItsPacket() {
        QFETCH(QString, procedure);
        QFETCH(QByteArray, packet);

        LinkRig r;
        r.image.ImageData(0xC000, 0) = 0x00;
        r.image.RowHasData(0xC000) = MemoryImage::True;
        run(r, procedure);
        const auto writes = r.port->writes();
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0].bytes + writes[1].bytes, packet);
        QCOMPARE(r.radio().badCheckBytes(), 0);
    }

    // --- Answers and attempts ----------------------------------------------------

    void answers_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("packets");

        const auto ngFirst = [](Kind kind, int n) {
            return radioWith([=](auto& o) { o.faultsFor(kind).ngFirst = n; });
        };
        const auto okInstead = [](Kind kind) {
            return radioWith([=](auto& o) { o.faultsFor(kind).okInstead = true; });
        };
        const auto answer = [](Kind kind, const char* reply) {
            return radioWith([=](auto& o) { o.faultsFor(kind).reply = QByteArray(reply); });
        };

        QTest::newRow("erase BE") << "erase" << sim::RadioOptions{} << 4 << 1;
        QTest::newRow("erase OK") << "erase" << okInstead(Kind::BE) << 0 << 1;
        QTest::newRow("erase NG twice") << "erase" << ngFirst(Kind::BE, 2) << 4 << 3;
        QTest::newRow("erase NG three times") << "erase" << ngFirst(Kind::BE, 3) << 1 << 3;
        QTest::newRow("erase answered ED") << "erase" << answer(Kind::BE, "ED\r\n") << 1 << 3;
        QTest::newRow("end ED") << "end" << sim::RadioOptions{} << 2 << 1;
        QTest::newRow("end OK") << "end" << okInstead(Kind::ED) << 0 << 1;
        QTest::newRow("end NG nine times") << "end" << ngFirst(Kind::ED, 9) << 2 << 10;
        QTest::newRow("end NG ten times") << "end" << ngFirst(Kind::ED, 10) << 1 << 10;
        QTest::newRow("end answered BE") << "end" << answer(Kind::ED, "BE\r\n") << 1 << 10;
        // The write below has one chunk with data.
        QTest::newRow("write PG") << "write" << sim::RadioOptions{} << 0 << 1;
        QTest::newRow("write OK") << "write" << okInstead(Kind::PG) << 0 << 1;
        QTest::newRow("write answered ED") << "write" << answer(Kind::PG, "ED\r\n") << 1 << 10;
    }

    void answers() {
        QFETCH(QString, procedure);
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, result);
        QFETCH(int, packets);

        LinkRig r(options);
        r.image.RowHasData(0xD000) = MemoryImage::True;
        QCOMPARE(int(run(r, procedure)), result);
        QCOMPARE(r.radio().count(packetKind(procedure)), packets);
        QCOMPARE(r.radio().messageCount(), packets);
        // One open for all attempts.
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    void silentRadio_data() {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("attempts");
        QTest::newRow("erase") << "erase" << 3;
        QTest::newRow("write") << "write" << 10;
        QTest::newRow("end") << "end" << 10;
    }

    void silentRadio() {
        QFETCH(QString, procedure);
        QFETCH(int, attempts);

        // Each attempt writes both halves and waits out its 5-second deadline.
        LinkRig r(radioWith([](auto& o) { o.silent = true; }));
        twoChunks(r.image);
        QCOMPARE(run(r, procedure), std::int16_t(1));
        QCOMPARE(r.clock().nowMs(), std::int64_t(5000) * attempts);
        const auto writes = r.port->writes();
        QCOMPARE(writes.size(), 2 * attempts);
        for (int i = 0; i < writes.size(); ++i)
            QCOMPARE(writes[i].at, sim::millis(5000) * (i / 2 + i % 2));
        if (procedure == "write")
            QCOMPARE(r.host.text1, QStringList{"C0000"});
        QVERIFY(r.idle());
    }

    void lateAnswerSpoilsTheNextAttempt() {
        // The first "ED" is answered after its deadline. Its second half's echo,
        // then that answer, are read at the head of the next attempt, which fails
        // on them; the third attempt goes through.
        LinkRig r(radioWith([](auto& o) {
            o.faultsFor(Kind::ED).late = sim::millis(5500);
            o.faultsFor(Kind::ED).lateFirst = 1;
        }));
        QCOMPARE(r.link.FlashEnd(), std::int16_t(2));
        QCOMPARE(r.radio().count(Kind::ED), 3);
        QVERIFY(r.idle());
    }

    void unreadEchoSpoilsTheNextAttempt() {
        // The first "BE" is answered long after the port has closed: that attempt
        // reads only the first half's echo. The second attempt finds the other
        // 520 echoed bytes at its head and fails as well; the third goes through.
        LinkRig r(radioWith([](auto& o) {
            o.faultsFor(Kind::BE).late = sim::millis(60000);
            o.faultsFor(Kind::BE).lateFirst = 1;
        }));
        QCOMPARE(r.link.FlashErase(), std::int16_t(ReplyBE));
        QCOMPARE(r.radio().count(Kind::BE), 3);
        QCOMPARE(r.clock().nowMs(), std::int64_t(5000));
        QVERIFY(r.idle());
    }

    // --- The chunk walk -------------------------------------------------------------

    void retriesOfAChunk_data() {
        QTest::addColumn<int>("ngFirst");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<int>>("addresses");
        QTest::addColumn<QStringList>("texts");

        const QList<int> first(10, 0xC0000);
        QTest::newRow("NG nine times, then PG")
            << 9 << 0 << first + QList<int>{0xFEC00} << addressTexts(chunkStarts(0xFEC0));
        QTest::newRow("NG ten times") << 10 << 1 << first << QStringList{"C0000"};
    }

    void retriesOfAChunk() {
        QFETCH(int, ngFirst);
        QFETCH(int, result);
        QFETCH(QList<int>, addresses);
        QFETCH(QStringList, texts);

        LinkRig r(radioWith([&](auto& o) { o.faultsFor(Kind::PG).ngFirst = ngFirst; }));
        twoChunks(r.image);
        QCOMPARE(int(r.link.FlashWriteImage()), result);
        QCOMPARE(programmedAddresses(r.radio()), addresses);
        // A repeat moves neither the bar nor the text.
        QCOMPARE(r.host.text1, texts);
        QCOMPARE(r.host.barValues.size(), texts.size());
        QCOMPARE(r.radio().badCheckBytes(), 0);
        QVERIFY(r.idle());
    }

    void progressIsShownBeforeEachChunk() {
        LinkRig r(radioWith([](auto& o) { o.faultsFor(Kind::PG).ngFirst = 2; }));
        twoChunks(r.image);
        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(0));

        const QList<int> starts = chunkStarts(0xFEC0);
        QCOMPARE(r.host.barValues, starts);
        QCOMPARE(r.host.text1, addressTexts(starts));
        // Three tries of the first chunk, one of the last; each packet is two writes.
        const auto writes = r.port->writes();
        QCOMPARE(writes.size(), 8);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(r.host.text1AtWrite(i), QStringLiteral("C0000"));
        for (int i = 6; i < 8; ++i)
            QCOMPARE(r.host.text1AtWrite(i), QStringLiteral("FEC00"));
        QCOMPARE(writes[6].bytes.first(7), QByteArray::fromHex("fffe50470fec00"));
    }

    void imageWithoutData_data() {
        QTest::addColumn<int>("flag");
        QTest::newRow("no flag") << 0;
        // Only -1 counts as a flag.
        QTest::newRow("flag 1") << 1;
    }

    void imageWithoutData() {
        QFETCH(int, flag);

        LinkRig r;
        r.image.ImageData(0xC000, 0) = 0x00;
        r.image.RowHasData(0xC000) = std::int16_t(flag);
        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(0));
        QVERIFY(r.port->writes().isEmpty());
        QCOMPARE(r.host.barValues, chunkStarts(0xFEC0));
        QCOMPARE(r.host.text1, addressTexts(chunkStarts(0xFEC0)));
        QCOMPARE(r.host.text1.last(), QStringLiteral("FEC00"));
        QVERIFY(r.idle());
    }

    void cellThatDoesNotFitAByte() {
        LinkRig r;
        putRow(r.image, 0xC000, QByteArray(16, '\0'));
        r.image.ImageData(0xC001, 3) = 256;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("exchange failed: overflow"));
        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(-1));
        QVERIFY(r.port->writes().isEmpty());
        QVERIFY(r.idle());
    }

    void hangUpDuringTheWrite() {
        LinkRig r(radioWith([](auto& o) {
            o.hangUpAfter = 5;
            o.hangUpKind = Kind::PG;
        }));
        r.image = embeddedImage();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("exchange failed: .*cable was pulled"));
        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(-1));
        QCOMPARE(r.radio().count(Kind::PG), 5);
        QCOMPARE(r.port->openCount(), 1);
        QVERIFY(r.idle());
    }

    // --- The embedded image and the boot block ---------------------------------------

    void accessCode_data() {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<bool>("bootBlock");
        QTest::newRow("none") << "" << false;
        QTest::newRow("access code") << "TORVANE" << true;
        QTest::newRow("lower case") << "torvane" << false;
        QTest::newRow("trailing space") << "TORVANE " << false;
        QTest::newRow("leading space") << " TORVANE" << false;
        QTest::newRow("longer") << "TORVANES" << false;
    }

    void accessCode() {
        QFETCH(QString, pin);
        QFETCH(bool, bootBlock);

        LinkRig r;
        r.image = embeddedImage();
        r.host.pinNumber = pin;
        QCOMPARE(r.link.FlashErase(), std::int16_t(ReplyBE));
        QCOMPARE(r.port->writes()[0].bytes.sliced(36, 4).toHex(),
                 bootBlock ? QByteArray("000ffffe") : QByteArray("ffffffff"));
        QCOMPARE(r.radio().erasedBlocks().size(), bootBlock ? 9 : 8);

        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(0));
        const int lastChunk = bootBlock ? 0xFFC0 : 0xFEC0;
        QCOMPARE(r.host.barValues, chunkStarts(lastChunk));
        QCOMPARE(r.host.text1.last(), rowAddressText(lastChunk));

        // Every chunk but the two (three) that hold no data.
        QList<int> expected;
        for (int row : chunkStarts(lastChunk))
            if (row != 0xFE40 && row != 0xFE80 && row != 0xFF80)
                expected << row * 16;
        QCOMPARE(programmedAddresses(r.radio()), expected);
        QCOMPARE(expected.size(), bootBlock ? 253 : 250);
        QCOMPARE(r.radio().badCheckBytes(), 0);
        QVERIFY(r.idle());
    }

    void accessCodeIsReadOnceAtTheStart_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("during");
        QTest::addColumn<int>("lastAddress");
        QTest::newRow("typed during the write") << ""
                                                << "TORVANE" << 0xFEC00;
        QTest::newRow("cleared during the write") << "TORVANE"
                                                  << "" << 0xFFC00;
    }

    void accessCodeIsReadOnceAtTheStart() {
        QFETCH(QString, before);
        QFETCH(QString, during);
        QFETCH(int, lastAddress);

        // Each chunk takes the radio a millisecond, so the change lands mid-write.
        LinkRig r(radioWith([](auto& o) { o.faultsFor(Kind::PG).processing = sim::millis(1); }));
        r.image = embeddedImage();
        r.host.pinNumber = before;
        int chunksBeforeChange = -1;
        r.clock().at(20, [&] {
            chunksBeforeChange = r.radio().count(Kind::PG);
            r.host.pinNumber = during;
        });
        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(0));
        QVERIFY(chunksBeforeChange > 0);
        QVERIFY(chunksBeforeChange < r.radio().count(Kind::PG));
        QCOMPARE(programmedAddresses(r.radio()).last(), lastAddress);
    }

    void wholeUpdateLeavesTheImageInTheFlash_data() {
        QTest::addColumn<QString>("pin");
        QTest::newRow("without the boot block") << "";
        QTest::newRow("with the boot block") << "TORVANE";
    }

    void wholeUpdateLeavesTheImageInTheFlash() {
        QFETCH(QString, pin);

        LinkRig r;
        r.image = embeddedImage();
        r.host.pinNumber = pin;
        QCOMPARE(r.link.IdentifyDevice(), ReplyOK);
        QCOMPARE(r.link.ConnectDevice(ModeFlash), ReplyCT);
        QCOMPARE(r.link.FlashErase(), std::int16_t(ReplyBE));
        QCOMPARE(r.link.FlashWriteImage(), std::int16_t(0));
        QCOMPARE(r.link.FlashEnd(), std::int16_t(ReplyED));

        // Without the access code the boot block keeps what it held.
        const QByteArray before = sim::RadioModel::initialFlash();
        QByteArray expected;
        for (std::uint32_t a = 0xC0000; a <= 0xFFFFF; ++a)
            expected += a >= 0xFF000 && pin.isEmpty() ? before[int(a - 0xC0000)] : char(r.image.at(a));
        QVERIFY(r.radio().flash() == expected);
        QCOMPARE(r.radio().unerasedWrites(), 0);
        QCOMPARE(r.radio().rejected(), 0);
        QVERIFY(r.idle());
    }
};

QTEST_GUILESS_MAIN(FlashTest)
#include "tst_flash.moc"
