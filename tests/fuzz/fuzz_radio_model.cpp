// The simulated radio's input side: RadioModel::receive with arbitrary byte
// streams cut into arbitrary pieces at arbitrary (never decreasing) times and
// rates, takeOutput in between and at the end.
//
// The input's front is the byte stream the program writes; its back chooses the
// radio's faults and pacing and how the stream is cut and timed, so a captured
// exchange works as a seed as it stands (zero bytes at the back give a healthy
// radio fed byte by byte).
//
// Whatever comes in, the radio hands over exactly the bytes it counts as sent,
// never anything after the cable is pulled, and nothing once it says nothing is
// queued; a silent radio says nothing at all; every byte it took is echoed, in
// order, ahead of what follows it, and an echo-only radio sends back exactly
// what it took.

#include "fuzz_support.h"
#include "radio_model.h"

#include <algorithm>
#include <array>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <string>

using namespace rqv5::sim;
using rqv5::fuzz::check;

namespace {

constexpr std::array<int, 8> rates{0, 57600, 9600, 38400, 115200, 300, 256000, 110};
constexpr std::array<Micros, 4> frames{0, 1000, 125, 16000};

RadioOptions options(FuzzedDataProvider& in) {
    RadioOptions o;
    const auto flags = in.ConsumeIntegral<std::uint8_t>();
    o.silent = flags & 0x01;
    o.echoOnly = flags & 0x02;
    const auto pacing = in.ConsumeIntegral<std::uint8_t>();
    o.pacing.baud = rates[pacing & 7];
    o.pacing.frame = frames[(pacing >> 3) & 3];
    o.pacing.bitsPerByte = 10 + ((pacing >> 5) & 3);
    if (flags & 0x04) {
        const auto kind = static_cast<Kind>(in.ConsumeIntegralInRange<int>(0, KindCount - 1));
        KindFaults& f = o.faultsFor(kind);
        f.ngFirst = in.ConsumeIntegralInRange<int>(0, 3);
        f.okInstead = in.ConsumeBool();
        if (in.ConsumeBool()) {
            const auto raw = in.ConsumeIntegral<std::uint32_t>();
            f.reply = QByteArray(reinterpret_cast<const char*>(&raw), in.ConsumeIntegralInRange<int>(0, 4));
        }
        f.late = in.ConsumeIntegralInRange<Micros>(0, 6'000'000);
        f.lateFirst = in.ConsumeIntegralInRange<int>(0, 3);
        f.processing = in.ConsumeIntegralInRange<Micros>(0, 100'000);
    }
    if (flags & 0x08) {
        o.hangUpAfter = in.ConsumeIntegralInRange<int>(1, 6);
        if (in.ConsumeBool())
            o.hangUpKind = static_cast<Kind>(in.ConsumeIntegralInRange<int>(0, KindCount - 1));
    }
    if (flags & 0x10) {
        const auto raw = in.ConsumeIntegral<std::uint32_t>();
        o.garbage = QByteArray(reinterpret_cast<const char*>(&raw), in.ConsumeIntegralInRange<int>(1, 4));
        o.garbageFirst = in.ConsumeIntegralInRange<int>(0, 3);
    }
    if (flags & 0x20)
        o.onlyBaud = rates[in.ConsumeIntegralInRange<std::size_t>(1, rates.size() - 1)];
    if (flags & 0x40) {
        o.identifyCode = in.ConsumeBool() ? "RE" : "NG";
        o.connectCode = in.ConsumeBool() ? "NG" : "OK";
        o.legacyConnectCode = in.ConsumeBool() ? "NG" : "OK";
    }
    return o;
}

// Everything the radio hands over, with the checks that hold after every take.
struct Listener {
    RadioModel& radio;
    QByteArray output;

    void take(Micros now) {
        const bool wasHungUp = radio.hungUp();
        const QByteArray bytes = radio.takeOutput(now);
        check(!wasHungUp || bytes.isEmpty(), "bytes handed over after the cable was pulled");
        output += bytes;
        check(radio.bytesSent() == output.size(), "bytes handed over differ from the count sent");
        const auto next = radio.nextEventTime();
        check(!next || *next > now, "something due by now was left queued");
        check(!radio.hungUp() || !next, "a radio that hung up still has something to do");
    }
};

// Building a radio fills its 256 KB flash byte by byte, which under the fuzz
// instrumentation costs more than a whole exchange. A fresh radio is therefore a
// copy of one built before from the same option bytes; the copy shares the flash
// until it first writes to it.
RadioModel freshRadio(std::string_view optionBytes, const RadioOptions& o) {
    static std::map<std::string, RadioModel, std::less<>> built;
    auto it = built.find(optionBytes);
    if (it == built.end()) {
        if (built.size() >= 256)
            built.clear();
        it = built.emplace(std::string(optionBytes), RadioModel(o)).first;
    }
    return it->second;
}

bool isSubsequence(const QByteArray& part, const QByteArray& whole) {
    qsizetype at = 0;
    for (const char c : whole)
        if (at < part.size() && part[at] == c)
            ++at;
    return at == part.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const RadioOptions o = options(in);
    // The options are read from the back of the input.
    const std::size_t optionsAt = in.remaining_bytes();
    RadioModel radio = freshRadio(rqv5::fuzz::asText(data + optionsAt, size - optionsAt), o);
    Listener listener{radio, {}};

    QByteArray taken; // the bytes that arrived at the radio's rate
    Micros now = 0;
    while (in.remaining_bytes() > 0) {
        const auto op = in.ConsumeIntegral<std::uint8_t>();
        switch (op & 3) {
        case 1:
            now += in.ConsumeIntegralInRange<Micros>(0, 2'000);
            break;
        case 2:
            now += in.ConsumeIntegralInRange<Micros>(0, 200'000);
            break;
        case 3:
            now += in.ConsumeIntegralInRange<Micros>(0, 10'000'000);
            break;
        default:
            break;
        }
        if ((op & 0x0C) == 0x08) {
            listener.take(now);
            continue;
        }
        if ((op & 0x0C) == 0x0C) {
            if (const auto next = radio.nextEventTime())
                now = std::max(now, *next);
            listener.take(now);
            continue;
        }
        const int baud = rates[(op >> 4) & 7];
        const auto length = in.ConsumeIntegralInRange<std::size_t>(1, 1100);
        const std::string bytes = in.ConsumeBytesAsString(length);
        const bool wrongRate = o.onlyBaud > 0 && baud > 0 && baud != o.onlyBaud;
        if (!wrongRate && !radio.hungUp())
            taken += QByteArray::fromStdString(bytes);
        radio.receive(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), now, baud);
    }

    // Let time run until the radio has handed over everything it queued.
    while (const auto next = radio.nextEventTime()) {
        now = std::max(now, *next);
        listener.take(now);
    }

    check(radio.flash().size() == RadioModel::FlashSize, "the flash changed its size");
    int counted = 0;
    for (int k = 0; k < KindCount; ++k)
        counted += radio.count(static_cast<Kind>(k));
    check(counted == radio.messageCount(), "messages counted by kind differ from the messages kept");
    check(radio.rejected() >= radio.badCheckBytes(), "a bad check byte was not counted as rejected");

    const QByteArray& output = listener.output;
    if (o.silent) {
        check(output.isEmpty(), "a silent radio sent something");
    } else if (o.hangUpAfter == 0) {
        check(isSubsequence(taken, output), "the echo is not every byte taken, in order");
        if (o.echoOnly && o.garbage.isEmpty())
            check(output == taken, "an echo-only radio sent something besides the echo");
    }
    return 0;
}
