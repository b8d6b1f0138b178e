#include "embedded_image.h"

#include "srecord.h"

namespace rqv5 {

// Generated at build time from image/firmware/rqv5.mot: the file's text, every
// line ending in "\n".
extern const std::string_view embeddedImageWholeText;

void FillImageLines(ImageLineTable& table) {
    std::string_view rest = embeddedImageWholeText;
    std::int32_t n = 0;
    while (!rest.empty() && n < ImageLineTable::Capacity) {
        const auto end = rest.find('\n');
        table.ImageLines[static_cast<std::size_t>(n++)] = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    table.ImageLineCount = n;
}

void LoadEmbeddedImage(MemoryImage& image, ImageLineTable& table, std::int16_t& LoadError) {
    image.ClearImage();
    FillImageLines(table);
    for (std::int32_t i = 0; i < table.ImageLineCount; ++i)
        LoadSRecordLine(image, table.ImageLines[static_cast<std::size_t>(i)], LoadError);
}

std::string_view embeddedImageText() {
    return embeddedImageWholeText;
}

} // namespace rqv5
