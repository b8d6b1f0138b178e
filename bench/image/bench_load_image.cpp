// Wall time of the start-up load of the embedded firmware (clear the image, fill
// the line table, parse all 8023 lines), over many runs. Prints figures; asserts
// nothing.
//   bench_load_image [runs]
#include "image/embedded_image.h"
#include "image/memory_image.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    // Allocated once, as the window allocates them; the load reuses them.
    rqv5::MemoryImage image;
    rqv5::ImageLineTable table;
    std::int16_t loadError = 0;
    rqv5::LoadEmbeddedImage(image, table, loadError); // warm caches and pages

    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        rqv5::LoadEmbeddedImage(image, table, loadError);
        const auto stop = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
    std::sort(us.begin(), us.end());

    int flagged = 0;
    for (int row = rqv5::MemoryImage::FirstRow; row <= rqv5::MemoryImage::LastRow; ++row)
        flagged += image.RowHasData(row) == rqv5::MemoryImage::True ? 1 : 0;
    std::printf(
        "LoadEmbeddedImage (%d lines, %d flagged rows, %d runs): median %.0f us, min %.0f us, max %.0f us\n",
        table.ImageLineCount, flagged, runs, us[us.size() / 2], us.front(), us.back());
    return 0;
}
