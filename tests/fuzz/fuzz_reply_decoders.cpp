// Both reply decoders on an arbitrary RxBuf at every index: every one inside the
// buffer, the first few before it and past its end, and the extremes of the
// 16-bit index.
//
// A decoder either gives one of its own codes or raises SubscriptError, and it
// raises exactly when a byte it has to look at lies outside RxBuf. It gives a
// code other than ReplyUnknown only when the reply's line ends stand where the
// reply's form puts them.

#include "fuzz_support.h"
#include "null_link.h"

#include <algorithm>
#include <array>
#include <limits>

using namespace rqv5;
using rqv5::fuzz::check;
using rqv5::fuzz::fail;

namespace {

constexpr std::array<ReplyCode, 9> statusCodes{ReplyOK, ReplyNG, ReplyED, ReplyCT,     ReplyBE,
                                               ReplyPG, ReplyRA, ReplyEE, ReplyUnknown};
constexpr std::array<ReplyCode, 8> framedCodes{ReplyOK,         ReplyNG,       ReplyUnknown,   ReplyPinOutLow,
                                               ReplyPinOutHigh, ReplyPinInLow, ReplyPinInHigh, ReplyRE};

template <std::size_t N>
bool oneOf(ReplyCode code, const std::array<ReplyCode, N>& codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

void decodeAt(const Link& link, int index) {
    const QByteArray& rx = link.RxBuf;
    const auto at = [&](int i) { return rx.at(i); };
    const auto i16 = static_cast<std::int16_t>(index);

    const bool statusInside = index >= 0 && index + 3 < rx.size();
    try {
        const ReplyCode code = link.DecodeStatusReply(i16);
        check(statusInside, "status reply decoded outside RxBuf");
        check(oneOf(code, statusCodes), "status decoder gave a code of its own");
        if (code != ReplyUnknown)
            check(at(index + 2) == '\r' && at(index + 3) == '\n', "status reply without CR LF accepted");
    } catch (const SubscriptError&) {
        check(!statusInside, "status decoder refused a reply inside RxBuf");
    } catch (...) {
        fail("status decoder raised something other than SubscriptError");
    }

    const bool framedInside = index >= 0 && index + 5 < rx.size();
    try {
        const ReplyCode code = link.DecodeFramedReply(i16);
        check(framedInside, "framed reply decoded outside RxBuf");
        check(oneOf(code, framedCodes), "framed decoder gave a code of its own");
        if (code != ReplyUnknown)
            check(at(index) == '\r' && at(index + 1) == '\n' && at(index + 4) == '\r' &&
                      at(index + 5) == '\n',
                  "framed reply without its line ends accepted");
    } catch (const SubscriptError&) {
        check(!framedInside, "framed decoder refused a reply inside RxBuf");
    } catch (...) {
        fail("framed decoder raised something other than SubscriptError");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Indices are 16-bit: a longer buffer cannot be reached at every index.
    if (size > std::size_t{std::numeric_limits<std::int16_t>::max()})
        return -1;
    static fuzz::NullLink null;
    Link& link = null.link;
    link.RxBuf = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray received = link.RxBuf;

    // Every index inside the buffer and a few on either side; raising an
    // exception is slow under the sanitizers, so not many more.
    const int n = static_cast<int>(size);
    for (int index = -3; index <= n + 3; ++index)
        decodeAt(link, index);
    constexpr int min = std::numeric_limits<std::int16_t>::min();
    constexpr int max = std::numeric_limits<std::int16_t>::max();
    for (const int index : {min, min + 1, max - 5, max - 3, max})
        decodeAt(link, index);
    check(link.RxBuf == received, "decoding changed RxBuf");
    return 0;
}
