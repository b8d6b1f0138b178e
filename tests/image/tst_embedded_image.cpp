#include "image/embedded_image.h"
#include "image/hex_field.h"
#include "image/memory_image.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <string_view>
#include <vector>

using namespace rqv5;

namespace {

constexpr int FirstAddress = 0xC0000;
constexpr int EndAddress = 0x100000;
constexpr int BootBlockRow = 0xFF00;
constexpr int RowsPerChunk = 64;

struct Record {
    int address = 0;
    QByteArray data;
    int end() const { return address + int(data.size()); }
};

struct Range {
    int first;
    int last;
    bool operator==(const Range&) const = default;
};

QString hex(int v) {
    return QStringLiteral("0x") + QString::number(v, 16).toUpper();
}

// Lists compare with a readable message when they differ.
QStringList describe(const std::vector<Range>& ranges) {
    QStringList out;
    for (const auto& r : ranges)
        out << hex(r.first) + ".." + hex(r.last);
    return out;
}

QStringList describe(const std::vector<int>& addresses) {
    QStringList out;
    for (int a : addresses)
        out << hex(a);
    return out;
}

// Runs of consecutive rows whose flag is not set.
std::vector<Range> unflaggedRuns(const MemoryImage& image) {
    std::vector<Range> runs;
    for (int row = MemoryImage::FirstRow; row <= MemoryImage::LastRow; ++row) {
        if (image.RowHasData(row) == MemoryImage::True)
            continue;
        if (!runs.empty() && runs.back().last == row - 1)
            runs.back().last = row;
        else
            runs.push_back({row, row});
    }
    return runs;
}

bool chunkHasData(const MemoryImage& image, int chunkAddress) {
    for (int row = chunkAddress / 16; row < chunkAddress / 16 + RowsPerChunk; ++row) {
        if (image.RowHasData(row) == MemoryImage::True)
            return true;
    }
    return false;
}

} // namespace

// The firmware the program carries, loaded once the way the program loads it at
// start-up, then held against the shape of the release: the flash writer's
// choice of rows and chunks depends on every one of these facts.
class TestEmbeddedImage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void lineTable();
    void recordLines();
    void recordsBySize_data();
    void recordsBySize();
    void recordPlacement();
    void uncoveredAddresses();
    void imageHoldsTheRecords();
    void flaggedRows();
    void chunks();
    void bootBlock();
    void committedFileIsWhatIsEmbedded();
    void generatorReproducesTheFile();

private:
    MemoryImage image_;
    ImageLineTable table_;
    std::int16_t loadError_ = 0;
    std::vector<Record> records_;
};

void TestEmbeddedImage::initTestCase() {
    // Leave traces the load must wipe: a byte and a flag in a row the firmware
    // does not touch, and the code of a rejected line.
    image_.ImageData(0xF7C5, 3) = 0x12;
    image_.RowHasData(0xF7C5) = MemoryImage::True;
    loadError_ = 9;

    LoadEmbeddedImage(image_, table_, loadError_);

    // Decode every data record with the program's own hexadecimal reader.
    for (int i = 1; i + 1 < table_.ImageLineCount; ++i) {
        const std::string_view line = table_.ImageLines[std::size_t(i)];
        if (line.substr(0, 2) != "S2")
            continue;
        Record r;
        const int count = int(readHexField(line, 3, 2));
        r.address = int(readHexField(line, 5, 6));
        for (int k = 0; k < count - 4; ++k)
            r.data.append(char(readHexField(line, std::size_t(11 + 2 * k), 2)));
        records_.push_back(r);
    }
}

void TestEmbeddedImage::lineTable() {
    QCOMPARE(table_.ImageLineCount, 8023);
    QCOMPARE(table_.ImageLines[0], std::string_view("S0030000FC"));
    QCOMPARE(table_.ImageLines[8022], std::string_view("S804000000FB"));
    QVERIFY(table_.ImageLines[8023].empty());
    // The end record is the last line parsed, and it is accepted.
    QCOMPARE(loadError_, std::int16_t(0));

    ImageLineTable refilled;
    FillImageLines(refilled);
    QCOMPARE(refilled.ImageLineCount, 8023);
    for (int i = 0; i < 8023; ++i)
        QCOMPARE(refilled.ImageLines[std::size_t(i)], table_.ImageLines[std::size_t(i)]);
}

void TestEmbeddedImage::recordLines() {
    QCOMPARE(int(records_.size()), 8021);
    for (int i = 1; i <= 8021; ++i) {
        const std::string_view line = table_.ImageLines[std::size_t(i)];
        const QByteArray where =
            "ImageLines(" + QByteArray::number(i) + "): " + QByteArray(line.data(), qsizetype(line.size()));
        QVERIFY2(line.substr(0, 2) == "S2", where);
        // Only hexadecimal digits follow, so the lenient reader reads all of them.
        for (std::size_t k = 2; k < line.size(); ++k)
            QVERIFY2(hexDigitValue(line[k]) >= 0, where);
        const std::size_t count = readHexField(line, 3, 2);
        QVERIFY2(line.size() == 2 * count + 4, where);
        unsigned sum = 0;
        for (std::size_t k = 3; k < line.size(); k += 2)
            sum += unsigned(readHexField(line, k, 2));
        QVERIFY2((sum & 0xFF) == 0xFF, where + " has a wrong checksum");
        if (count == 0x24)
            QVERIFY2(line.size() == 76, where);
    }
}

void TestEmbeddedImage::recordsBySize_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("records");
    const int table[][2] = {{1, 5},  {2, 5},  {3, 1},  {4, 9},  {5, 4},  {6, 5},  {7, 1},  {8, 4},
                            {9, 3},  {10, 5}, {11, 2}, {12, 7}, {13, 4}, {14, 3}, {15, 3}, {16, 8},
                            {17, 5}, {18, 4}, {19, 3}, {20, 3}, {21, 3}, {22, 5}, {23, 4}, {24, 4},
                            {25, 1}, {26, 1}, {27, 2}, {28, 4}, {29, 1}, {30, 2}, {31, 4}, {32, 7906}};
    for (const auto& row : table)
        QTest::addRow("%d bytes", row[0]) << row[0] << row[1];
}

void TestEmbeddedImage::recordsBySize() {
    QFETCH(int, size);
    QFETCH(int, records);
    const auto n = std::count_if(records_.begin(), records_.end(),
                                 [size](const Record& r) { return r.data.size() == size; });
    QCOMPARE(int(n), records);
}

void TestEmbeddedImage::recordPlacement() {
    QCOMPARE(records_.front().address, FirstAddress);
    QCOMPARE(records_.back().end(), EndAddress);
    int onRowBoundary = 0;
    int intoNextRow = 0;
    qint64 covered = 0;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        if (i > 0)
            QVERIFY2(r.address >= records_[i - 1].end(),
                     qPrintable("record at " + hex(r.address) + " overlaps"));
        onRowBoundary += r.address % 16 == 0 ? 1 : 0;
        intoNextRow += (r.end() - 1) / 16 > r.address / 16 ? 1 : 0;
        covered += r.data.size();
    }
    QCOMPARE(onRowBoundary, 1676);
    QCOMPARE(intoNextRow, 7976);
    QCOMPARE(covered, qint64(254650));
}

void TestEmbeddedImage::uncoveredAddresses() {
    std::vector<int> singles;
    std::vector<Range> ranges;
    for (std::size_t i = 1; i < records_.size(); ++i) {
        const int gapFirst = records_[i - 1].end();
        const int gapLast = records_[i].address - 1;
        if (gapLast == gapFirst)
            singles.push_back(gapFirst);
        else if (gapLast > gapFirst)
            ranges.push_back({gapFirst, gapLast});
    }
    QCOMPARE(int(singles.size()), 35);
    QCOMPARE(singles.front(), 0xD5D4D);
    QCOMPARE(singles.back(), 0xFF021);
    const std::vector<Range> expected = {{0xF7C48, 0xF7FFF}, {0xFE06E, 0xFECFF}, {0xFEE00, 0xFEFBF},
                                         {0xFEFCD, 0xFEFCF}, {0xFEFDC, 0xFEFDF}, {0xFEFE9, 0xFEFEF},
                                         {0xFEFF4, 0xFEFFF}, {0xFF4D9, 0xFFFD3}, {0xFFFD8, 0xFFFDB}};
    QCOMPARE(describe(ranges), describe(expected));
    int rangeBytes = 0;
    for (const auto& r : ranges)
        rangeBytes += r.last - r.first + 1;
    QCOMPARE(rangeBytes + int(singles.size()), 7494);
}

void TestEmbeddedImage::imageHoldsTheRecords() {
    // Every covered address holds its record's byte, every other one 0xFF.
    std::vector<int> expected(std::size_t(EndAddress - FirstAddress), 0xFF);
    for (const Record& r : records_) {
        for (int k = 0; k < r.data.size(); ++k)
            expected[std::size_t(r.address + k - FirstAddress)] = quint8(r.data[k]);
    }
    for (int address = FirstAddress; address < EndAddress; ++address) {
        if (image_.at(address) != expected[std::size_t(address - FirstAddress)])
            QFAIL(qPrintable("address " + hex(address) + " holds " + hex(image_.at(address))));
    }
    QCOMPARE(image_.at(0xF7C48), std::int16_t(0xFF));
    QCOMPARE(image_.ImageData(0xF7C5, 3), std::int16_t(0xFF));
}

void TestEmbeddedImage::flaggedRows() {
    int flagged = 0;
    for (int row = MemoryImage::FirstRow; row <= MemoryImage::LastRow; ++row) {
        const std::int16_t flag = image_.RowHasData(row);
        QVERIFY2(flag == MemoryImage::True || flag == MemoryImage::False, qPrintable(hex(row)));
        bool holdsData = false;
        for (int column = 0; column < 16; ++column)
            holdsData = holdsData || image_.ImageData(row, column) != 0xFF;
        // A flagged row has something to program; an unflagged one is erased.
        QVERIFY2(holdsData == (flag == MemoryImage::True), qPrintable("row " + hex(row)));
        flagged += flag == MemoryImage::True ? 1 : 0;
    }
    QCOMPARE(flagged, 15921);
    QCOMPARE(image_.RowHasData(0xF7C5), MemoryImage::False);
    const std::vector<Range> runs = {{0xF7C5, 0xF7FF}, {0xFE07, 0xFECF}, {0xFEE0, 0xFEFB}, {0xFF4E, 0xFFFC}};
    QCOMPARE(describe(unflaggedRuns(image_)), describe(runs));
}

void TestEmbeddedImage::chunks() {
    std::vector<int> empty;
    for (int chunk = FirstAddress; chunk < EndAddress; chunk += 0x400) {
        if (!chunkHasData(image_, chunk))
            empty.push_back(chunk);
    }
    QCOMPARE(describe(empty), describe(std::vector<int>{0xFE400, 0xFE800, 0xFF800}));
}

void TestEmbeddedImage::bootBlock() {
    int flagged = 0;
    for (int row = BootBlockRow; row <= MemoryImage::LastRow; ++row)
        flagged += image_.RowHasData(row) == MemoryImage::True ? 1 : 0;
    QCOMPARE(flagged, 81);
    std::vector<int> withData;
    for (int chunk = BootBlockRow * 16; chunk < EndAddress; chunk += 0x400) {
        if (chunkHasData(image_, chunk))
            withData.push_back(chunk);
    }
    QCOMPARE(describe(withData), describe(std::vector<int>{0xFF000, 0xFF400, 0xFFC00}));
}

void TestEmbeddedImage::committedFileIsWhatIsEmbedded() {
    QFile file(QStringLiteral(RQV5_SOURCE_DIR "/image/firmware/rqv5.mot"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QByteArray committed = file.readAll();
    const std::string_view embedded = embeddedImageText();
    // LF line ends only, one per line: the build embeds the file unchanged.
    QVERIFY(!committed.contains('\r'));
    QVERIFY(committed == QByteArray(embedded.data(), qsizetype(embedded.size())));
}

void TestEmbeddedImage::generatorReproducesTheFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("rqv5.mot"));
    QProcess gen;
    gen.start(QStringLiteral(RQV5_GEN_IMAGE), {out});
    QVERIFY2(gen.waitForFinished(60000), qPrintable(gen.errorString()));
    QCOMPARE(gen.exitStatus(), QProcess::NormalExit);
    QVERIFY2(gen.exitCode() == 0, gen.readAllStandardError().constData());

    QFile generated(out);
    QFile committed(QStringLiteral(RQV5_SOURCE_DIR "/image/firmware/rqv5.mot"));
    QVERIFY(generated.open(QIODevice::ReadOnly));
    QVERIFY(committed.open(QIODevice::ReadOnly));
    const QByteArray a = generated.readAll();
    const QByteArray b = committed.readAll();
    if (a != b) {
        qsizetype at = 0;
        while (at < a.size() && at < b.size() && a[at] == b[at])
            ++at;
        QFAIL(qPrintable(QStringLiteral("the generator's output differs from the committed file at byte %1 "
                                        "(line %2); run rqv5-gen-image image/firmware/rqv5.mot and commit")
                             .arg(at)
                             .arg(a.left(at).count('\n') + 1)));
    }
}

QTEST_GUILESS_MAIN(TestEmbeddedImage)
#include "tst_embedded_image.moc"
