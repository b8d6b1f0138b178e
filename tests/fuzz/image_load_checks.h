#pragma once

// What a whole-file load must come to, checked against a plain reference: the
// text cut into lines at LF, CR LF or a lone CR (at most MaxLineLength characters
// kept of each), every line given to the line parser in turn, the first rejected
// line or out-of-image S-record byte ending the load. The loader must agree with
// it on the outcome, the line number, the code and LoadError, must put exactly
// the reference's image in place when every line was accepted, and must leave
// the image the program held untouched otherwise, with the message box each
// outcome shows.

#include "fuzz_support.h"
#include "image/embedded_image.h"
#include "image/errors.h"
#include "image/image_file.h"
#include "image/srecord.h"

#include <memory>
#include <string_view>

namespace rqv5::fuzz {

// The image the program holds before a load: the firmware it carries, plus a
// mark that no load produces, so "unchanged" never looks like "reloaded".
inline const MemoryImage& previousImage() {
    static const MemoryImage previous = [] {
        MemoryImage image;
        auto table = std::make_unique<ImageLineTable>();
        std::int16_t loadError = 0;
        LoadEmbeddedImage(image, *table, loadError);
        image.ImageData(0xC800, 3) = 0x42;
        image.RowHasData(0xE000) = MemoryImage::True;
        return image;
    }();
    return previous;
}

struct ReferenceLoad {
    FileLoadOutcome::Kind kind = FileLoadOutcome::Kind::Loaded;
    std::int16_t code = 0;
    std::int16_t loadError = 0;
    std::int32_t lineNumber = 0;
};

inline ReferenceLoad referenceLoad(std::string_view text, ImageFileFormat format, MemoryImage& image) {
    image.ClearImage();
    HexBase base;
    ReferenceLoad result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const std::string_view line = text.substr(at, std::min(end - at, MaxLineLength));
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        ++result.lineNumber;
        try {
            if (format == ImageFileFormat::IntelHex)
                CheckHexLine(image, base, line, result.loadError);
            else
                LoadSRecordLine(image, line, result.loadError);
        } catch (const SubscriptError&) {
            result.kind = FileLoadOutcome::Kind::FileError;
            return result;
        }
        if (result.loadError != 0) {
            result.kind = FileLoadOutcome::Kind::LineRejected;
            result.code = result.loadError;
            return result;
        }
    }
    return result;
}

// `image` was previousImage() before the load of `text`.
inline void checkLoad(std::string_view text, ImageFileFormat format, const FileLoadOutcome& outcome,
                      std::int16_t loadError, const MemoryImage& image) {
    using Kind = FileLoadOutcome::Kind;
    using Icon = FileLoadOutcome::Icon;
    static MemoryImage expected;
    const ReferenceLoad reference = referenceLoad(text, format, expected);

    check(outcome.kind == reference.kind, "outcome differs from line-by-line parsing");
    check(outcome.lineNumber == reference.lineNumber, "line number differs from line-by-line parsing");
    check(outcome.code == reference.code, "code differs from line-by-line parsing");
    check(loadError == reference.loadError, "LoadError is not that of the last line parsed");
    switch (outcome.kind) {
    case Kind::Loaded:
        check(outcome.message().isEmpty() && outcome.title().isEmpty() && outcome.icon() == Icon::None,
              "a load that succeeded shows a message");
        check(image == expected, "loaded image differs from line-by-line parsing");
        return;
    case Kind::LineRejected:
        check(outcome.message() == QStringLiteral("Error Code = %1 ; line number = %2")
                                       .arg(outcome.code)
                                       .arg(outcome.lineNumber) &&
                  outcome.title() == QLatin1String("Error") && outcome.icon() == Icon::Warning,
              "message of a rejected line");
        break;
    case Kind::FileError:
        check(outcome.message() == QLatin1String("File Open Error") &&
                  outcome.title() == QLatin1String("ERROR") && outcome.icon() == Icon::Error,
              "message of a file error");
        break;
    }
    check(image == previousImage(), "a failed load changed the image");
}

} // namespace rqv5::fuzz
