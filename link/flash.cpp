// The flash packet protocol: "BE" erases blocks, "PG" programs 1 KB, "ED" ends.
//
// A packet is 1032 bytes: FF FE, two command letters, 1027 bytes of payload and a
// check byte, the low 8 bits of the sum of bytes 2..1030.
#include "link.h"

namespace rqv5 {

namespace {

// The erase list: the highest even address of each flash block, in the order
// the radio expects them. 0xFFFFE, the boot block, is added only with the
// access code.
constexpr std::uint32_t eraseList[] = {0xFEFFE, 0xFDFFE, 0xFBFFE, 0xF9FFE,
                                       0xF7FFE, 0xEFFFE, 0xDFFFE, 0xCFFFE};
constexpr std::uint32_t bootBlockEntry = 0xFFFFE;

std::uint8_t toByte(int value) {
    if (value < 0 || value > 255)
        throw OverflowError("image value " + std::to_string(value) + " does not fit a byte");
    return static_cast<std::uint8_t>(value);
}

} // namespace

bool Link::bootBlockMode() {
    return host_.pinNumberText() == AccessCode;
}

void Link::setCheckByte() {
    unsigned sum = 0;
    for (int i = 2; i <= PacketSize - 2; ++i)
        sum += TxPacket[static_cast<std::size_t>(i)];
    TxPacket[PacketSize - 1] = static_cast<std::uint8_t>(sum & 0xFF);
}

void Link::BuildErasePacket(bool bootBlock) {
    TxPacket.fill(0xFF);
    TxPacket[1] = 0xFE;
    TxPacket[2] = 'B';
    TxPacket[3] = 'E';
    std::size_t at = 4;
    const auto put = [&](std::uint32_t address) {
        for (int shift = 24; shift >= 0; shift -= 8)
            TxPacket[at++] = static_cast<std::uint8_t>(address >> shift);
    };
    for (std::uint32_t address : eraseList)
        put(address);
    if (bootBlock)
        put(bootBlockEntry);
    setCheckByte();
}

void Link::BuildProgramPacket(int row) {
    TxPacket[0] = 0xFF;
    TxPacket[1] = 0xFE;
    TxPacket[2] = 'P';
    TxPacket[3] = 'G';
    // The chunk's flash address, row * 16, as 24 bits big-endian.
    TxPacket[4] = toByte(row / 4096);
    TxPacket[5] = toByte((row % 4096) / 16);
    TxPacket[6] = toByte((row % 16) * 16);
    std::size_t at = 7;
    for (int k = 0; k < RowsPerChunk; ++k)
        for (int c = 0; c < MemoryImage::Columns; ++c)
            TxPacket[at++] = toByte(image_.ImageData(row + k, c));
    setCheckByte();
}

void Link::BuildEndPacket() {
    TxPacket.fill(0xFF);
    TxPacket[1] = 0xFE;
    TxPacket[2] = 'E';
    TxPacket[3] = 'D';
    setCheckByte();
}

bool Link::packetAttempt(std::initializer_list<ReplyCode> accepted, ReplyCode& code) {
    const std::int16_t total = ExchangeFrame(ModeFlash);
    if (total < PacketReplyTotal)
        return false; // the deadline passed before the echo and the reply were in
    code = DecodeStatusReply(StatusReplyIndex);
    return std::find(accepted.begin(), accepted.end(), code) != accepted.end();
}

std::int16_t Link::packetProcedure(int attempts, std::initializer_list<ReplyCode> accepted) {
    openIfClosed();
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        ReplyCode code = ReplyUnknown;
        if (packetAttempt(accepted, code))
            return code;
    }
    return 1;
}

std::int16_t Link::FlashErase() {
    return trapped(-1, [&]() -> std::int16_t {
        applyLineSettings(true);
        BuildErasePacket(bootBlockMode());
        return packetProcedure(3, {ReplyOK, ReplyBE});
    });
}

std::int16_t Link::FlashEnd() {
    return trapped(-1, [&]() -> std::int16_t {
        applyLineSettings(true);
        BuildEndPacket();
        return packetProcedure(10, {ReplyOK, ReplyED});
    });
}

std::int16_t Link::FlashWriteImage() {
    return trapped(-1, [&]() -> std::int16_t {
        applyLineSettings(true);
        openIfClosed();
        // The access code is read once: a change while the write runs does not
        // change the range being written.
        const int lastChunk = bootBlockMode() ? LastChunkRowBoot : LastChunkRow;
        for (int row = MemoryImage::FirstRow; row <= lastChunk; row += RowsPerChunk) {
            host_.setText1(rowAddressText(row));
            host_.setBarValue(row);
            bool hasData = false;
            for (int k = 0; k < RowsPerChunk && !hasData; ++k)
                hasData = image_.RowHasData(row + k) == MemoryImage::True;
            if (!hasData)
                continue; // nothing to program: no exchange at all

            int failures = 0;
            for (;;) {
                BuildProgramPacket(row);
                ReplyCode code = ReplyUnknown;
                if (packetAttempt({ReplyOK, ReplyPG}, code))
                    break;
                if (++failures == 10)
                    return 1; // this chunk is given up, and no later chunk is sent
            }
        }
        return 0;
    });
}

} // namespace rqv5
