#include "hex_record.h"
#include "image/embedded_image.h"
#include "image/image_file.h"
#include "image/srecord.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <memory>

using namespace rqv5;

using Kind = FileLoadOutcome::Kind;
// Flash address -> byte expected there.
using ByteMap = QMap<int, int>;

using rqv5::test::hexRecord;

namespace {

QByteArray segmentBase(quint16 segment) {
    return hexRecord(0x02, 0, QByteArray::fromHex(QByteArray::number(segment, 16).rightJustified(4, '0')));
}

QByteArray linearBase(quint16 upper) {
    return hexRecord(0x04, 0, QByteArray::fromHex(QByteArray::number(upper, 16).rightJustified(4, '0')));
}

// One S2 record (24-bit address) with a correct checksum, without a line end.
QByteArray s2Record(quint32 address, const QByteArray& data) {
    QByteArray body;
    body.append(char(data.size() + 4));
    body.append(char(address >> 16));
    body.append(char(address >> 8));
    body.append(char(address));
    body.append(data);
    quint8 sum = 0;
    for (char c : body)
        sum = quint8(sum + quint8(c));
    body.append(char(quint8(~sum)));
    return "S2" + body.toHex().toUpper();
}

int flaggedRows(const MemoryImage& image) {
    int n = 0;
    for (int row = MemoryImage::FirstRow; row <= MemoryImage::LastRow; ++row)
        n += image.RowHasData(row) == MemoryImage::True;
    return n;
}

// The image the program holds before a load: the firmware it carries, plus marks
// that no load of a test file produces, so "unchanged" never looks like "cleared".
MemoryImage previousImage() {
    MemoryImage image;
    auto table = std::make_unique<ImageLineTable>();
    std::int16_t loadError = 0;
    LoadEmbeddedImage(image, *table, loadError);
    image.ImageData(0xC800, 3) = 0x42;
    image.RowHasData(0xC800) = MemoryImage::True;
    image.RowHasData(0xE000) = MemoryImage::True;
    return image;
}

// A device that hands out its bytes at most `chunk` at a time, fails with a read
// error once `failAt` bytes are read (never when negative), and in endless mode
// repeats its bytes forever.
class ScriptedDevice : public QIODevice {
public:
    ScriptedDevice(QByteArray data, qint64 failAt, qint64 chunk, bool endless = false)
        : data_(std::move(data)), failAt_(failAt), chunk_(chunk), endless_(endless) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    int reads = 0;

protected:
    qint64 readData(char* out, qint64 max) override {
        if (failAt_ >= 0 && pos_ >= failAt_) {
            setErrorString(QStringLiteral("simulated read failure"));
            return -1;
        }
        ++reads;
        if (endless_) {
            const qint64 n = std::min(max, chunk_);
            for (qint64 i = 0; i < n; ++i)
                out[i] = data_[(pos_ + i) % data_.size()];
            pos_ += n;
            return n;
        }
        qint64 n = std::min({max, chunk_, data_.size() - pos_});
        if (failAt_ >= 0)
            n = std::min(n, failAt_ - pos_);
        std::memcpy(out, data_.constData() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 failAt_;
    qint64 chunk_;
    bool endless_;
    qint64 pos_ = 0;
};

QString fixture(const char* name) {
    return QStringLiteral(RQV5_SOURCE_DIR "/tests/image_file/fixtures/") + QLatin1String(name);
}

} // namespace

class TestImageFile : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = dir_.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void parserFollowsThePathEnding_data();
    void parserFollowsThePathEnding();
    void sRecordFiles_data();
    void sRecordFiles();
    void sRecordFileStoresAcrossRows();
    void hexLineCodes_data();
    void hexLineCodes();
    void hexBasesPlaceData_data();
    void hexBasesPlaceData();
    void objcopyHexFixtureMatchesItsSRecords();
    void embeddedFirmwareAsHexMatchesSRecords();
    void lineEnds_data();
    void lineEnds();
    void longAndBinaryLines_data();
    void longAndBinaryLines();
    void failureLeavesImageUnchanged_data();
    void failureLeavesImageUnchanged();
    void messages_data();
    void messages();
};

// The same one-line file, ":00000001FF", loads with the HEX check and is refused by
// the S-record parser, so the outcome tells which parser ran.
void TestImageFile::parserFollowsThePathEnding_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hex");
    QTest::newRow(".mot") << "a.mot" << false;
    QTest::newRow(".s19") << "a.s19" << false;
    QTest::newRow(".txt") << "a.txt" << false;
    QTest::newRow("no extension") << "firmware" << false;
    QTest::newRow(".hex.txt") << "a.hex.txt" << false;
    QTest::newRow(".he") << "a.he" << false;
    QTest::newRow(".hex") << "b.hex" << true;
    QTest::newRow(".HEX") << "B.HEX" << true;
    QTest::newRow(".Hex") << "c.Hex" << true;
    QTest::newRow("ends in hex without a dot") << "firmwarehex" << true;
    QTest::newRow("named just hex") << "hex" << true;
}

void TestImageFile::parserFollowsThePathEnding() {
    QFETCH(QString, name);
    QFETCH(bool, hex);
    const QString path = writeFile(name, ":00000001FF\n");
    QCOMPARE(imageFileFormatForPath(path), hex ? ImageFileFormat::IntelHex : ImageFileFormat::SRecord);
    MemoryImage image;
    std::int16_t loadError = -1;
    const auto outcome = LoadImageFile(path, image, loadError);
    if (hex) {
        QCOMPARE(outcome.kind, Kind::Loaded);
    } else {
        QCOMPARE(outcome.kind, Kind::LineRejected);
        QCOMPARE(outcome.code, load_code::NotAnSRecord);
        QCOMPARE(outcome.lineNumber, 1);
    }
}

void TestImageFile::sRecordFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("flagged");

    const QByteArray data = s2Record(0xC0000, QByteArray::fromHex("0102")) + '\n';
    QTest::newRow("empty file") << QByteArray() << Kind::Loaded << 0 << 0 << 0;
    QTest::newRow("header, data, end") << "S0030000FC\n" + data + "S804000000FB\n"
                                       << Kind::Loaded << 0 << 3 << 1;
    QTest::newRow("only 0xFF bytes flag nothing") << s2Record(0xC0010, QByteArray::fromHex("FFFF")) + '\n'
                                                  << Kind::Loaded << 0 << 1 << 0;
    QTest::newRow("wrong checksum is stored all the same")
        << QByteArray("S2060C00000102FF\n") << Kind::Loaded << 0 << 1 << 1;
    QTest::newRow("blank line") << data + "\n" + data << Kind::LineRejected << 9 << 2 << 0;
    QTest::newRow("lower-case s") << data + data + "s804000000FB\n" << Kind::LineRejected << 9 << 3 << 0;
    QTest::newRow("leading blank") << " " + data << Kind::LineRejected << 9 << 1 << 0;
    QTest::newRow("lines after the end record are parsed") << "S804000000FB\n" + data + "garbage\n"
                                                           << Kind::LineRejected << 9 << 3 << 0;
    QTest::newRow("type-1 data record") << QByteArray("S1050000AA50\n") << Kind::FileError << 0 << 1 << 0;
    QTest::newRow("type-1 after good lines") << "S0030000FC\n" + data + "S1050000AA50\n"
                                             << Kind::FileError << 0 << 3 << 0;
    QTest::newRow("runs past 0xFFFFF") << s2Record(0xFFFFF, QByteArray::fromHex("0102")) + '\n'
                                       << Kind::FileError << 0 << 1 << 0;
}

void TestImageFile::sRecordFiles() {
    QFETCH(QByteArray, content);
    QFETCH(Kind, kind);
    QFETCH(int, code);
    QFETCH(int, line);
    QFETCH(int, flagged);
    const MemoryImage before = previousImage();
    MemoryImage image = before;
    std::int16_t loadError = -1;
    const auto outcome = LoadImageFile(writeFile("s.mot", content), image, loadError);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.lineNumber, line);
    QCOMPARE(loadError, code);
    if (kind == Kind::Loaded)
        QCOMPARE(flaggedRows(image), flagged);
    else
        QVERIFY(image == before);
}

// A record may start anywhere and run on into the next row.
void TestImageFile::sRecordFileStoresAcrossRows() {
    MemoryImage image = previousImage();
    std::int16_t loadError = -1;
    const auto path = writeFile("rows.s19", "S2080C000F01020304D0\r\n");
    QCOMPARE(LoadImageFile(path, image, loadError).kind, Kind::Loaded);
    QCOMPARE(image.ImageData(0xC000, 15), 0x01);
    QCOMPARE(image.ImageData(0xC001, 0), 0x02);
    QCOMPARE(image.ImageData(0xC001, 2), 0x04);
    QCOMPARE(image.ImageData(0xC001, 3), 0xFF);
    QCOMPARE(image.ImageData(0xC000, 14), 0xFF);
    QCOMPARE(flaggedRows(image), 2);
    QCOMPARE(image.RowHasData(0xC000), MemoryImage::True);
    QCOMPARE(image.RowHasData(0xC001), MemoryImage::True);
}

// One line at a time against a given base. Codes 5..8 need a data record that got
// that far; code 6 cannot happen, since the column is a single hexadecimal digit.
void TestImageFile::hexLineCodes_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<quint32>("baseBefore");
    QTest::addColumn<int>("code");
    QTest::addColumn<quint32>("baseAfter");
    QTest::addColumn<bool>("stores");

    const quint32 c0 = 0xC0000;
    const QByteArray good = hexRecord(0x00, 0x0000, QByteArray::fromHex("0102"));

    QTest::newRow("end record") << QByteArray(":00000001FF") << 0u << 0 << 0u << false;
    QTest::newRow("9: empty line") << QByteArray() << c0 << 9 << c0 << false;
    QTest::newRow("9: S-record") << QByteArray("S0030000FC") << c0 << 9 << c0 << false;
    QTest::newRow("9: leading blank") << " " + good << c0 << 9 << c0 << false;
    QTest::newRow("1: colon only") << QByteArray(":") << c0 << 1 << c0 << false;
    QTest::newRow("1: end record in lower case") << QByteArray(":00000001ff") << c0 << 1 << c0 << false;
    QTest::newRow("1: end record and a blank") << QByteArray(":00000001FF ") << c0 << 1 << c0 << false;
    QTest::newRow("1: empty data record") << hexRecord(0x00, 0, {}) << c0 << 1 << c0 << false;
    QTest::newRow("2: count 0x11") << hexRecord(0x00, 0, QByteArray(17, 0)) << c0 << 2 << c0 << false;
    QTest::newRow("2: count 0xFF") << ":FF" + good.mid(3) << c0 << 2 << c0 << false;
    QTest::newRow("3: one short") << good.chopped(1) << c0 << 3 << c0 << false;
    QTest::newRow("3: one long") << good + "0" << c0 << 3 << c0 << false;
    QTest::newRow("3: carriage return kept") << good + "\r" << c0 << 3 << c0 << false;
    QTest::newRow("4: type 10") << hexRecord(0x10, 0, QByteArray::fromHex("0102")) << c0 << 4 << c0 << false;
    QTest::newRow("4: type F0") << hexRecord(0xF0, 0, QByteArray::fromHex("0102")) << c0 << 4 << c0 << false;
    for (int type : {0x06, 0x07, 0x08, 0x09, 0x0A, 0x0C, 0x0F})
        QTest::addRow("10: type %02X", type)
            << hexRecord(type, 0, QByteArray::fromHex("0102")) << c0 << 10 << c0 << false;
    QTest::newRow("10: type 0a") << hexRecord(0x0A, 0, QByteArray::fromHex("0102")).toLower() << c0 << 10
                                 << c0 << false;
    QTest::newRow("0: type 01 with data")
        << hexRecord(0x01, 0, QByteArray::fromHex("00")) << c0 << 0 << c0 << false;
    QTest::newRow("0: type 03") << hexRecord(0x03, 0, QByteArray::fromHex("C0000000")) << c0 << 0 << c0
                                << false;
    QTest::newRow("0: type 05") << hexRecord(0x05, 0, QByteArray::fromHex("000C0000")) << c0 << 0 << c0
                                << false;
    QByteArray badStart = hexRecord(0x05, 0, QByteArray::fromHex("000C0000"));
    badStart.back() = '0';
    QTest::newRow("0: type 05, checksum not looked at") << badStart << c0 << 0 << c0 << false;
    QTest::newRow("0: type 02 segment C000") << segmentBase(0xC000) << 0u << 0 << c0 << false;
    QTest::newRow("0: type 02 segment FFFF") << segmentBase(0xFFFF) << 0u << 0 << 0xFFFF0u << false;
    QTest::newRow("0: type 04 upper 000F") << linearBase(0x000F) << c0 << 0 << 0xF0000u << false;
    QTest::newRow("0: type 04 upper 0000") << linearBase(0x0000) << c0 << 0 << 0u << false;
    QTest::newRow("11: type 02 with one byte")
        << hexRecord(0x02, 0, QByteArray::fromHex("C0")) << 0u << 11 << 0u << false;
    QTest::newRow("11: type 04 with four bytes")
        << hexRecord(0x04, 0, QByteArray::fromHex("000C0000")) << 0u << 11 << 0u << false;
    QByteArray badBase = segmentBase(0xC000);
    badBase.back() = 'D';
    QTest::newRow("8: type 02 checksum") << badBase << 0u << 8 << 0u << false;
    // "0G" reads 0 leniently, so only the strict checksum tells these from good records.
    QByteArray strayBase = linearBase(0x0000);
    strayBase[12] = 'G';
    QTest::newRow("8: type 04 with a stray character") << strayBase << c0 << 8 << c0 << false;
    QTest::newRow("5: base 0") << hexRecord(0x00, 0xC000, QByteArray::fromHex("01")) << 0u << 5 << 0u
                               << false;
    QTest::newRow("5: row 0xBFFF") << hexRecord(0x00, 0xFFF0, QByteArray::fromHex("01")) << 0xB0000u << 5
                                   << 0xB0000u << false;
    QTest::newRow("5: 1 MB via linear base")
        << hexRecord(0x00, 0x0000, QByteArray::fromHex("01")) << 0x100000u << 5 << 0x100000u << false;
    QTest::newRow("5: 1 MB via segment base")
        << hexRecord(0x00, 0x0010, QByteArray::fromHex("01")) << 0xFFFF0u << 5 << 0xFFFF0u << false;
    QTest::newRow("5: far above") << hexRecord(0x00, 0x0000, QByteArray::fromHex("01")) << 0xFFFF0000u << 5
                                  << 0xFFFF0000u << false;
    QTest::newRow("7: column 1, 16 bytes")
        << hexRecord(0x00, 0x0001, QByteArray(16, 0x11)) << c0 << 7 << c0 << false;
    QTest::newRow("7: column 15, 2 bytes")
        << hexRecord(0x00, 0x000F, QByteArray::fromHex("0102")) << c0 << 7 << c0 << false;
    QByteArray badSum = good;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    QTest::newRow("8: data checksum") << badSum << c0 << 8 << c0 << false;
    QByteArray strayData = hexRecord(0x00, 0x0000, QByteArray::fromHex("0002"));
    strayData[10] = 'G';
    QTest::newRow("8: data with a stray character") << strayData << c0 << 8 << c0 << false;
    QTest::newRow("0: data at 0xC0000") << good << c0 << 0 << c0 << true;
    QTest::newRow("0: data in lower case") << good.toLower() << c0 << 0 << c0 << true;
    QTest::newRow("0: column 15, 1 byte")
        << hexRecord(0x00, 0x000F, QByteArray::fromHex("01")) << c0 << 0 << c0 << true;
    QTest::newRow("0: full last row")
        << hexRecord(0x00, 0xFFF0, QByteArray(16, 0x22)) << 0xF0000u << 0 << 0xF0000u << true;
}

void TestImageFile::hexLineCodes() {
    QFETCH(QByteArray, line);
    QFETCH(quint32, baseBefore);
    QFETCH(int, code);
    QFETCH(quint32, baseAfter);
    QFETCH(bool, stores);
    MemoryImage image;
    HexBase base{baseBefore};
    std::int16_t loadError = -1;
    CheckHexLine(image, base, std::string_view(line.constData(), size_t(line.size())), loadError);
    QCOMPARE(loadError, code);
    QCOMPARE(base.address, baseAfter);
    QCOMPARE(image == MemoryImage(), !stores);
}

// Whole HEX files: where data records land under 02 and 04 bases, and which rows
// they flag. `bytes` maps flash addresses to the values expected there; every row
// flagged is listed in `rows`.
void TestImageFile::hexBasesPlaceData_data() {
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<ByteMap>("bytes");
    QTest::addColumn<QList<int>>("rows");

    QTest::newRow("segment base")
        << QByteArrayList{segmentBase(0xC000), hexRecord(0x00, 0x1234, QByteArray::fromHex("AABB")),
                          ":00000001FF"}
        << ByteMap{{0xC1233, 0xFF}, {0xC1234, 0xAA}, {0xC1235, 0xBB}, {0xC1236, 0xFF}} << QList<int>{0xC123};
    QTest::newRow("segment base not on 64 KB")
        << QByteArrayList{segmentBase(0xC123), hexRecord(0x00, 0x0004, QByteArray::fromHex("77"))}
        << ByteMap{{0xC1234, 0x77}} << QList<int>{0xC123};
    QTest::newRow("linear base")
        << QByteArrayList{linearBase(0x000F),
                          hexRecord(0x00, 0xFFF0, QByteArray::fromHex("00112233445566778899AABBCCDDEEFF"))}
        << ByteMap{{0xFFFF0, 0x00}, {0xFFFF7, 0x77}, {0xFFFFF, 0xFF}} << QList<int>{0xFFFF};
    QTest::newRow("base changes between records")
        << QByteArrayList{segmentBase(0xC000), hexRecord(0x00, 0x0000, QByteArray::fromHex("01")),
                          linearBase(0x000D),  hexRecord(0x00, 0x0010, QByteArray::fromHex("02")),
                          segmentBase(0xE000), hexRecord(0x00, 0xFFFF, QByteArray::fromHex("03"))}
        << ByteMap{{0xC0000, 0x01}, {0xD0010, 0x02}, {0xEFFFF, 0x03}, {0xC0010, 0xFF}}
        << QList<int>{0xC000, 0xD001, 0xEFFF};
    QTest::newRow("base survives end and start records")
        << QByteArrayList{linearBase(0x000C), ":00000001FF",
                          hexRecord(0x05, 0, QByteArray::fromHex("000C0000")),
                          hexRecord(0x00, 0x0020, QByteArray::fromHex("5A"))}
        << ByteMap{{0xC0020, 0x5A}} << QList<int>{0xC002};
    QTest::newRow("only 0xFF flags nothing")
        << QByteArrayList{segmentBase(0xC000), hexRecord(0x00, 0x0010, QByteArray(16, char(0xFF)))}
        << ByteMap{{0xC0010, 0xFF}} << QList<int>{};
    QTest::newRow("0xFF over a flagged row keeps the flag")
        << QByteArrayList{segmentBase(0xC000), hexRecord(0x00, 0x0010, QByteArray::fromHex("01")),
                          hexRecord(0x00, 0x0010, QByteArray::fromHex("FF"))}
        << ByteMap{{0xC0010, 0xFF}} << QList<int>{0xC001};
    QTest::newRow("no data records") << QByteArrayList{linearBase(0x000C), ":00000001FF"} << ByteMap{}
                                     << QList<int>{};
}

void TestImageFile::hexBasesPlaceData() {
    QFETCH(QByteArrayList, lines);
    QFETCH(ByteMap, bytes);
    QFETCH(QList<int>, rows);
    MemoryImage image = previousImage();
    std::int16_t loadError = -1;
    const auto outcome = LoadImageFile(writeFile("place.hex", lines.join('\n') + '\n'), image, loadError);
    QCOMPARE(outcome.kind, Kind::Loaded);
    QCOMPARE(outcome.lineNumber, lines.size());
    for (auto it = bytes.cbegin(); it != bytes.cend(); ++it)
        QCOMPARE(int(image.at(it.key())), it.value());
    QCOMPARE(flaggedRows(image), rows.size());
    for (int row : rows)
        QCOMPARE(image.RowHasData(row), MemoryImage::True);
}

// fixtures/small.hex was made from fixtures/small.mot by objcopy (-I srec -O ihex):
// extended segment records, 16-byte records from row-aligned starts, a segment
// change in the middle of a record that crosses 0xF0000, a row of only 0xFF.
void TestImageFile::objcopyHexFixtureMatchesItsSRecords() {
    MemoryImage fromSRecords = previousImage();
    MemoryImage fromHex = previousImage();
    std::int16_t loadError = -1;
    QCOMPARE(LoadImageFile(fixture("small.mot"), fromSRecords, loadError).kind, Kind::Loaded);
    QCOMPARE(LoadImageFile(fixture("small.hex"), fromHex, loadError).kind, Kind::Loaded);
    QVERIFY(fromHex == fromSRecords);

    QCOMPARE(fromHex.at(0xC0000), 0x01);
    QCOMPARE(fromHex.at(0xC0025), 0x26);
    QCOMPARE(fromHex.at(0xC0039), 0xFF);
    QCOMPARE(fromHex.at(0xEFFFF), 0x8F);
    QCOMPARE(fromHex.at(0xF0000), 0x90);
    QCOMPARE(fromHex.at(0xFFFF1), 0x5A);
    QCOMPARE(fromHex.at(0xFFFFF), 0xA5);
    QCOMPARE(fromHex.at(0xC8003), 0xFF); // the mark of the previous image is gone
    QCOMPARE(fromHex.RowHasData(0xD000), MemoryImage::False);
    QCOMPARE(flaggedRows(fromHex), 4 + 2 + 1);
}

// The firmware the program carries, written out as an Intel HEX file of row-aligned
// 16-byte records with extended linear address records and CR LF line ends, loads
// to exactly the image that its S-records give.
void TestImageFile::embeddedFirmwareAsHexMatchesSRecords() {
    MemoryImage expected;
    auto table = std::make_unique<ImageLineTable>();
    std::int16_t loadError = -1;
    LoadEmbeddedImage(expected, *table, loadError);
    QVERIFY2(flaggedRows(expected) > 0,
             "the embedded firmware holds no data: this would compare empty images");

    QByteArray hex;
    int upper = -1;
    for (int row = MemoryImage::FirstRow; row <= MemoryImage::LastRow; ++row) {
        if (expected.RowHasData(row) != MemoryImage::True)
            continue;
        if (row >> 12 != upper) {
            upper = row >> 12;
            hex += linearBase(quint16(upper)) + "\r\n";
        }
        QByteArray data;
        for (int column = 0; column < MemoryImage::Columns; ++column)
            data.append(char(expected.ImageData(row, column)));
        hex += hexRecord(0x00, quint16(row << 4), data) + "\r\n";
    }
    hex += ":00000001FF\r\n";

    const QString motPath =
        writeFile("rqv5.mot", QByteArray(embeddedImageText().data(), qsizetype(embeddedImageText().size())));
    MemoryImage fromSRecords = previousImage();
    const auto motOutcome = LoadImageFile(motPath, fromSRecords, loadError);
    QCOMPARE(motOutcome.kind, Kind::Loaded);
    QCOMPARE(motOutcome.lineNumber, table->ImageLineCount);
    QVERIFY(fromSRecords == expected);

    MemoryImage fromHex = previousImage();
    QCOMPARE(LoadImageFile(writeFile("rqv5.hex", hex), fromHex, loadError).kind, Kind::Loaded);
    QVERIFY(fromHex == expected);
}

// Lines end at LF, CR LF or a lone CR. The device hands out one byte per read, so
// every CR LF pair is split across reads.
void TestImageFile::lineEnds_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");

    const QByteArray a = segmentBase(0xC000);
    const QByteArray b = hexRecord(0x00, 0x0010, QByteArray::fromHex("0102030405"));
    const QByteArray c = ":00000001FF";
    QTest::newRow("LF") << a + "\n" + b + "\n" + c + "\n" << Kind::Loaded << 0 << 3;
    QTest::newRow("CR LF") << a + "\r\n" + b + "\r\n" + c + "\r\n" << Kind::Loaded << 0 << 3;
    QTest::newRow("CR") << a + "\r" + b + "\r" + c + "\r" << Kind::Loaded << 0 << 3;
    QTest::newRow("mixed") << a + "\r\n" + b + "\n" + c + "\r" << Kind::Loaded << 0 << 3;
    QTest::newRow("no final line end") << a + "\r\n" + b + "\r\n" + c << Kind::Loaded << 0 << 3;
    QTest::newRow("blank line, LF") << a + "\n\n" + b + "\n" << Kind::LineRejected << 9 << 2;
    QTest::newRow("blank line, CR LF") << a + "\r\n" + b + "\r\n\r\n" + c << Kind::LineRejected << 9 << 3;
    QTest::newRow("CR CR LF is two line ends") << a + "\r\r\n" + b << Kind::LineRejected << 9 << 2;
    QTest::newRow("LF CR is two line ends") << a + "\n\r" + b << Kind::LineRejected << 9 << 2;
}

void TestImageFile::lineEnds() {
    QFETCH(QByteArray, content);
    QFETCH(Kind, kind);
    QFETCH(int, code);
    QFETCH(int, line);
    ScriptedDevice device(content, -1, 1);
    MemoryImage image;
    std::int16_t loadError = -1;
    const auto outcome = LoadImageStream(device, ImageFileFormat::IntelHex, image, loadError);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.lineNumber, line);
    if (kind == Kind::Loaded) {
        QVERIFY(device.reads >= content.size());
        QCOMPARE(image.at(0xC0010), 0x01);
        QCOMPARE(image.at(0xC0014), 0x05);
        QCOMPARE(flaggedRows(image), 1);
    }
}

// Lines far longer than any record, and bytes that are no text, are read through
// without trouble: an S-record parser never looks past its record, a HEX line of
// the wrong length is refused by its length.
void TestImageFile::longAndBinaryLines_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("flagged");

    const QByteArray record = s2Record(0xC0000, QByteArray::fromHex("0102"));
    const QByteArray junk(1'000'000, 'x');
    QTest::newRow("S-record with a megabyte after it") << "a.mot" << record + junk + "\n" + record + "\n"
                                                       << Kind::Loaded << 0 << 2 << 1;
    QTest::newRow("one megabyte line, no line end") << "a.mot"
                                                    << "S0030000FC" + junk << Kind::Loaded << 0 << 1 << 0;
    QTest::newRow("HEX line of a megabyte") << "a.hex"
                                            << ":10" + junk + "\n"
                                            << Kind::LineRejected << 3 << 1 << 0;
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char((i * 7) & 0xFF));
    QTest::newRow("binary as S-records") << "a.bin" << binary << Kind::LineRejected << 9 << 1 << 0;
    QTest::newRow("binary as HEX") << "a.hex" << binary << Kind::LineRejected << 9 << 1 << 0;
    QTest::newRow("NUL inside an S-record line")
        << "a.mot" << QByteArray("S0030000FC\0\0\n", 13) + record << Kind::Loaded << 0 << 2 << 1;
}

void TestImageFile::longAndBinaryLines() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(Kind, kind);
    QFETCH(int, code);
    QFETCH(int, line);
    QFETCH(int, flagged);
    MemoryImage image;
    std::int16_t loadError = -1;
    const auto outcome = LoadImageFile(writeFile(name, content), image, loadError);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.lineNumber, line);
    QCOMPARE(flaggedRows(image), flagged);
}

namespace {
enum class Source { File, Missing, Directory, Unreadable, Oversized, FailingDevice, EndlessDevice };
}

// Every way a load can fail leaves the program's image exactly as it was, however
// much of the file was accepted before the failure.
void TestImageFile::failureLeavesImageUnchanged_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");

    const QByteArray srec = "S0030000FC\n" + s2Record(0xC0000, QByteArray(32, 0x11)) + "\n" +
                            s2Record(0xF0000, QByteArray(32, 0x22)) + "\n";
    const QByteArray hex = segmentBase(0xC000) + "\n" + hexRecord(0x00, 0x0000, QByteArray(16, 0x33)) + "\n" +
                           linearBase(0x000F) + "\n" + hexRecord(0x00, 0x0000, QByteArray(16, 0x44)) + "\n";

    QTest::newRow("no such file") << Source::Missing << "missing.mot" << QByteArray() << Kind::FileError << 0
                                  << 0;
    QTest::newRow("a directory") << Source::Directory << "dir.hex" << QByteArray() << Kind::FileError << 0
                                 << 0;
    QTest::newRow("unreadable file") << Source::Unreadable << "locked.mot" << srec << Kind::FileError << 0
                                     << 0;
    QTest::newRow("larger than the limit")
        << Source::Oversized << "huge.mot" << srec << Kind::FileError << 0 << 0;
    QTest::newRow("S-record: blank line") << Source::File << "f.mot" << srec + "\n"
                                          << Kind::LineRejected << 9 << 4;
    QTest::newRow("S-record: lower-case s") << Source::File << "f.mot" << srec + "s804000000FB\n"
                                            << Kind::LineRejected << 9 << 4;
    QTest::newRow("S-record: type-1 data record") << Source::File << "f.mot" << srec + "S1050000AA50\n"
                                                  << Kind::FileError << 0 << 4;
    QTest::newRow("S-record: runs past 0xFFFFF")
        << Source::File << "f.mot" << srec + s2Record(0xFFFFF, QByteArray::fromHex("0102")) + "\n"
        << Kind::FileError << 0 << 4;
    QTest::newRow("S-record: read error")
        << Source::FailingDevice << "f.mot" << srec + srec << Kind::FileError << 0 << 3;
    QTest::newRow("S-record: endless stream")
        << Source::EndlessDevice << "f.mot" << QByteArray("S0030000FC\n") << Kind::FileError << 0 << 0;
    QTest::newRow("HEX: code 9") << Source::File << "f.hex" << hex + "\n" << Kind::LineRejected << 9 << 5;
    QTest::newRow("HEX: code 1") << Source::File << "f.hex" << hex + ":0000\n"
                                 << Kind::LineRejected << 1 << 5;
    QTest::newRow("HEX: code 2") << Source::File << "f.hex" << hex + hexRecord(0, 0, QByteArray(17, 1)) + "\n"
                                 << Kind::LineRejected << 2 << 5;
    QTest::newRow("HEX: code 3") << Source::File << "f.hex" << hex + hexRecord(0, 0, QByteArray(2, 1)) + "0\n"
                                 << Kind::LineRejected << 3 << 5;
    QTest::newRow("HEX: code 4") << Source::File << "f.hex"
                                 << hex + hexRecord(0x10, 0, QByteArray(2, 1)) + "\n"
                                 << Kind::LineRejected << 4 << 5;
    QTest::newRow("HEX: code 5") << Source::File << "f.hex"
                                 << hex + linearBase(0x0010) + "\n" + hexRecord(0, 0, QByteArray(2, 1)) + "\n"
                                 << Kind::LineRejected << 5 << 6;
    QTest::newRow("HEX: code 7") << Source::File << "f.hex"
                                 << hex + hexRecord(0, 0x0008, QByteArray(9, 1)) + "\n"
                                 << Kind::LineRejected << 7 << 5;
    QByteArray badSum = hexRecord(0, 0x0020, QByteArray(4, 1));
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    QTest::newRow("HEX: code 8") << Source::File << "f.hex" << hex + badSum + "\n"
                                 << Kind::LineRejected << 8 << 5;
    QTest::newRow("HEX: code 10") << Source::File << "f.hex"
                                  << hex + hexRecord(0x0A, 0, QByteArray(2, 1)) + "\n"
                                  << Kind::LineRejected << 10 << 5;
    QTest::newRow("HEX: code 11") << Source::File << "f.hex"
                                  << hex + hexRecord(0x04, 0, QByteArray(1, 1)) + "\n"
                                  << Kind::LineRejected << 11 << 5;
    QTest::newRow("HEX: read error") << Source::FailingDevice << "f.hex" << hex + hex << Kind::FileError << 0
                                     << 4;
}

void TestImageFile::failureLeavesImageUnchanged() {
    QFETCH(Source, source);
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(Kind, kind);
    QFETCH(int, code);
    QFETCH(int, line);

    const MemoryImage before = previousImage();
    MemoryImage image = before;
    std::int16_t loadError = -1;
    FileLoadOutcome outcome;
    const auto format = imageFileFormatForPath(name);
    switch (source) {
    case Source::File:
        outcome = LoadImageFile(writeFile(name, content), image, loadError);
        break;
    case Source::Missing:
        outcome = LoadImageFile(dir_.filePath(name), image, loadError);
        break;
    case Source::Directory:
        QVERIFY(QDir(dir_.path()).mkpath(name));
        outcome = LoadImageFile(dir_.filePath(name), image, loadError);
        break;
    case Source::Unreadable: {
        const QString path = writeFile(name, content);
        QFile::setPermissions(path, QFileDevice::Permissions{});
        if (QFile probe(path); probe.open(QIODevice::ReadOnly))
            QSKIP("this user reads files without read permission");
        outcome = LoadImageFile(path, image, loadError);
        break;
    }
    case Source::Oversized: {
        const QString path = writeFile(name, content);
        QVERIFY(QFile::resize(path, MaxImageFileSize + 1)); // sparse: costs no disk space
        outcome = LoadImageFile(path, image, loadError);
        break;
    }
    case Source::FailingDevice: {
        // Fails in the middle of the first line of the second copy.
        ScriptedDevice device(content, content.size() / 2 + 3, 7);
        outcome = LoadImageStream(device, format, image, loadError);
        break;
    }
    case Source::EndlessDevice: {
        ScriptedDevice device(content, -1, 64 * 1024, true);
        outcome = LoadImageStream(device, format, image, loadError);
        break;
    }
    }
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.code, code);
    QCOMPARE(loadError, code);
    if (source != Source::EndlessDevice)
        QCOMPARE(outcome.lineNumber, line);
    QVERIFY(!outcome.loaded());
    QVERIFY(image == before);
}

void TestImageFile::messages_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title");
    QTest::addColumn<FileLoadOutcome::Icon>("icon");
    QTest::newRow("loaded") << Kind::Loaded << 0 << 8023 << QString() << QString()
                            << FileLoadOutcome::Icon::None;
    QTest::newRow("line 1") << Kind::LineRejected << 9 << 1 << "Error Code = 9 ; line number = 1"
                            << "Error" << FileLoadOutcome::Icon::Warning;
    QTest::newRow("code 10, line 12345")
        << Kind::LineRejected << 10 << 12345 << "Error Code = 10 ; line number = 12345"
        << "Error" << FileLoadOutcome::Icon::Warning;
    QTest::newRow("file error") << Kind::FileError << 0 << 3 << "File Open Error"
                                << "ERROR" << FileLoadOutcome::Icon::Error;
}

void TestImageFile::messages() {
    QFETCH(Kind, kind);
    QFETCH(int, code);
    QFETCH(int, line);
    QFETCH(QString, message);
    QFETCH(QString, title);
    QFETCH(FileLoadOutcome::Icon, icon);
    FileLoadOutcome outcome;
    outcome.kind = kind;
    outcome.code = std::int16_t(code);
    outcome.lineNumber = line;
    QCOMPARE(outcome.message(), message);
    QCOMPARE(outcome.title(), title);
    QCOMPARE(outcome.icon(), icon);
}

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_image_file.moc"
