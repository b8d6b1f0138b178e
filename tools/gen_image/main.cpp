// Writes the firmware data file that rqv5flash carries:
//   rqv5-gen-image image/firmware/rqv5.mot
// The output depends on nothing but this program, so running it again gives the
// same file byte for byte.

#include "content.h"
#include "layout.h"
#include "srec_out.h"

#include <cstdio>
#include <exception>
#include <fstream>

namespace {

constexpr std::uint64_t LayoutSeed = 0x5251563546574C41ull;
constexpr std::uint64_t ContentSeed = 0x5251563542595445ull;

// A row the records touch must hold something other than 0xFF; the layout check
// cannot see that, so look at the filled image.
bool everyTouchedRowHasData(const std::vector<rqv5::gen::Record>& records,
                            const std::vector<std::uint8_t>& flash) {
    std::vector<bool> hasData(flash.size() / 16, false);
    std::vector<bool> touched(flash.size() / 16, false);
    for (const auto& r : records) {
        for (std::uint32_t a = r.address; a < r.address + r.size; ++a) {
            const std::size_t i = a - rqv5::gen::shape::FlashStart;
            touched[i / 16] = true;
            if (flash[i] != 0xFF)
                hasData[i / 16] = true;
        }
    }
    for (std::size_t row = 0; row < touched.size(); ++row) {
        if (touched[row] && !hasData[row]) {
            std::fprintf(stderr, "rqv5-gen-image: row 0x%zX holds only 0xFF\n", row + 0xC000);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <out-file>\n", argv[0]);
        return 2;
    }
    try {
        const auto modules = rqv5::gen::planLayout(LayoutSeed);
        const auto records = rqv5::gen::recordsOf(modules);
        const auto problems = rqv5::gen::shapeProblems(records);
        for (const auto& p : problems)
            std::fprintf(stderr, "rqv5-gen-image: layout: %s\n", p.c_str());
        if (!problems.empty())
            return 1;

        const auto flash = rqv5::gen::fillImage(modules, ContentSeed);
        if (!everyTouchedRowHasData(records, flash))
            return 1;

        const std::string text = rqv5::gen::formatSRecords(records, flash);
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "rqv5-gen-image: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rqv5-gen-image: %s\n", e.what());
        return 1;
    }
    return 0;
}
