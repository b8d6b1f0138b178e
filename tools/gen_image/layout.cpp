#include "layout.h"

#include "rng.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <stdexcept>

namespace rqv5::gen {

namespace {

using shape::RecordBytes;

// The main program runs from the bottom of flash to 0xF7C47; its first pad byte
// splits it into two stretches. The data area follows at 0xF8000.
constexpr std::uint32_t MainEnd = 0xF7C48;
constexpr std::uint32_t DataStart = 0xF8000;
constexpr std::uint32_t DataEnd = 0xFE06E;

// The modules whose place and size the rest of the system depends on: settings,
// identification block, boot loader and vectors.
const std::vector<Module> fixedModules = {
    {0xFED00, 256, Area::Defaults}, {0xFEFC0, 13, Area::ModelName}, {0xFEFD0, 12, Area::BandLimits},
    {0xFEFE0, 9, Area::Version},    {0xFEFF0, 4, Area::Checksum},   {0xFF000, 33, Area::BootEntry},
    {0xFF022, 1207, Area::Boot},    {0xFFFD4, 4, Area::IdCode},     {0xFFFDC, 36, Area::Vectors},
};

bool onRowBoundary(const Record& r) {
    return r.address % 16 == 0;
}
bool intoNextRow(const Record& r) {
    return (r.address + r.size - 1) / 16 != r.address / 16;
}

// A run of modules between two fixed addresses. Module i is fulls[i] 32-byte
// records followed by a record of tails[i] bytes; padAfter[i] leaves one erased
// byte behind it.
struct Stretch {
    std::uint32_t start;
    std::uint32_t end;
    Area area;
    std::vector<std::uint32_t> tails;
    std::vector<bool> padAfter;
    std::vector<std::uint32_t> fulls;

    std::uint32_t pads() const {
        return static_cast<std::uint32_t>(std::count(padAfter.begin(), padAfter.end(), true));
    }
    std::uint32_t tailBytes() const { return std::accumulate(tails.begin(), tails.end(), 0u); }
    std::uint32_t fullRecords() const { return (end - start - tailBytes() - pads()) / RecordBytes; }

    // The column at which each module's records begin: 32-byte records keep it,
    // short records and pads move it.
    std::vector<std::uint32_t> columns() const {
        std::vector<std::uint32_t> out;
        std::uint32_t column = start % 16;
        for (std::size_t i = 0; i < tails.size(); ++i) {
            out.push_back(column);
            column = (column + tails[i] + (padAfter[i] ? 1 : 0)) % 16;
        }
        return out;
    }
};

// Splits `total` into parts proportional to `weights`, summing exactly to total.
std::vector<std::uint32_t> splitByWeights(std::uint32_t total, const std::vector<std::uint32_t>& weights) {
    const std::uint64_t sum = std::accumulate(weights.begin(), weights.end(), std::uint64_t{0});
    std::vector<std::uint32_t> parts;
    std::uint64_t cumulative = 0;
    std::uint64_t previous = 0;
    for (std::uint32_t w : weights) {
        cumulative += w;
        const std::uint64_t upTo = sum == 0 ? 0 : total * cumulative / sum;
        parts.push_back(static_cast<std::uint32_t>(upTo - previous));
        previous = upTo;
    }
    return parts;
}

// Module sizes vary a lot in a real program: mostly small, now and then a large one.
std::vector<std::uint32_t> moduleWeights(std::size_t n, Rng& rng) {
    std::vector<std::uint32_t> w(n);
    for (auto& x : w)
        x = rng.between(1, 24) * (rng.chance(12) ? 8 : 1);
    return w;
}

// Places pads after `count` distinct modules of the stretch, never after its last.
void placePads(Stretch& s, std::uint32_t count, Rng& rng) {
    s.padAfter.assign(s.tails.size(), false);
    std::vector<std::size_t> slots(s.tails.size() - 1);
    std::iota(slots.begin(), slots.end(), std::size_t{0});
    rng.shuffle(slots);
    for (std::uint32_t i = 0; i < count; ++i)
        s.padAfter[slots[i]] = true;
}

// Shares the 32-byte records of each stretch among its modules so that exactly
// `target` of them begin on a row boundary: those are the records of modules
// that begin at column 0.
bool shareFullRecords(std::vector<Stretch>& stretches, std::uint32_t target, Rng& rng) {
    std::vector<std::uint32_t> lo, flex;
    for (const auto& s : stretches) {
        const auto columns = s.columns();
        const auto atZero = static_cast<std::uint32_t>(std::count(columns.begin(), columns.end(), 0u));
        const std::uint32_t k = s.fullRecords();
        const std::uint32_t min = atZero == columns.size() ? k : 0;
        const std::uint32_t max = atZero == 0 ? 0 : k;
        lo.push_back(min);
        flex.push_back(max - min);
    }
    const std::uint32_t least = std::accumulate(lo.begin(), lo.end(), 0u);
    const std::uint32_t room = std::accumulate(flex.begin(), flex.end(), 0u);
    if (target < least || target > least + room)
        return false;
    const auto extra = splitByWeights(target - least, flex);

    for (std::size_t r = 0; r < stretches.size(); ++r) {
        Stretch& s = stretches[r];
        const auto columns = s.columns();
        const std::uint32_t aligned = lo[r] + extra[r];
        std::vector<std::size_t> zero, other;
        for (std::size_t i = 0; i < columns.size(); ++i)
            (columns[i] == 0 ? zero : other).push_back(i);
        s.fulls.assign(s.tails.size(), 0);
        const auto zeroParts = splitByWeights(aligned, moduleWeights(zero.size(), rng));
        const auto otherParts = splitByWeights(s.fullRecords() - aligned, moduleWeights(other.size(), rng));
        for (std::size_t i = 0; i < zero.size(); ++i)
            s.fulls[zero[i]] = zeroParts[i];
        for (std::size_t i = 0; i < other.size(); ++i)
            s.fulls[other[i]] = otherParts[i];
    }
    return true;
}

std::uint32_t sum(const std::vector<std::uint32_t>& v, std::size_t from, std::size_t to) {
    return std::accumulate(v.begin() + static_cast<std::ptrdiff_t>(from),
                           v.begin() + static_cast<std::ptrdiff_t>(to), 0u);
}

} // namespace

std::vector<Record> recordsOf(const std::vector<Module>& modules) {
    std::vector<Record> records;
    for (const auto& m : modules) {
        for (std::uint32_t offset = 0; offset < m.length; offset += RecordBytes)
            records.push_back({m.start + offset, std::min(RecordBytes, m.length - offset)});
    }
    return records;
}

std::vector<Module> planLayout(std::uint64_t seed) {
    // Short records left for the main program and the data area once the fixed
    // modules have taken theirs, and what those already contribute.
    std::vector<std::uint32_t> pool;
    for (std::uint32_t size = 1; size < RecordBytes; ++size)
        pool.insert(pool.end(), static_cast<std::size_t>(shape::RecordsBySize[size]), size);
    const auto fixedRecords = recordsOf(fixedModules);
    for (const auto& r : fixedRecords) {
        if (r.size < RecordBytes)
            pool.erase(std::find(pool.begin(), pool.end(), r.size));
    }
    const auto fixedAligned = std::count_if(fixedRecords.begin(), fixedRecords.end(), onRowBoundary);
    const auto fixedInRow = std::count_if(fixedRecords.begin(), fixedRecords.end(),
                                          [](const Record& r) { return !intoNextRow(r); });
    const auto wantedInRow =
        static_cast<std::size_t>(shape::RecordCount - shape::RecordsIntoNextRow - fixedInRow);
    const auto wantedAligned = static_cast<std::uint32_t>(shape::RecordsOnRowBoundary - fixedAligned);
    const std::uint32_t padsToPlace = shape::PadBytes - 2; // the first and the last are fixed

    // Shuffle the short records into the three stretches until the pads can make
    // every stretch end where it must, the right number of short records fit
    // inside one row, and the row-boundary count can be met.
    Rng rng(seed);
    for (int attempt = 0; attempt < 1000000; ++attempt) {
        rng.shuffle(pool);
        Stretch main1{shape::FlashStart, shape::FirstPad, Area::Main, {}, {}, {}};
        Stretch main2{shape::FirstPad + 1, MainEnd, Area::Main, {}, {}, {}};
        Stretch data{DataStart, DataEnd, Area::Data, {}, {}, {}};

        // No pad may lie before the first: the first stretch's short records
        // alone must bring it to the right column.
        std::size_t n1 = rng.between(28, 40);
        const std::uint32_t need1 = (main1.end - main1.start) % RecordBytes;
        while (n1 < 60 && sum(pool, 0, n1) % RecordBytes != need1)
            ++n1;
        const std::size_t nData = rng.between(8, 16);
        if (n1 == 60 || n1 + nData + 2 > pool.size())
            continue;
        const std::size_t n2 = pool.size() - n1 - nData;
        main1.tails.assign(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(n1));
        main2.tails.assign(pool.begin() + static_cast<std::ptrdiff_t>(n1),
                           pool.begin() + static_cast<std::ptrdiff_t>(n1 + n2));
        data.tails.assign(pool.begin() + static_cast<std::ptrdiff_t>(n1 + n2), pool.end());

        const std::uint32_t pads2 =
            ((main2.end - main2.start) % RecordBytes + RecordBytes - main2.tailBytes() % RecordBytes) %
            RecordBytes;
        if (pads2 > padsToPlace || pads2 > n2 - 1 || padsToPlace - pads2 > nData - 1)
            continue;
        main1.padAfter.assign(n1, false);
        placePads(main2, pads2, rng);
        placePads(data, padsToPlace - pads2, rng);
        if ((data.end - data.start - data.tailBytes() - data.pads()) % RecordBytes != 0)
            continue;

        std::vector<Stretch> stretches = {main1, main2, data};
        std::size_t inRow = 0;
        std::uint32_t alignedTails = 0;
        for (const auto& s : stretches) {
            const auto columns = s.columns();
            for (std::size_t i = 0; i < columns.size(); ++i) {
                inRow += columns[i] + s.tails[i] <= 16 ? 1 : 0;
                alignedTails += columns[i] == 0 ? 1 : 0;
            }
        }
        if (inRow != wantedInRow || alignedTails > wantedAligned)
            continue;
        if (!shareFullRecords(stretches, wantedAligned - alignedTails, rng))
            continue;

        std::vector<Module> modules = fixedModules;
        for (const auto& s : stretches) {
            std::uint32_t address = s.start;
            for (std::size_t i = 0; i < s.tails.size(); ++i) {
                const std::uint32_t length = s.fulls[i] * RecordBytes + s.tails[i];
                modules.push_back({address, length, s.area});
                address += length + (s.padAfter[i] ? 1 : 0);
            }
            if (address != s.end)
                throw std::logic_error("layout: a stretch does not end where it must");
        }
        std::sort(modules.begin(), modules.end(),
                  [](const Module& a, const Module& b) { return a.start < b.start; });
        return modules;
    }
    throw std::runtime_error("layout: no arrangement found");
}

std::vector<std::string> shapeProblems(const std::vector<Record>& records) {
    std::vector<std::string> problems;
    auto check = [&problems](bool ok, const char* what, long long got) {
        if (!ok) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "%s (got %lld / 0x%llX)", what, got,
                          static_cast<unsigned long long>(got));
            problems.emplace_back(buf);
        }
    };

    check(records.size() == shape::RecordCount, "record count", static_cast<long long>(records.size()));
    std::array<int, 33> bySize{};
    std::uint64_t covered = 0;
    for (const auto& r : records) {
        if (r.size >= 1 && r.size <= RecordBytes)
            ++bySize[r.size];
        covered += r.size;
    }
    for (std::uint32_t size = 1; size <= RecordBytes; ++size)
        check(bySize[size] == shape::RecordsBySize[size], "records of one size", size);
    check(covered == shape::CoveredBytes, "covered bytes", static_cast<long long>(covered));
    check(std::count_if(records.begin(), records.end(), onRowBoundary) == shape::RecordsOnRowBoundary,
          "records on a row boundary", std::count_if(records.begin(), records.end(), onRowBoundary));
    check(std::count_if(records.begin(), records.end(), intoNextRow) == shape::RecordsIntoNextRow,
          "records into the next row", std::count_if(records.begin(), records.end(), intoNextRow));
    if (records.empty())
        return problems;
    check(records.front().address == shape::FlashStart, "first address", records.front().address);
    check(records.back().address + records.back().size == shape::FlashEnd, "end of last record",
          records.back().address + records.back().size);

    std::vector<std::uint32_t> pads;
    std::vector<shape::Range> ranges;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const std::uint32_t end = records[i - 1].address + records[i - 1].size;
        check(records[i].address >= end, "records overlap or fall", records[i].address);
        if (records[i].address == end + 1)
            pads.push_back(end);
        else if (records[i].address > end + 1)
            ranges.push_back({end, records[i].address - 1});
    }
    check(pads.size() == shape::PadBytes, "pad bytes", static_cast<long long>(pads.size()));
    if (!pads.empty()) {
        check(pads.front() == shape::FirstPad, "first pad byte", pads.front());
        check(pads.back() == shape::LastPad, "last pad byte", pads.back());
    }
    check(ranges.size() == shape::Unused.size(), "unused ranges", static_cast<long long>(ranges.size()));
    for (std::size_t i = 0; i < std::min(ranges.size(), shape::Unused.size()); ++i) {
        check(ranges[i].first == shape::Unused[i].first, "unused range start", ranges[i].first);
        check(ranges[i].last == shape::Unused[i].last, "unused range end", ranges[i].last);
    }
    return problems;
}

} // namespace rqv5::gen
