#pragma once

#include "memory_image.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>

class QIODevice;

namespace rqv5 {

// Status codes that CheckHexLine leaves in LoadError, in the order the checks run.
namespace hex_code {
constexpr std::int16_t Accepted = 0;
constexpr std::int16_t NotAHexRecord = 9;     // the line does not begin with ":"
constexpr std::int16_t TooShort = 1;          // 12 characters or fewer, and not ":00000001FF"
constexpr std::int16_t CountTooLarge = 2;     // byte count above 16
constexpr std::int16_t LengthMismatch = 3;    // length is not 11 + 2 x byte count
constexpr std::int16_t TypeNotZeroFirst = 4;  // first digit of the record type is not "0"
constexpr std::int16_t UnknownType = 10;      // record type other than 00..05
constexpr std::int16_t BadAddressRecord = 11; // a 02 or 04 record whose byte count is not 2
constexpr std::int16_t OutsideImage = 5;      // data outside 0xC0000..0xFFFFF
constexpr std::int16_t ColumnOutOfRange = 6;  // column above 15 (a single digit never is)
constexpr std::int16_t CrossesRow = 7;        // column + byte count above 16
constexpr std::int16_t BadChecksum = 8;       // byte pairs do not sum to 0 mod 256, or are not hex
} // namespace hex_code

// The base address that Intel HEX address records set for the data records after
// them: segment x 16 from an extended segment address record (02), upper 16 bits
// << 16 from an extended linear address record (04). It is 0 at the start of a file.
struct HexBase {
    std::uint32_t address = 0;
};

// Checks one Intel HEX line and stores the bytes of a data record into `image`.
// Character positions below are 1-based, as the record format is usually described.
//
// The checks, in order; the first that fails sets its code and nothing is stored:
//   9  first character is not ":"
//   1  the line has 12 characters or fewer; ":00000001FF" exactly is accepted instead
//   2  byte count n (characters 2-3) above 16
//   3  line length other than 2n + 11
//   4  character 8 (first type digit) is not "0"
//   then by character 9 (second type digit):
//   1, 3, 5  end of file, start segment and start linear address: accepted, nothing
//            to store, the checksum is not looked at. An end record does not end the
//            file; lines after it are checked like any other.
//   2, 4     address record: 11 when n is not 2, then 8 for a bad checksum; otherwise
//            the record's four digits become the base (see HexBase).
//   0        data record:
//            5  row = base / 16 + characters 4-6 lies outside 0xC000..0xFFFF
//            6  column (character 7) above 15 - kept, but one hex digit never is
//            7  column + n above 16: a record may not run past the end of its row
//            8  the byte pairs from character 2 to the end of the line do not sum
//               to 0 modulo 256, or one of them is not two hexadecimal digits
//            then byte k (characters 10 + 2k, 11 + 2k) goes to (row, column + k), and
//            the row is flagged when the byte is below 0xFF.
//   anything else (6..9, A..F or any other character): 10. Types 0A..0F are not
//            read as data: they are no data records, and storing them would put
//            bytes of unknown meaning into the radio.
//
// So a data record lands at base + its 16-bit offset: a file needs an 02 or 04
// record that puts its data into 0xC0000..0xFFFFF, such as ":02000002C0003C"
// (segment 0xC000) or ":02000004000CEE" (upper 0x000C); with base 0 every data
// record gets code 5. Base + offset is not wrapped at 1 MB or 4 GB: beyond
// 0xFFFFF it is simply outside the image.
// The fields before the checksum are read leniently (readHexField); the strict
// checksum makes sure that no record with stray characters stores anything.
void CheckHexLine(MemoryImage& image, HexBase& base, std::string_view line, std::int16_t& LoadError);

// Which line parser a file is read with: Intel HEX when the last three characters
// of the path, upper-cased, are "HEX" (".hex", ".Hex", or a name that merely ends
// in those letters), Motorola S-records for every other path.
enum class ImageFileFormat { SRecord, IntelHex };
ImageFileFormat imageFileFormatForPath(const QString& path);

// What a file load came to, and the one message box the window shows for it.
struct FileLoadOutcome {
    enum class Kind { Loaded, LineRejected, FileError };
    enum class Icon { None, Warning, Error };

    Kind kind = Kind::FileError;
    // LoadError of the rejected line, 0 for the other kinds.
    std::int16_t code = 0;
    // Lines read, the rejected one included: its 1-based line number.
    std::int32_t lineNumber = 0;
    // Why a FileError happened, for a log; the operator is only shown message().
    QString reason;

    bool loaded() const { return kind == Kind::Loaded; }
    // Empty for a load that succeeded: it shows no message.
    QString message() const;
    QString title() const;
    Icon icon() const;
};

// Longest file that is read at all. The largest sensible image file of a 256 KB
// flash is under a megabyte; the limit keeps a mistaken drop of some huge file
// from freezing the window and keeps the line count far from overflowing.
constexpr qint64 MaxImageFileSize = qint64(64) * 1024 * 1024;

// Characters kept of one line; the rest of a longer line is read and dropped. Both
// parsers look at fewer characters (an S-record at most 512, a HEX line of more
// than 43 characters is refused by its length), so nothing they decide changes and
// memory per line stays bounded even for a file without line ends.
constexpr std::size_t MaxLineLength = 4096;

// Loads an image file into `image`. The file is read line by line into a separate,
// cleared image with the parser imageFileFormatForPath() chooses; `image` is
// replaced only when every line up to the end of the file was accepted. After any
// failure `image` is exactly as it was, so a following write cannot send a partly
// loaded file to the radio.
//
// Lines end at LF, CR LF or a lone CR; the line end is not part of the line.
// The load stops at the first line the parser rejects (LineRejected, its code and
// line number). A path that is not a regular file or cannot be opened, a read
// error, a file above MaxImageFileSize and an S-record byte outside the image
// give FileError ("File Open Error"). LoadError keeps the code of the last line parsed.
FileLoadOutcome LoadImageFile(const QString& path, MemoryImage& image, std::int16_t& LoadError);

// The same load from an already open device, for sources other than a file path.
FileLoadOutcome LoadImageStream(QIODevice& device, ImageFileFormat format, MemoryImage& image,
                                std::int16_t& LoadError);

} // namespace rqv5
