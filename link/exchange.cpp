// The exchange pattern every procedure shares: settings, open, write, timed
// wait, read, decode, close - and the error trap around it.
#include "link.h"
#include "link_log.h"

#include <algorithm>
#include <limits>

Q_LOGGING_CATEGORY(lcLink, "rqv5.link", QtWarningMsg)

namespace rqv5 {

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

std::int16_t clampCount(long long n) {
    return static_cast<std::int16_t>(std::clamp<long long>(n, 0, std::numeric_limits<std::int16_t>::max()));
}

} // namespace

QString rowAddressText(int row) {
    return QString::number(row, 16).toUpper() + QLatin1Char('0');
}

Link::Link(SerialPort& port, LinkHost& host, const MemoryImage& image)
    : port_(port), host_(host), image_(image) {}

void Link::applyLineSettings(bool honours57600) {
    switch (host_.selectedBaudOption()) {
    case 0:
        port_.setSettings("9600,n,8,1");
        break;
    case 1:
        port_.setSettings("38400,n,8,1");
        break;
    case 2:
        if (honours57600)
            port_.setSettings("57600,n,8,1");
        break;
    default:
        break;
    }
}

void Link::openIfClosed() {
    if (port_.isOpen())
        return; // an open port is used as it is, on the number it was opened with
    port_.setPortNumber(host_.GetCOM());
    port_.open();
}

void Link::closeIfOpen() {
    if (port_.isOpen())
        port_.close();
}

std::int16_t Link::trapped(std::int16_t failureValue, const std::function<std::int16_t()>& body) {
    std::int16_t result = failureValue;
    try {
        result = body();
    } catch (const Abandoned& e) {
        qCInfo(lcLink) << e.what();
        host_.disarmTimer1();
    } catch (const std::exception& e) {
        qCWarning(lcLink) << "exchange failed:" << e.what();
        // A wait that an error cut short must not leave the deadline running into
        // the next exchange, which would then get less than its 5 seconds.
        host_.disarmTimer1();
    }
    closeIfOpen();
    return result;
}

int Link::waitForBytes(int threshold) {
    port_.expectBytes(threshold);
    host_.armTimer1();
    while (host_.timer1Running()) {
        host_.yieldToEvents();
        if (port_.bytesWaiting() >= threshold)
            host_.disarmTimer1();
    }
    // Counted after the wait, so a reply that completed during the last yield,
    // even past the deadline, still counts.
    return port_.bytesWaiting();
}

ReplyCode Link::commandExchange(bool honours57600, const QByteArray& command, int waitCount, int replyIndex,
                                Decoder decoder, std::initializer_list<ReplyCode> accepted) {
    return trapped(ReplyUnknown, [&]() -> std::int16_t {
        applyLineSettings(honours57600);
        openIfClosed();
        port_.write(command);
        const int count = waitForBytes(waitCount);
        RxBuf = port_.readAll();
        if (count < waitCount)
            return ReplyUnknown; // time-out or short answer: the bytes are not examined
        const ReplyCode code = (this->*decoder)(static_cast<std::int16_t>(replyIndex));
        return std::find(accepted.begin(), accepted.end(), code) != accepted.end() ? code : ReplyUnknown;
    });
}

ReplyCode Link::DecodeStatusReply(std::int16_t index) const {
    const int i = index;
    if (i < 0 || i + 3 >= RxBuf.size())
        throw SubscriptError("status reply at " + std::to_string(i) + " of " + std::to_string(RxBuf.size()) +
                             " received bytes");
    if (RxBuf[i + 2] != CR || RxBuf[i + 3] != LF)
        return ReplyUnknown;
    static constexpr struct {
        char first, second;
        ReplyCode code;
    } pairs[] = {{'O', 'K', ReplyOK}, {'N', 'G', ReplyNG}, {'E', 'D', ReplyED}, {'C', 'T', ReplyCT},
                 {'B', 'E', ReplyBE}, {'P', 'G', ReplyPG}, {'R', 'A', ReplyRA}, {'E', 'E', ReplyEE}};
    for (const auto& p : pairs)
        if (RxBuf[i] == p.first && RxBuf[i + 1] == p.second)
            return p.code;
    return ReplyUnknown;
}

ReplyCode Link::DecodeFramedReply(std::int16_t index) const {
    const int i = index;
    if (i < 0 || i + 5 >= RxBuf.size())
        throw SubscriptError("framed reply at " + std::to_string(i) + " of " + std::to_string(RxBuf.size()) +
                             " received bytes");
    if (RxBuf[i] != CR || RxBuf[i + 1] != LF || RxBuf[i + 4] != CR || RxBuf[i + 5] != LF)
        return ReplyUnknown;
    static constexpr struct {
        char first, second;
        ReplyCode code;
    } pairs[] = {{'O', 'K', ReplyOK},        {'N', 'G', ReplyNG},         {'R', 'E', ReplyRE},
                 {'0', '0', ReplyPinOutLow}, {'0', '1', ReplyPinOutHigh}, {'0', '2', ReplyPinInLow},
                 {'0', '3', ReplyPinInHigh}};
    for (const auto& p : pairs)
        if (RxBuf[i + 2] == p.first && RxBuf[i + 3] == p.second)
            return p.code;
    return ReplyUnknown;
}

std::int16_t Link::ExchangeFrame(ProtocolMode mode) {
    if (mode == ModeFlash)
        return exchangePacket();
    return exchangeLegacyFrame(mode);
}

// A 1032-byte packet goes out in two writes that fit the port's 520-byte
// transmit buffer: 512 bytes, then - once their echo is back - the other 520.
// One 5-second deadline covers both halves. The total counts the bytes reported
// waiting just before each read; a read takes every waiting byte, so RxBuf is
// never shorter than the total.
std::int16_t Link::exchangePacket() {
    applyLineSettings(true);
    QByteArray received;
    long long total = 0;

    const auto collect = [&](int threshold) {
        host_.yieldToEvents();
        if (port_.bytesWaiting() >= threshold) {
            total += port_.bytesWaiting();
            received += port_.readAll();
        }
    };

    const auto* packet = reinterpret_cast<const char*>(TxPacket.data());
    port_.write(QByteArray(packet, FirstHalf));
    port_.expectBytes(FirstHalf);
    host_.armTimer1();
    while (total < FirstHalf && host_.timer1Running())
        collect(FirstHalf);

    // Written even when the first echo never completed; the deadline is not
    // re-armed, so if it has passed the second wait ends at once.
    port_.write(QByteArray(packet + FirstHalf, SecondHalf));
    port_.expectBytes(SecondWaitThreshold);
    while (total < PacketReplyTotal && host_.timer1Running())
        collect(SecondWaitThreshold);
    if (total >= PacketReplyTotal)
        host_.disarmTimer1();

    RxBuf = received;
    return clampCount(total);
}

} // namespace rqv5
