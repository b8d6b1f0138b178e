#include "image/errors.h"
#include "image/hex_field.h"
#include "image/memory_image.h"
#include "image/srecord.h"

#include <QTest>
#include <limits>

using namespace rqv5;

namespace {

// One S1/S2/S3 record with a correct checksum and `addressBytes` address bytes.
QByteArray sRecord(char type, int addressBytes, quint32 address, const QByteArray& data) {
    QByteArray body;
    body.append(char(addressBytes + data.size() + 1));
    for (int shift = 8 * (addressBytes - 1); shift >= 0; shift -= 8)
        body.append(char(address >> shift));
    body.append(data);
    quint8 sum = 0;
    for (char c : body)
        sum = quint8(sum + quint8(c));
    body.append(char(quint8(~sum)));
    return QByteArray("S") + type + body.toHex().toUpper();
}

QByteArray s2(quint32 address, const QByteArray& data) {
    return sRecord('2', 3, address, data);
}
QByteArray s3(quint32 address, const QByteArray& data) {
    return sRecord('3', 4, address, data);
}

// A cleared image holding `bytes` from `address` on, flagged as the loader flags.
MemoryImage imageWith(int address, const QByteArray& bytes) {
    MemoryImage image;
    for (int k = 0; k < bytes.size(); ++k) {
        const int a = address + k;
        image.ImageData(a >> 4, a & 0xF) = quint8(bytes[k]);
        if (quint8(bytes[k]) < 0xFF)
            image.RowHasData(a >> 4) = MemoryImage::True;
    }
    return image;
}

// Empty when the images are equal, otherwise the first place they differ.
QString firstDifference(const MemoryImage& got, const MemoryImage& want) {
    for (int row = MemoryImage::FirstRow; row <= MemoryImage::LastRow; ++row) {
        if (got.RowHasData(row) != want.RowHasData(row))
            return QStringLiteral("flag of row %1: %2, expected %3")
                .arg(row, 0, 16)
                .arg(got.RowHasData(row))
                .arg(want.RowHasData(row));
        for (int column = 0; column < 16; ++column) {
            if (got.ImageData(row, column) != want.ImageData(row, column))
                return QStringLiteral("address %1: %2, expected %3")
                    .arg(row * 16 + column, 0, 16)
                    .arg(got.ImageData(row, column), 0, 16)
                    .arg(want.ImageData(row, column), 0, 16);
        }
    }
    return {};
}

#define COMPARE_IMAGES(got, want)                                                                            \
    do {                                                                                                     \
        const QString diff = firstDifference(got, want);                                                     \
        QVERIFY2(diff.isEmpty(), qPrintable(diff));                                                          \
    } while (false)

} // namespace

class TestImageCore : public QObject {
    Q_OBJECT

private slots:
    // memory image
    void addressing_data();
    void addressing();
    void outsideTheImage_data();
    void outsideTheImage();
    void addressesOutsideTheImage();
    void clearImage();
    void flagStaysSetAfterFFOverwrite();

    // hexadecimal reader
    void readHex_data();
    void readHex();
    void readHexField_data();
    void readHexField();

    // S-record lines
    void acceptedWithoutStoring_data();
    void acceptedWithoutStoring();
    void notAnSRecord_data();
    void notAnSRecord();
    void storesRecord_data();
    void storesRecord();
    void type3StoresLikeType2_data();
    void type3StoresLikeType2();
    void raisesOutsideTheImage_data();
    void raisesOutsideTheImage();
};

void TestImageCore::addressing_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("bottom") << 0xC0000 << 0xC000 << 0;
    QTest::newRow("end of first row") << 0xC000F << 0xC000 << 15;
    QTest::newRow("start of second row") << 0xC0010 << 0xC001 << 0;
    QTest::newRow("boot block") << 0xFF021 << 0xFF02 << 1;
    QTest::newRow("top") << 0xFFFFF << 0xFFFF << 15;
}

// The address, the cell and the S-record loader agree on where a byte lives.
void TestImageCore::addressing() {
    QFETCH(int, address);
    QFETCH(int, row);
    QFETCH(int, column);

    MemoryImage image;
    image.ImageData(row, column) = 0x5A;
    QCOMPARE(image.at(address), std::int16_t(0x5A));

    MemoryImage loaded;
    std::int16_t loadError = -1;
    LoadSRecordLine(loaded, s2(quint32(address), QByteArray::fromHex("5A")).constData(), loadError);
    QCOMPARE(loadError, std::int16_t(0));
    QCOMPARE(loaded.ImageData(row, column), std::int16_t(0x5A));
    QCOMPARE(loaded.RowHasData(row), MemoryImage::True);
    COMPARE_IMAGES(loaded, imageWith(address, QByteArray::fromHex("5A")));
}

void TestImageCore::outsideTheImage_data() {
    QTest::addColumn<qint64>("row");
    QTest::addColumn<qint64>("column");
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    QTest::newRow("row below (address 0xBFFFF)") << qint64(0xBFFF) << qint64(15);
    QTest::newRow("row above (address 0x100000)") << qint64(0x10000) << qint64(0);
    QTest::newRow("negative row") << qint64(-1) << qint64(0);
    QTest::newRow("lowest row") << lowest << qint64(0);
    QTest::newRow("highest row") << highest << qint64(0);
    QTest::newRow("column -1") << qint64(0xC000) << qint64(-1);
    QTest::newRow("column 16") << qint64(0xFFFF) << qint64(16);
    QTest::newRow("lowest column") << qint64(0xC000) << lowest;
}

void TestImageCore::outsideTheImage() {
    QFETCH(qint64, row);
    QFETCH(qint64, column);

    MemoryImage image;
    const MemoryImage& constImage = image;
    QVERIFY_THROWS_EXCEPTION(SubscriptError, image.ImageData(row, column) = 0);
    QVERIFY_THROWS_EXCEPTION(SubscriptError, constImage.ImageData(row, column));
    if (row < MemoryImage::FirstRow || row > MemoryImage::LastRow) {
        QVERIFY_THROWS_EXCEPTION(SubscriptError, image.RowHasData(row) = MemoryImage::True);
        QVERIFY_THROWS_EXCEPTION(SubscriptError, constImage.RowHasData(row));
    }
    COMPARE_IMAGES(image, MemoryImage());
}

void TestImageCore::addressesOutsideTheImage() {
    const MemoryImage image;
    QVERIFY_THROWS_EXCEPTION(SubscriptError, image.at(0xBFFFF));
    QVERIFY_THROWS_EXCEPTION(SubscriptError, image.at(0x100000));
}

void TestImageCore::clearImage() {
    MemoryImage image;
    image.ImageData(0xC000, 0) = 0;
    image.ImageData(0xE123, 7) = 0x42;
    image.ImageData(0xFFFF, 15) = 0x00;
    image.RowHasData(0xC000) = MemoryImage::True;
    image.RowHasData(0xFFFF) = MemoryImage::True;

    image.ClearImage();

    qint32 upperHalf = 0;
    qint32 whole = 0;
    for (int row = MemoryImage::FirstRow; row <= MemoryImage::LastRow; ++row) {
        QCOMPARE(image.RowHasData(row), MemoryImage::False);
        for (int column = 0; column < 16; ++column) {
            QCOMPARE(image.ImageData(row, column), std::int16_t(255));
            whole += image.ImageData(row, column);
            if (row >= 0xE000)
                upperHalf += image.ImageData(row, column);
        }
    }
    QCOMPARE(upperHalf, 0x1FE0000);
    QCOMPARE(whole, 0x3FC0000);
}

void TestImageCore::flagStaysSetAfterFFOverwrite() {
    MemoryImage image;
    std::int16_t loadError = 0;
    LoadSRecordLine(image, "S2080C000F01020304D2", loadError);
    LoadSRecordLine(image, s2(0x0C000F, QByteArray::fromHex("FFFFFFFF")).constData(), loadError);

    for (int column = 0; column < 16; ++column) {
        QCOMPARE(image.ImageData(0xC000, column), std::int16_t(0xFF));
        QCOMPARE(image.ImageData(0xC001, column), std::int16_t(0xFF));
    }
    QCOMPARE(image.RowHasData(0xC000), MemoryImage::True);
    QCOMPARE(image.RowHasData(0xC001), MemoryImage::True);
    QCOMPARE(image.RowHasData(0xC002), MemoryImage::False);
}

void TestImageCore::readHex_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint64>("value");
    QTest::newRow("upper case") << QByteArray("0C0AF") << quint64(0xC0AF);
    QTest::newRow("lower case") << QByteArray("0c0af") << quint64(0xC0AF);
    QTest::newRow("mixed case") << QByteArray("aBcD") << quint64(0xABCD);
    QTest::newRow("blanks skipped") << QByteArray(" 1 f ") << quint64(0x1F);
    QTest::newRow("tab and line feed skipped") << QByteArray("\t1\n2") << quint64(0x12);
    QTest::newRow("leading digits only") << QByteArray("12G4") << quint64(0x12);
    QTest::newRow("0x prefix stops at x") << QByteArray("0x10") << quint64(0);
    QTest::newRow("carriage return stops") << QByteArray("1\r2") << quint64(1);
    QTest::newRow("no digit") << QByteArray("G1") << quint64(0);
    QTest::newRow("sign is no digit") << QByteArray("-1") << quint64(0);
    QTest::newRow("empty") << QByteArray() << quint64(0);
    QTest::newRow("blanks only") << QByteArray("  ") << quint64(0);
    QTest::newRow("16 digits") << QByteArray("FEDCBA9876543210") << quint64(0xFEDCBA9876543210);
    QTest::newRow("too long saturates")
        << QByteArray("10000000000000000") << std::numeric_limits<quint64>::max();
}

void TestImageCore::readHex() {
    QFETCH(QByteArray, text);
    QFETCH(quint64, value);
    QCOMPARE(quint64(rqv5::readHex(std::string_view(text.constData(), std::size_t(text.size())))), value);
}

void TestImageCore::readHexField_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<quint64>("value");
    QTest::newRow("count field") << QByteArray("S2240C0000") << 3 << 2 << quint64(0x24);
    QTest::newRow("row part") << QByteArray("S2240C0010") << 5 << 5 << quint64(0x0C001);
    QTest::newRow("column digit") << QByteArray("S2240C001A") << 10 << 1 << quint64(0xA);
    QTest::newRow("stops at the field's end") << QByteArray("S21234") << 3 << 2 << quint64(0x12);
    QTest::newRow("partly past the end") << QByteArray("S21") << 3 << 2 << quint64(1);
    QTest::newRow("wholly past the end") << QByteArray("S2") << 3 << 2 << quint64(0);
    QTest::newRow("starts just past the end") << QByteArray("S24") << 4 << 2 << quint64(0);
    QTest::newRow("blank counts toward the width") << QByteArray("S2 45") << 3 << 2 << quint64(4);
    QTest::newRow("position 0 does not exist") << QByteArray("12") << 0 << 2 << quint64(0);
}

void TestImageCore::readHexField() {
    QFETCH(QByteArray, line);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(quint64, value);
    const std::string_view text(line.constData(), std::size_t(line.size()));
    QCOMPARE(quint64(rqv5::readHexField(text, std::size_t(first), std::size_t(count))), value);
}

void TestImageCore::acceptedWithoutStoring_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("header") << QByteArray("S0030000FC");
    QTest::newRow("end record S8") << QByteArray("S804000000FB");
    QTest::newRow("end record S9") << QByteArray("S9030000FC");
    QTest::newRow("end record S7") << QByteArray("S70500000000FA");
    QTest::newRow("count record") << QByteArray("S5030001FB");
    // Types 0 and 4..9 store nothing even when they are laid out like data.
    QTest::newRow("S4 shaped like data") << QByteArray("S4080C000F01020304D2");
    QTest::newRow("S6 shaped like data") << QByteArray("S6080C000F01020304D2");
    QTest::newRow("S0 shaped like data") << QByteArray("S0080C000F01020304D2");
    QTest::newRow("non-digit type") << QByteArray("SX080C000F01020304D2");
    QTest::newRow("blank type") << QByteArray("S 080C000F01020304D2");
    QTest::newRow("lone S") << QByteArray("S");
    // No data bytes when the count leaves none after the address.
    QTest::newRow("S2 count 4") << QByteArray("S2040C000FE0");
    QTest::newRow("S2 count 3") << QByteArray("S2030C000F");
    QTest::newRow("S2 count 0") << QByteArray("S2000C000F01020304");
    QTest::newRow("S2 count 4 outside the image") << QByteArray("S204FFFFFF");
    QTest::newRow("S2 count 4 below the image") << QByteArray("S204000000FB");
    QTest::newRow("S1 count 3") << QByteArray("S1030C00F0");
    QTest::newRow("S3 count 5") << QByteArray("S305000C0000EE");
    QTest::newRow("S3 count 5 outside the image") << QByteArray("S305FFFFFFFF");
    QTest::newRow("S2 without count") << QByteArray("S2");
}

void TestImageCore::acceptedWithoutStoring() {
    QFETCH(QByteArray, line);
    MemoryImage image;
    std::int16_t loadError = 9;
    LoadSRecordLine(image, line.constData(), loadError);
    QCOMPARE(loadError, load_code::Accepted);
    COMPARE_IMAGES(image, MemoryImage());
}

void TestImageCore::notAnSRecord_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("lower-case s") << QByteArray("s2080C000F01020304D2");
    QTest::newRow("leading blank") << QByteArray(" S2080C000F01020304D2");
    QTest::newRow("leading tab") << QByteArray("\tS2080C000F01020304D2");
    QTest::newRow("Intel HEX") << QByteArray(":0400000001020304F2");
}

void TestImageCore::notAnSRecord() {
    QFETCH(QByteArray, line);
    MemoryImage image;
    std::int16_t loadError = 0;
    LoadSRecordLine(image, line.constData(), loadError);
    QCOMPARE(loadError, load_code::NotAnSRecord);
    COMPARE_IMAGES(image, MemoryImage());
}

void TestImageCore::storesRecord_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray example = QByteArray::fromHex("01020304");
    QTest::newRow("0x0C000F runs into the next row")
        << QByteArray("S2080C000F01020304D2") << 0xC000F << example;
    QTest::newRow("wrong checksum") << QByteArray("S2080C000F0102030400") << 0xC000F << example;
    QTest::newRow("no checksum") << QByteArray("S2080C000F01020304") << 0xC000F << example;
    QTest::newRow("text after the checksum") << QByteArray("S2080C000F01020304D2 junk") << 0xC000F << example;
    QTest::newRow("lower-case digits")
        << QByteArray("S2080c000f0a0b0c0dae") << 0xC000F << QByteArray::fromHex("0A0B0C0D");
    QTest::newRow("line ends before the data")
        << QByteArray("S2080C000F0102") << 0xC000F << QByteArray::fromHex("01020000");
    QTest::newRow("line ends inside a byte")
        << QByteArray("S2080C000F010203F") << 0xC000F << QByteArray::fromHex("0102030F");
    QTest::newRow("bad digit reads 0")
        << QByteArray("S2080C000F01G20304") << 0xC000F << QByteArray::fromHex("01000304");
    QTest::newRow("count beyond the line")
        << QByteArray("S20A0C0000AB") << 0xC0000 << QByteArray::fromHex("AB0000000000");
    QTest::newRow("0xFF bytes flag nothing")
        << QByteArray("S2060C0000FFFFEF") << 0xC0000 << QByteArray::fromHex("FFFF");
    QTest::newRow("0xFF and data in one row")
        << s2(0x0C0000, QByteArray::fromHex("FF00FF")) << 0xC0000 << QByteArray::fromHex("FF00FF");
    QTest::newRow("full record on a row boundary")
        << s2(0x0D1230,
              QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"))
        << 0xD1230 << QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    QTest::newRow("full record across three rows")
        << s2(0x0D1238,
              QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"))
        << 0xD1238 << QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    QTest::newRow("ends at the top") << QByteArray("S2080FFFFC01020304E3") << 0xFFFFC << example;
    QTest::newRow("type 3") << QByteArray("S309000C000F01020304D1") << 0xC000F << example;
}

void TestImageCore::storesRecord() {
    QFETCH(QByteArray, line);
    QFETCH(int, address);
    QFETCH(QByteArray, bytes);
    MemoryImage image;
    std::int16_t loadError = 9;
    LoadSRecordLine(image, line.constData(), loadError);
    QCOMPARE(loadError, load_code::Accepted);
    COMPARE_IMAGES(image, imageWith(address, bytes));
}

void TestImageCore::type3StoresLikeType2_data() {
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("bottom") << quint32(0xC0000) << QByteArray::fromHex("C3");
    QTest::newRow("across a row") << quint32(0xC000F) << QByteArray::fromHex("01020304");
    QTest::newRow("0xFF among data") << quint32(0xE5A5B) << QByteArray::fromHex("FF7FFF80");
    QTest::newRow("top") << quint32(0xFFFF0) << QByteArray::fromHex("00112233445566778899AABBCCDDEEFF");
}

void TestImageCore::type3StoresLikeType2() {
    QFETCH(quint32, address);
    QFETCH(QByteArray, data);
    MemoryImage viaType2;
    MemoryImage viaType3;
    std::int16_t loadError = 0;
    LoadSRecordLine(viaType2, s2(address, data).constData(), loadError);
    LoadSRecordLine(viaType3, s3(address, data).constData(), loadError);
    COMPARE_IMAGES(viaType3, viaType2);
    COMPARE_IMAGES(viaType3, imageWith(int(address), data));
}

void TestImageCore::raisesOutsideTheImage_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("storedFrom");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("two bytes at 0x0FFFFF")
        << QByteArray("S2060FFFFF0102E9") << 0xFFFFF << QByteArray::fromHex("01");
    QTest::newRow("runs off the top")
        << s2(0x0FFFFE, QByteArray::fromHex("01020304")) << 0xFFFFE << QByteArray::fromHex("0102");
    QTest::newRow("0xFF byte off the top")
        << s2(0x0FFFFF, QByteArray::fromHex("FFFF")) << 0xFFFFF << QByteArray::fromHex("FF");
    QTest::newRow("below the image") << s2(0x0BFFFF, QByteArray::fromHex("01")) << 0 << QByteArray();
    QTest::newRow("below the image, 0xFF") << s2(0x0BFFFF, QByteArray::fromHex("FF")) << 0 << QByteArray();
    QTest::newRow("above the image") << s2(0x100000, QByteArray::fromHex("01")) << 0 << QByteArray();
    QTest::newRow("type 1 at 0xC000") << QByteArray("S1040C00AA45") << 0 << QByteArray();
    QTest::newRow("type 1 at 0xFFFF")
        << sRecord('1', 2, 0xFFFF, QByteArray::fromHex("AA")) << 0 << QByteArray();
    QTest::newRow("type 3 at 0x00100000") << s3(0x00100000, QByteArray::fromHex("01")) << 0 << QByteArray();
    QTest::newRow("type 3 at 0xFFFFFFF0") << s3(0xFFFFFFF0, QByteArray::fromHex("01")) << 0 << QByteArray();
    QTest::newRow("type 3 at 0x000BFFFF") << s3(0x000BFFFF, QByteArray::fromHex("01")) << 0 << QByteArray();
}

// A byte outside the image raises the subscript error; the bytes before it stay.
void TestImageCore::raisesOutsideTheImage() {
    QFETCH(QByteArray, line);
    QFETCH(int, storedFrom);
    QFETCH(QByteArray, stored);
    MemoryImage image;
    std::int16_t loadError = 9;
    QVERIFY_THROWS_EXCEPTION(SubscriptError, LoadSRecordLine(image, line.constData(), loadError));
    QCOMPARE(loadError, load_code::Accepted);
    COMPARE_IMAGES(image, imageWith(storedFrom, stored));
}

QTEST_GUILESS_MAIN(TestImageCore)
#include "tst_image_core.moc"
