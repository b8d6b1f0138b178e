#pragma once

#include "image/memory_image.h"
#include "link_host.h"
#include "protocol.h"
#include "serial_port.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>

namespace rqv5 {

// Everything on the wire to the radio.
//
// The serial line returns every byte the program writes (an echo), ahead of the
// radio's reply, so every reply is read behind the echo of what was written: a
// command of length L is answered at index L of RxBuf, a 1032-byte packet at 1032.
//
// Each procedure applies the line settings chosen by the baud options, opens the
// port on the COM number of the menu if it is closed, writes, waits for the reply
// against the 5-second Timer1 deadline while the window keeps processing its
// events, decodes, and closes the port on every way out. A run-time error inside
// a procedure (a port that will not open, failed I/O, a reply read out of range)
// is trapped at the procedure's boundary and becomes its failure value; nothing
// escapes to the caller.
class Link {
public:
    static constexpr int PacketSize = 1032;
    static constexpr int FirstHalf = 512;
    static constexpr int SecondHalf = 520;
    static constexpr int StatusReplyIndex = 1032;   // behind the packet's echo
    static constexpr int PacketReplyTotal = 1036;   // echo plus the 4-byte status
    static constexpr int SecondWaitThreshold = 524; // 520 echoed plus the status
    static constexpr int RowsPerChunk = 64;
    static constexpr int LastChunkRow = 0xFEFF;     // without the boot block
    static constexpr int LastChunkRowBoot = 0xFFFF; // with it
    static inline const QString AccessCode = QStringLiteral("TORVANE");

    Link(SerialPort& port, LinkHost& host, const MemoryImage& image);

    // The bytes read in the latest exchange, echo first.
    QByteArray RxBuf;
    // The flash packet being sent.
    std::array<std::uint8_t, PacketSize> TxPacket{};
    // The legacy row frame; each builder writes only its own bytes, the rest carry over.
    std::array<std::uint8_t, 20> RowFrame{};
    // A legacy frame as mode 1 puts it on the line: "CL~" and the row frame.
    std::array<std::uint8_t, 23> ClFrame{};

    // --- Commands and replies ------------------------------------------------
    // "QZ~RQ-V5": 0 (ReplyOK), 13 (ReplyRE, another region) or 8.
    ReplyCode IdentifyDevice();
    // Switches the radio into a loading mode: 0 (ReplyOK), 3 (ReplyCT) or 8.
    ReplyCode ConnectDevice(ProtocolMode mode);
    // The port-pin command built from the chosen action and the pin-number box.
    ReplyCode PortPinCommand();

    // A 4-byte status reply "XY" CR LF at `index` of RxBuf. Raises SubscriptError
    // when any of its four bytes lies outside RxBuf.
    ReplyCode DecodeStatusReply(std::int16_t index) const;
    // A 6-byte framed reply CR LF "XY" CR LF at `index` of RxBuf. Raises
    // SubscriptError when bytes index, +1, +4 or +5 lie outside RxBuf.
    ReplyCode DecodeFramedReply(std::int16_t index) const;

    // Sends the current packet (ModeFlash) or frame (ModeE, ModeFL) and collects
    // the echo and the answer into RxBuf; returns the count of bytes received.
    // Has no trap of its own: its callers open the port and trap its errors.
    std::int16_t ExchangeFrame(ProtocolMode mode);

    // --- Flash packets ---------------------------------------------------------
    // Boot-block mode: the pin-number box holds exactly the access code.
    bool bootBlockMode();
    void BuildErasePacket(bool bootBlock);
    void BuildProgramPacket(int row);
    void BuildEndPacket();
    // 4 or 0 on success; 1 after three failed attempts; -1 on a run-time error.
    std::int16_t FlashErase();
    // 0 once every chunk with data was accepted; 1 when a chunk failed ten times;
    // -1 on a run-time error.
    std::int16_t FlashWriteImage();
    // 2 or 0 on success; 1 after ten failed attempts; -1 on a run-time error.
    std::int16_t FlashEnd();

    // --- Legacy row protocol (modes 0 and 1) -----------------------------------
    std::int16_t LegacyEraseOrEnd(const QString& commandWord, ProtocolMode mode);
    std::int16_t LegacyWriteImage(ProtocolMode mode);
    std::int16_t VerifyRowEcho(std::int16_t index);
    void BuildRowFrame(ProtocolMode mode, std::int32_t row);
    void BuildEraseFrame(ProtocolMode mode);
    void BuildEndFrame(ProtocolMode mode);
    void SetOkFrame();
    void SetNgFrame();

private:
    using Decoder = ReplyCode (Link::*)(std::int16_t) const;

    // Applies the settings string of the chosen baud option. 57600 is applied only
    // by procedures that honour it; otherwise the port keeps what it has.
    void applyLineSettings(bool honours57600);
    void openIfClosed();
    void closeIfOpen();
    // Runs `body` inside the error trap: a run-time error gives `failureValue`.
    // The port is closed and Timer1 disarmed on every way out.
    std::int16_t trapped(std::int16_t failureValue, const std::function<std::int16_t()>& body);
    // The command exchange: write `command`, wait for `waitCount` bytes, decode at
    // `replyIndex`; a code outside `accepted` gives 8.
    ReplyCode commandExchange(bool honours57600, const QByteArray& command, int waitCount, int replyIndex,
                              Decoder decoder, std::initializer_list<ReplyCode> accepted);
    // Waits until `threshold` bytes are waiting or Timer1 expires; returns the count.
    int waitForBytes(int threshold);
    std::int16_t exchangePacket();
    std::int16_t exchangeLegacyFrame(ProtocolMode mode);
    void setCheckByte();
    // One packet attempt: sent, answered in full, with an accepted code.
    bool packetAttempt(std::initializer_list<ReplyCode> accepted, ReplyCode& code);
    std::int16_t packetProcedure(int attempts, std::initializer_list<ReplyCode> accepted);

    SerialPort& port_;
    LinkHost& host_;
    const MemoryImage& image_;
};

// The progress text of a memory-image row: its byte address in upper-case
// hexadecimal, the row followed by "0" ("C0000").
QString rowAddressText(int row);

} // namespace rqv5
