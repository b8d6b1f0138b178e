// LoadImageFile on whole files: the input is written to a file that the loader
// then opens by path. A file that begins with ":" is named ".hex" and read as
// Intel HEX, any other ".mot" and read as S-records. The outcome is compared with
// line-by-line parsing (image_load_checks.h).

#include "image_load_checks.h"

#include <QFile>
#include <QTemporaryDir>

using namespace rqv5;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    static MemoryImage image;
    fuzz::check(dir.isValid(), "no temporary directory");

    const bool hex = size > 0 && data[0] == ':';
    const QString path = dir.filePath(hex ? QStringLiteral("image.hex") : QStringLiteral("image.mot"));
    {
        QFile file(path);
        fuzz::check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input file");
        fuzz::check(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                        static_cast<qint64>(size),
                    "cannot write the input file");
    }

    image = fuzz::previousImage();
    std::int16_t loadError = -123;
    const FileLoadOutcome outcome = LoadImageFile(path, image, loadError);
    fuzz::checkLoad(fuzz::asText(data, size), hex ? ImageFileFormat::IntelHex : ImageFileFormat::SRecord,
                    outcome, loadError, image);
    return 0;
}
