#include "image_file.h"

#include "errors.h"
#include "hex_field.h"
#include "srecord.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace rqv5 {

namespace {

constexpr std::string_view HexEndRecord = ":00000001FF";

// Every byte pair from the byte count through the checksum, read strictly: a record
// whose pairs are not all hexadecimal fails as surely as one whose sum is wrong.
bool hexChecksumOk(std::string_view line) {
    unsigned sum = 0;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        const int hi = hexDigitValue(line[i]);
        const int lo = hexDigitValue(line[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        sum += static_cast<unsigned>(hi * 16 + lo);
    }
    return (sum & 0xFF) == 0;
}

void checkAddressRecord(HexBase& base, std::string_view line, std::uint64_t count, char type,
                        std::int16_t& LoadError) {
    if (count != 2) {
        LoadError = hex_code::BadAddressRecord;
        return;
    }
    if (!hexChecksumOk(line)) {
        LoadError = hex_code::BadChecksum;
        return;
    }
    const auto value = static_cast<std::uint32_t>(readHexField(line, 10, 4));
    base.address = type == '2' ? value << 4 : value << 16;
}

void checkDataRecord(MemoryImage& image, const HexBase& base, std::string_view line, std::uint64_t count,
                     std::int16_t& LoadError) {
    const std::uint64_t row = (base.address >> 4) + readHexField(line, 4, 3);
    const std::uint64_t column = readHexField(line, 7, 1);
    if (row < MemoryImage::FirstRow || row > MemoryImage::LastRow) {
        LoadError = hex_code::OutsideImage;
        return;
    }
    if (column > 15) {
        LoadError = hex_code::ColumnOutOfRange;
        return;
    }
    if (column + count > 16) {
        LoadError = hex_code::CrossesRow;
        return;
    }
    if (!hexChecksumOk(line)) {
        LoadError = hex_code::BadChecksum;
        return;
    }
    const auto r = static_cast<std::int64_t>(row);
    for (std::uint64_t k = 0; k < count; ++k) {
        const auto b = static_cast<std::int16_t>(readHexField(line, 10 + 2 * k, 2));
        if (b < 0xFF)
            image.RowHasData(r) = MemoryImage::True;
        image.ImageData(r, static_cast<std::int64_t>(column + k)) = b;
    }
}

// Reads a device as lines without their line ends (LF, CR LF or a lone CR), keeping
// at most MaxLineLength characters of each and refusing to read past
// MaxImageFileSize bytes.
class LineReader {
public:
    enum class Result { Line, End, Error };

    explicit LineReader(QIODevice& device) : device_(device) {}

    Result next(std::string& line) {
        line.clear();
        if (!ensureByte())
            return failed_ ? Result::Error : Result::End;
        for (;;) {
            if (!ensureByte())
                return failed_ ? Result::Error : Result::Line;
            const char c = buffer_[pos_++];
            if (c == '\n')
                return Result::Line;
            if (c == '\r') {
                if (ensureByte() && buffer_[pos_] == '\n')
                    ++pos_;
                return failed_ ? Result::Error : Result::Line;
            }
            if (line.size() < MaxLineLength)
                line.push_back(c);
        }
    }

    const QString& error() const { return error_; }

private:
    static constexpr qint64 ChunkSize = 64 * 1024;

    // True when at least one unread byte is in the buffer.
    bool ensureByte() {
        if (pos_ < filled_)
            return true;
        if (atEnd_ || failed_)
            return false;
        const qint64 n = device_.read(buffer_.data(), ChunkSize);
        if (n < 0) {
            failed_ = true;
            error_ = device_.errorString();
            return false;
        }
        if (n == 0) {
            atEnd_ = true;
            return false;
        }
        total_ += n;
        if (total_ > MaxImageFileSize) {
            failed_ = true;
            error_ = QStringLiteral("larger than %1 bytes").arg(MaxImageFileSize);
            return false;
        }
        pos_ = 0;
        filled_ = static_cast<std::size_t>(n);
        return true;
    }

    QIODevice& device_;
    std::vector<char> buffer_ = std::vector<char>(ChunkSize);
    std::size_t pos_ = 0;
    std::size_t filled_ = 0;
    qint64 total_ = 0;
    bool atEnd_ = false;
    bool failed_ = false;
    QString error_;
};

FileLoadOutcome fileError(QString reason, std::int32_t lineNumber = 0) {
    FileLoadOutcome outcome;
    outcome.kind = FileLoadOutcome::Kind::FileError;
    outcome.lineNumber = lineNumber;
    outcome.reason = std::move(reason);
    return outcome;
}

} // namespace

void CheckHexLine(MemoryImage& image, HexBase& base, std::string_view line, std::int16_t& LoadError) {
    LoadError = hex_code::Accepted;
    if (line.empty() || line[0] != ':') {
        LoadError = hex_code::NotAHexRecord;
        return;
    }
    if (line.size() <= 12) {
        if (line != HexEndRecord)
            LoadError = hex_code::TooShort;
        return;
    }
    const std::uint64_t count = readHexField(line, 2, 2);
    if (count > 16) {
        LoadError = hex_code::CountTooLarge;
        return;
    }
    if (line.size() != 2 * count + 11) {
        LoadError = hex_code::LengthMismatch;
        return;
    }
    if (line[7] != '0') {
        LoadError = hex_code::TypeNotZeroFirst;
        return;
    }
    switch (const char type = line[8]) {
    case '0':
        checkDataRecord(image, base, line, count, LoadError);
        return;
    case '1': // end of file
    case '3': // start segment address
    case '5': // start linear address
        return;
    case '2':
    case '4':
        checkAddressRecord(base, line, count, type, LoadError);
        return;
    default:
        LoadError = hex_code::UnknownType;
        return;
    }
}

ImageFileFormat imageFileFormatForPath(const QString& path) {
    return path.right(3).toUpper() == QLatin1String("HEX") ? ImageFileFormat::IntelHex
                                                           : ImageFileFormat::SRecord;
}

QString FileLoadOutcome::message() const {
    switch (kind) {
    case Kind::Loaded:
        return {};
    case Kind::LineRejected:
        return QStringLiteral("Error Code = %1 ; line number = %2").arg(code).arg(lineNumber);
    case Kind::FileError:
        break;
    }
    return QStringLiteral("File Open Error");
}

QString FileLoadOutcome::title() const {
    switch (kind) {
    case Kind::Loaded:
        return {};
    case Kind::LineRejected:
        return QStringLiteral("Error");
    case Kind::FileError:
        break;
    }
    return QStringLiteral("ERROR");
}

FileLoadOutcome::Icon FileLoadOutcome::icon() const {
    switch (kind) {
    case Kind::Loaded:
        return Icon::None;
    case Kind::LineRejected:
        return Icon::Warning;
    case Kind::FileError:
        break;
    }
    return Icon::Error;
}

FileLoadOutcome LoadImageStream(QIODevice& device, ImageFileFormat format, MemoryImage& image,
                                std::int16_t& LoadError) {
    LoadError = 0;
    std::int32_t lineNumber = 0;
    try {
        MemoryImage loading;
        HexBase base;
        LineReader reader(device);
        std::string line;
        line.reserve(MaxLineLength);
        for (;;) {
            const auto read = reader.next(line);
            if (read == LineReader::Result::End)
                break;
            if (read == LineReader::Result::Error)
                return fileError(
                    QStringLiteral("read error after line %1: %2").arg(lineNumber).arg(reader.error()),
                    lineNumber);
            ++lineNumber;
            if (format == ImageFileFormat::IntelHex)
                CheckHexLine(loading, base, line, LoadError);
            else
                LoadSRecordLine(loading, line, LoadError);
            if (LoadError != 0) {
                FileLoadOutcome outcome;
                outcome.kind = FileLoadOutcome::Kind::LineRejected;
                outcome.code = LoadError;
                outcome.lineNumber = lineNumber;
                return outcome;
            }
        }
        image = loading;
    } catch (const std::exception& e) {
        // An S-record byte outside the image (SubscriptError) or running out of memory.
        return fileError(QStringLiteral("line %1: %2").arg(lineNumber).arg(QString::fromUtf8(e.what())),
                         lineNumber);
    }
    FileLoadOutcome outcome;
    outcome.kind = FileLoadOutcome::Kind::Loaded;
    outcome.lineNumber = lineNumber;
    return outcome;
}

FileLoadOutcome LoadImageFile(const QString& path, MemoryImage& image, std::int16_t& LoadError) {
    LoadError = 0;
    const QFileInfo info(path);
    // Devices, pipes and directories are refused before opening: a pipe would block
    // the open, and a device such as /dev/zero never ends.
    if (!info.exists())
        return fileError(QStringLiteral("%1: no such file").arg(path));
    if (!info.isFile())
        return fileError(QStringLiteral("%1: not a regular file").arg(path));
    if (info.size() > MaxImageFileSize)
        return fileError(QStringLiteral("%1: larger than %2 bytes").arg(path).arg(MaxImageFileSize));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fileError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return LoadImageStream(file, imageFileFormatForPath(path), image, LoadError);
}

} // namespace rqv5
