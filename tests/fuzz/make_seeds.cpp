// Writes seed inputs for every fuzz target, made from the embedded firmware and
// the image-file test fixtures, so that fuzzing starts from real records, real
// packets and real exchanges rather than from nothing.
//
//   rqv5-fuzz-seeds FIXTURE_DIR OUT_DIR
//
// OUT_DIR/<target>/ receives the seeds of each target. They are written at run
// time into a scratch directory and are not part of the repository.

#include "hex_record.h"
#include "image/embedded_image.h"
#include "null_link.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <cstdio>
#include <memory>

using namespace rqv5;

using rqv5::test::hexRecord;

namespace {

class SeedWriter {
public:
    explicit SeedWriter(QString root) : root_(std::move(root)) {}

    void write(const QString& target, const QString& name, const QByteArray& bytes) {
        const QString dir = root_ + '/' + target;
        if (!QDir().mkpath(dir))
            fail(dir);
        QFile file(dir + '/' + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            fail(file.fileName());
        ++count_;
    }

    int count() const { return count_; }

private:
    [[noreturn]] static void fail(const QString& path) {
        std::fprintf(stderr, "rqv5-fuzz-seeds: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }

    QString root_;
    int count_ = 0;
};

QByteArray bytesOf(const auto& array) {
    return QByteArray(reinterpret_cast<const char*>(array.data()), static_cast<qsizetype>(array.size()));
}

QByteArray rowBytes(const MemoryImage& image, int row) {
    QByteArray bytes;
    for (int c = 0; c < MemoryImage::Columns; ++c)
        bytes.append(char(image.ImageData(row, c)));
    return bytes;
}

// Rows of the image as an Intel HEX file, one record per row, its base set by a
// segment (02) or a linear (04) address record.
QByteArray hexFile(const MemoryImage& image, int firstRow, int rows, bool linear, const QByteArray& lineEnd) {
    const std::uint32_t address = std::uint32_t(firstRow) * 16;
    const std::uint32_t window = address & 0xF0000;
    QByteArray base(2, '\0');
    const std::uint32_t value = linear ? window >> 16 : window >> 4;
    base[0] = char(value >> 8);
    base[1] = char(value & 0xFF);
    QByteArray text = hexRecord(linear ? 0x04 : 0x02, 0, base) + lineEnd;
    for (int row = firstRow; row < firstRow + rows && row <= MemoryImage::LastRow; ++row)
        text += hexRecord(0x00, std::uint16_t(row * 16 - window), rowBytes(image, row)) + lineEnd;
    return text + ":00000001FF" + lineEnd;
}

QList<QByteArray> lines(const QByteArray& text) {
    QList<QByteArray> result;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            result.append(line);
    }
    return result;
}

QByteArray joined(const QList<QByteArray>& lines, qsizetype first, qsizetype count) {
    QByteArray text;
    for (qsizetype i = first; i < std::min(first + count, lines.size()); ++i)
        text += lines[i] + '\n';
    return text;
}

// The radio fuzz target reads the byte stream from the front of its input and
// everything else from the back, a byte at a time towards the front. A script
// builds both halves: the stream, and the choices in the order they are read.
class RadioScript {
public:
    RadioScript() {
        choices_.append('\0'); // a healthy radio
        choices_.append('\0'); // delivering at once
    }
    // The program writes `bytes` in pieces of at most `piece` bytes, all at once.
    void write(const QByteArray& bytes, int piece = 1100) {
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            const auto n = std::min<qsizetype>(piece, bytes.size() - at);
            choices_.append('\0'); // receive now, at an unknown rate
            choices_.append(char((n - 1) >> 8));
            choices_.append(char((n - 1) & 0xFF));
            stream_ += bytes.mid(at, n);
        }
    }
    // Time runs on to when the radio's next bytes arrive, and they are taken.
    void takeNext(int times = 1) {
        for (int i = 0; i < times; ++i)
            choices_.append('\x0C');
    }
    QByteArray input() const {
        QByteArray back = choices_;
        std::reverse(back.begin(), back.end());
        return stream_ + back;
    }

private:
    QByteArray stream_;
    QByteArray choices_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rqv5-fuzz-seeds FIXTURE_DIR OUT_DIR\n");
        return 2;
    }
    const QString fixtures = QString::fromLocal8Bit(argv[1]);
    SeedWriter out(QString::fromLocal8Bit(argv[2]));

    fuzz::NullLink rig;
    auto table = std::make_unique<ImageLineTable>();
    std::int16_t loadError = 0;
    LoadEmbeddedImage(rig.image, *table, loadError);
    const MemoryImage& image = rig.image;
    Link& link = rig.link;

    const QByteArray embedded = QByteArray::fromStdString(std::string(embeddedImageText()));
    const QList<QByteArray> embeddedLines = lines(embedded);

    QByteArray smallMot;
    QByteArray smallHex;
    for (auto [name, bytes] : {std::pair{"small.mot", &smallMot}, std::pair{"small.hex", &smallHex}}) {
        QFile file(fixtures + '/' + name);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "rqv5-fuzz-seeds: cannot read %s\n", qPrintable(file.fileName()));
            return 1;
        }
        *bytes = file.readAll();
    }

    // S-record lines: the header, the first data lines, a sample across the
    // image, the last lines with the end record, and the fixture's lines.
    {
        QList<qsizetype> picks;
        for (qsizetype i = 0; i < 24; ++i)
            picks.append(i);
        for (qsizetype i = 24; i < embeddedLines.size(); i += 400)
            picks.append(i);
        for (qsizetype i = std::max<qsizetype>(0, embeddedLines.size() - 8); i < embeddedLines.size(); ++i)
            picks.append(i);
        for (const qsizetype i : picks)
            out.write("fuzz_srecord_line", QStringLiteral("embedded-%1").arg(i + 1), embeddedLines[i]);
        const QList<QByteArray> fixtureLines = lines(smallMot);
        for (qsizetype i = 0; i < fixtureLines.size(); ++i)
            out.write("fuzz_srecord_line", QStringLiteral("small-mot-%1").arg(i + 1), fixtureLines[i]);
    }

    // HEX: the firmware's rows around block and boot-block boundaries, as whole
    // files and as a few lines each, with either kind of base; the fixture whole
    // and line by line.
    {
        const int rows[] = {0xC000, 0xC7F0, 0xCFFE, 0xD000, 0xEFFF, 0xF7FE, 0xFEFC, 0xFF00, 0xFFFC};
        for (const int row : rows) {
            for (const bool linear : {false, true}) {
                const QString name =
                    QStringLiteral("embedded-%1-%2").arg(row, 0, 16).arg(linear ? "04" : "02");
                out.write("fuzz_hex_line", name, hexFile(image, row, 4, linear, "\n"));
                out.write("fuzz_hex_loader", name, hexFile(image, row, 64, linear, "\r\n"));
                out.write("fuzz_image_file", name + ".hex", hexFile(image, row, 64, linear, "\n"));
            }
        }
        out.write("fuzz_hex_loader", "embedded-c000-cr", hexFile(image, 0xC000, 16, false, "\r"));
        out.write("fuzz_hex_line", "small-hex", smallHex);
        out.write("fuzz_hex_loader", "small-hex", smallHex);
        const QList<QByteArray> fixtureLines = lines(smallHex);
        for (qsizetype i = 0; i < fixtureLines.size(); ++i)
            out.write("fuzz_hex_line", QStringLiteral("small-hex-%1").arg(i + 1), fixtureLines[i]);
    }

    // Whole files: both fixtures, and slices of the firmware's S-records.
    {
        out.write("fuzz_image_file", "small.hex", smallHex);
        out.write("fuzz_image_file", "small.mot", smallMot);
        out.write("fuzz_image_file", "embedded-head.mot", joined(embeddedLines, 0, 64));
        out.write("fuzz_image_file", "embedded-tail.mot",
                  embeddedLines.first() + '\n' + joined(embeddedLines, embeddedLines.size() - 64, 64));
    }

    // Replies as RxBuf holds them, echo first.
    {
        const auto put = [&](const QString& name, const QByteArray& bytes) {
            out.write("fuzz_reply_decoders", name, bytes);
        };
        put("identify-ok", "QZ~RQ-V5\r\r\nOK\r\n");
        put("identify-re", "QZ~RQ-V5\r\r\nRE\r\n");
        put("connect-ct", "QZ~FLASH\r"
                          "CT\r\n");
        put("legacy-connect", QByteArray("QZ~E\r"
                                         "CT\r\n") +
                                  QByteArray(16, '\0'));
        put("pin-read", "QZ~P013\r\r\n03\r\n");
        link.BuildErasePacket(false);
        put("erase-be", bytesOf(link.TxPacket) + "BE\r\n");
        link.BuildProgramPacket(0xC000);
        put("program-ok", bytesOf(link.TxPacket) + "OK\r\n");
        link.BuildProgramPacket(0xFE00);
        put("program-pg", bytesOf(link.TxPacket) + "PG\r\n");
        link.BuildEndPacket();
        put("end-ed", bytesOf(link.TxPacket) + "ED\r\n");
    }

    // What the program writes to the radio: a short flash update, the pin
    // command, and both row-by-row modes.
    {
        RadioScript update;
        update.write("QZ~RQ-V5\r");
        update.takeNext(2);
        update.write("QZ~FLASH\r");
        update.takeNext(2);
        link.BuildErasePacket(false);
        update.write(bytesOf(link.TxPacket), 512);
        update.takeNext(2);
        for (const int row : {0xC000, 0xC040}) {
            link.BuildProgramPacket(row);
            update.write(bytesOf(link.TxPacket), 512);
            update.takeNext(2);
        }
        link.BuildEndPacket();
        update.write(bytesOf(link.TxPacket), 512);
        update.takeNext(2);
        out.write("fuzz_radio_model", "flash-update", update.input());

        RadioScript pin;
        pin.write("QZ~P011\r");
        pin.takeNext();
        pin.write("QZ~P013\r");
        pin.takeNext();
        pin.write("QZ~P\r");
        pin.takeNext();
        out.write("fuzz_radio_model", "pins", pin.input());

        for (const ProtocolMode mode : {ModeE, ModeFL}) {
            RadioScript legacy;
            legacy.write(mode == ModeE ? "QZ~E\r" : "FL\r");
            legacy.takeNext();
            const QByteArray lead = mode == ModeFL ? "CL~" : "";
            link.BuildEraseFrame(mode);
            legacy.write(lead + bytesOf(link.RowFrame));
            legacy.takeNext();
            // The program's own row frames cannot address the image (their two
            // address bytes overflow), so these are what the radio expects: the
            // 16-bit offset into the flash and the row's bytes.
            for (const int row : {0xC000, 0xC001}) {
                const int offset = row * 16 - 0xC0000;
                const QByteArray frame =
                    QByteArray(1, char(offset >> 8)) + char(offset & 0xFF) + rowBytes(image, row);
                legacy.write(lead + frame);
                legacy.takeNext();
                link.SetOkFrame();
                legacy.write(lead + bytesOf(link.RowFrame));
                legacy.takeNext();
            }
            link.BuildEndFrame(mode);
            legacy.write(lead + bytesOf(link.RowFrame));
            legacy.takeNext();
            out.write("fuzz_radio_model", mode == ModeE ? "legacy-e" : "legacy-fl", legacy.input());
        }
    }

    std::printf("rqv5-fuzz-seeds: %d seeds\n", out.count());
    return 0;
}
