// The Intel HEX loader on a whole file held in memory: LoadImageStream reading
// lines and checking each with CheckHexLine, one base for the whole file,
// compared with line-by-line parsing (image_load_checks.h). The device hands its
// bytes out a few at a time, as a pipe or a slow disk may, so line ends fall
// across reads; how few depends on the input's length.

#include "image_load_checks.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>

using namespace rqv5;

namespace {

class TrickleDevice : public QIODevice {
public:
    TrickleDevice(std::string_view bytes, qint64 chunk) : bytes_(bytes), chunk_(chunk) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 n = std::min({max, chunk_, static_cast<qint64>(bytes_.size()) - pos_});
        std::memcpy(out, bytes_.data() + pos_, static_cast<std::size_t>(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::string_view bytes_;
    qint64 chunk_;
    qint64 pos_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryImage image;
    image = fuzz::previousImage();
    const std::string_view text = fuzz::asText(data, size);
    // One input in four is read whole, the others 1 to 13 bytes at a time.
    const qint64 chunk = size % 4 == 0 ? qint64{1} << 30 : qint64(1 + size % 13);
    TrickleDevice device(text, chunk);

    std::int16_t loadError = -123;
    const FileLoadOutcome outcome = LoadImageStream(device, ImageFileFormat::IntelHex, image, loadError);
    fuzz::check(outcome.kind != FileLoadOutcome::Kind::FileError, "HEX text in memory gave a file error");
    fuzz::checkLoad(text, ImageFileFormat::IntelHex, outcome, loadError, image);
    return 0;
}
