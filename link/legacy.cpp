// The two older row-by-row protocols. A row goes out as a 20-byte frame: the
// row's 16-bit byte address and its 16 bytes. Mode 0 writes the frame as it is,
// mode 1 behind "CL~". The radio answers every frame with 20 bytes behind the
// echo: a row frame comes back as received, a control frame gets a status in its
// first four bytes. Neither mode ever runs at 57600 baud.
#include "link.h"

namespace rqv5 {

namespace {

struct LegacyMode {
    int answerThreshold; // echo plus the 20-byte answer
    int answerIndex;     // where the answer starts in RxBuf
};

constexpr LegacyMode legacyMode(ProtocolMode mode) {
    return mode == ModeE ? LegacyMode{40, 20} : LegacyMode{43, 23};
}

bool isLegacy(ProtocolMode mode) {
    return mode == ModeE || mode == ModeFL;
}

std::uint8_t checkedByte(long long value) {
    if (value < 0 || value > 255)
        throw OverflowError(std::to_string(value) + " does not fit a byte");
    return static_cast<std::uint8_t>(value);
}

} // namespace

void Link::BuildRowFrame(ProtocolMode, std::int32_t row) {
    // Two address bytes reach only rows 0x000..0xFFF: the high byte of any row of
    // the image overflows here, before a byte of the frame is written.
    RowFrame[0] = checkedByte(row / 16);
    RowFrame[1] = checkedByte((row % 16) * 16);
    for (int c = 0; c < MemoryImage::Columns; ++c)
        RowFrame[static_cast<std::size_t>(2 + c)] = checkedByte(image_.ImageData(row, c));
}

void Link::BuildEraseFrame(ProtocolMode) {
    RowFrame[0] = 0x01;
    RowFrame[1] = 0x01;
    RowFrame[2] = '\r';
    RowFrame[3] = '\n';
}

void Link::BuildEndFrame(ProtocolMode) {
    RowFrame[0] = 0x00;
    RowFrame[1] = 0x00;
    RowFrame[2] = '\r';
    RowFrame[3] = '\n';
}

void Link::SetOkFrame() {
    RowFrame[0] = 'O';
    RowFrame[1] = 'K';
    RowFrame[2] = '\r';
    RowFrame[3] = '\n';
}

void Link::SetNgFrame() {
    RowFrame[0] = 'N';
    RowFrame[1] = 'G';
    RowFrame[2] = '\r';
    RowFrame[3] = '\n';
}

std::int16_t Link::exchangeLegacyFrame(ProtocolMode mode) {
    applyLineSettings(false);
    const auto* frame = reinterpret_cast<const char*>(RowFrame.data());
    if (mode == ModeE) {
        port_.write(QByteArray(frame, static_cast<qsizetype>(RowFrame.size())));
    } else {
        ClFrame[0] = 'C';
        ClFrame[1] = 'L';
        ClFrame[2] = '~';
        std::copy(RowFrame.begin(), RowFrame.end(), ClFrame.begin() + 3);
        port_.write(QByteArray(reinterpret_cast<const char*>(ClFrame.data()),
                               static_cast<qsizetype>(ClFrame.size())));
    }
    // The answer is collected like a command reply: wait for the echo and the
    // 20-byte answer against the deadline, then take everything that is waiting.
    const int count = waitForBytes(legacyMode(mode).answerThreshold);
    RxBuf = port_.readAll();
    return static_cast<std::int16_t>(std::min(count, 32767));
}

std::int16_t Link::LegacyEraseOrEnd(const QString& commandWord, ProtocolMode mode) {
    if (!isLegacy(mode))
        return 1;
    const LegacyMode m = legacyMode(mode);
    return trapped(-1, [&]() -> std::int16_t {
        applyLineSettings(false);
        openIfClosed();
        if (commandWord == QLatin1String("ERASE"))
            BuildEraseFrame(mode);
        else if (commandWord == QLatin1String("END"))
            BuildEndFrame(mode);
        else
            return 1;
        for (int attempt = 1; attempt <= 10; ++attempt) {
            const std::int16_t count = ExchangeFrame(mode);
            if (count < 0)
                return 1;
            if (count < m.answerThreshold)
                continue;
            const ReplyCode code = DecodeStatusReply(static_cast<std::int16_t>(m.answerIndex));
            if (code == ReplyOK || code == ReplyED || code == ReplyBE)
                return code;
        }
        return 1;
    });
}

std::int16_t Link::LegacyWriteImage(ProtocolMode mode) {
    if (!isLegacy(mode))
        return 1;
    const LegacyMode m = legacyMode(mode);
    const auto index = static_cast<std::int16_t>(m.answerIndex);
    return trapped(-1, [&]() -> std::int16_t {
        applyLineSettings(false);
        openIfClosed();
        // The boot block, rows 0xFF00 and up, is never written in these modes.
        for (int row = MemoryImage::FirstRow; row <= 0xFEFF; ++row) {
            host_.setText1(rowAddressText(row));
            if (image_.RowHasData(row) != MemoryImage::True)
                continue;
            for (int tries = 0;;) {
                BuildRowFrame(mode, row);
                const std::int16_t count = ExchangeFrame(mode);
                if (count < 0)
                    return 1;
                if (count >= m.answerThreshold) {
                    // The radio sends the row back; only a faithful copy is acknowledged.
                    if (VerifyRowEcho(index) < 1) {
                        SetNgFrame();
                        ExchangeFrame(mode);
                    } else {
                        SetOkFrame();
                        if (ExchangeFrame(mode) >= m.answerThreshold && DecodeStatusReply(index) == ReplyOK)
                            break;
                    }
                }
                if (++tries == 10)
                    return 1;
            }
        }
        return 0;
    });
}

std::int16_t Link::VerifyRowEcho(std::int16_t index) {
    for (int i = 0; i < static_cast<int>(RowFrame.size()); ++i) {
        const int at = index + i;
        if (at < 0 || at >= RxBuf.size())
            return -1; // ran past the received bytes
        if (static_cast<std::uint8_t>(RxBuf[at]) != RowFrame[static_cast<std::size_t>(i)])
            return 0;
    }
    return 1;
}

} // namespace rqv5
