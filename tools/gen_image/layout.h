#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace rqv5::gen {

// The shape of the RQ-V5 firmware release that the program carries: where the
// linker put data, how the S-record tool cut it into records, and what stays
// erased. The flash writer walks the image by rows and 1 KB chunks, so these
// facts decide which rows and chunks it programs; the tests check all of them.
namespace shape {
constexpr std::uint32_t FlashStart = 0xC0000;
constexpr std::uint32_t FlashEnd = 0x100000; // one past 0xFFFFF
constexpr std::uint32_t RecordBytes = 32;
constexpr int RecordCount = 8021;
constexpr int RecordsOnRowBoundary = 1676;
constexpr int RecordsIntoNextRow = 7976;
constexpr std::uint32_t CoveredBytes = 254650;

// Records by data-byte count, index 1..32.
constexpr std::array<int, 33> RecordsBySize = {0, 5, 5, 1, 9, 4, 5, 1, 4, 3, 5, 2, 7, 4, 3, 3,   8,
                                               5, 4, 3, 3, 3, 5, 4, 4, 1, 1, 2, 4, 1, 2, 4, 7906};

// Single erased bytes the linker left between two modules.
constexpr int PadBytes = 35;
constexpr std::uint32_t FirstPad = 0xD5D4D;
constexpr std::uint32_t LastPad = 0xFF021;

struct Range {
    std::uint32_t first;
    std::uint32_t last;
};
// The erased ranges, apart from the pad bytes.
constexpr std::array<Range, 9> Unused = {{{0xF7C48, 0xF7FFF},
                                          {0xFE06E, 0xFECFF},
                                          {0xFEE00, 0xFEFBF},
                                          {0xFEFCD, 0xFEFCF},
                                          {0xFEFDC, 0xFEFDF},
                                          {0xFEFE9, 0xFEFEF},
                                          {0xFEFF4, 0xFEFFF},
                                          {0xFF4D9, 0xFFFD3},
                                          {0xFFFD8, 0xFFFDB}}};
} // namespace shape

// What a module holds; each area gets its own kind of bytes.
enum class Area {
    Main,       // main program: code, texts and tables
    Data,       // display font, menu texts and radio tables
    Defaults,   // factory settings
    ModelName,  // identification block: model, band limits, version, sum
    BandLimits, //
    Version,    //
    Checksum,   //
    BootEntry,  // boot loader, reset entry
    Boot,       // boot loader, flash-loading commands
    IdCode,     // serial-programming ID code
    Vectors,    // fixed interrupt vectors at the top of flash
};

// A contiguous piece of the image as the linker placed it. The S-record tool
// writes each module as 32-byte records from its start and one shorter record
// for what is left, so module lengths and starts decide the record sizes and
// which records begin on a 16-byte row.
struct Module {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    Area area = Area::Main;
};

struct Record {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

// The modules in ascending address order. Always the same for the same seed.
std::vector<Module> planLayout(std::uint64_t seed);

std::vector<Record> recordsOf(const std::vector<Module>& modules);

// Everything in `records` that differs from the release's shape; empty when none.
std::vector<std::string> shapeProblems(const std::vector<Record>& records);

} // namespace rqv5::gen
