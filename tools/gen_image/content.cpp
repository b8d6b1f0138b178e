#include "content.h"

#include "rng.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace rqv5::gen {

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the code of one area may refer to.
struct Context {
    std::vector<std::uint32_t> callTargets; // entry points of code modules
    std::vector<std::uint16_t> ramVariables;
    std::vector<std::uint16_t> ioRegisters;
};

void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put24(Bytes& out, std::uint32_t v) {
    put16(out, v);
    out.push_back(static_cast<std::uint8_t>(v >> 16));
}

void putText(Bytes& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

std::uint8_t bcd(std::uint32_t twoDigits) {
    return static_cast<std::uint8_t>((twoDigits / 10) << 4 | twoDigits % 10);
}

// Appends as much of `piece` as still fits into a module of `length` bytes.
void appendClipped(Bytes& out, const Bytes& piece, std::size_t length) {
    const std::size_t n = std::min(piece.size(), length - out.size());
    out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
}

// ---- code ------------------------------------------------------------------
//
// The controller is a 16-bit CISC part with 8-bit opcodes. The generator does not
// need real programs, only bytes with the texture of compiled code: short
// register moves, loads and stores to RAM variables, compares followed by
// conditional branches, calls to other functions, bit operations on I/O
// registers, and functions framed by enter/exit and ending in a return.

enum class Operand { Reg, RegPair, Imm8, Imm16, Ram, Io, Rel8, Far, Bit };

struct OpShape {
    std::uint8_t firstOpcode;
    std::uint8_t opcodeSpan; // opcodes firstOpcode .. firstOpcode + span - 1
    std::vector<Operand> operands;
    std::uint32_t weight;
};

const std::vector<OpShape>& opShapes() {
    static const std::vector<OpShape> shapes = {
        {0x73, 1, {Operand::RegPair}, 14},           // move register to register
        {0x74, 1, {Operand::Reg, Operand::Imm8}, 9}, // move immediate
        {0x75, 1, {Operand::Reg, Operand::Imm16}, 5},
        {0x72, 1, {Operand::Reg, Operand::Ram}, 16}, // load from RAM
        {0x7A, 1, {Operand::Reg, Operand::Ram}, 10}, // store to RAM
        {0xA0, 8, {Operand::RegPair}, 9},            // add, sub, and, or, xor, cmp, adc, sbb
        {0x77, 1, {Operand::Reg, Operand::Imm8}, 8}, // add immediate
        {0x79, 1, {Operand::Reg, Operand::Imm8}, 8}, // compare immediate
        {0x68, 8, {Operand::Rel8}, 14},              // conditional branches
        {0xFE, 1, {Operand::Rel8}, 4},               // short jump
        {0xFD, 1, {Operand::Far}, 9},                // call
        {0x7E, 1, {Operand::Bit, Operand::Io}, 6},   // bit set / clear / test
        {0x8D, 1, {Operand::Reg, Operand::Io}, 4},   // write I/O register
        {0xEC, 2, {Operand::Imm8}, 3},               // push / pop register set
        {0xB0, 16, {}, 6},                           // increment, decrement, shifts
        {0x04, 1, {}, 1},                            // no operation
    };
    return shapes;
}

Bytes instruction(Rng& rng, const Context& ctx) {
    const auto& shapes = opShapes();
    std::uint32_t total = 0;
    for (const auto& s : shapes)
        total += s.weight;
    std::uint32_t pick = rng.below(total);
    const OpShape* shape = &shapes.front();
    for (const auto& s : shapes) {
        if (pick < s.weight) {
            shape = &s;
            break;
        }
        pick -= s.weight;
    }

    Bytes out{static_cast<std::uint8_t>(shape->firstOpcode + rng.below(shape->opcodeSpan))};
    for (Operand op : shape->operands) {
        switch (op) {
        case Operand::Reg:
            out.push_back(static_cast<std::uint8_t>(rng.below(4) << 4 | rng.below(8)));
            break;
        case Operand::RegPair:
            out.push_back(static_cast<std::uint8_t>(rng.below(8) << 4 | rng.below(8)));
            break;
        case Operand::Imm8:
            out.push_back(static_cast<std::uint8_t>(rng.chance(70) ? rng.below(0x40) : rng.below(0xFF)));
            break;
        case Operand::Imm16:
            put16(out, rng.chance(60) ? rng.below(0x400) : rng.below(0xFFFF));
            break;
        case Operand::Ram:
            put16(out, rng.pick(ctx.ramVariables));
            break;
        case Operand::Io:
            put16(out, rng.pick(ctx.ioRegisters));
            break;
        case Operand::Rel8:
            out.push_back(
                static_cast<std::uint8_t>(rng.chance(75) ? rng.between(2, 0x3C) : rng.between(0xA0, 0xF8)));
            break;
        case Operand::Far:
            put24(out, rng.pick(ctx.callTargets));
            break;
        case Operand::Bit:
            out.push_back(static_cast<std::uint8_t>(rng.below(3) << 4 | rng.below(8)));
            break;
        }
    }
    return out;
}

constexpr std::uint8_t Nop = 0x04;
constexpr std::uint8_t Return = 0xF3;

Bytes code(std::size_t length, Rng& rng, const Context& ctx) {
    Bytes out;
    while (out.size() < length) {
        const std::size_t room = length - out.size();
        if (room <= 3) {
            out.insert(out.end(), room - 1, Nop);
            out.push_back(Return);
            break;
        }
        const bool frame = room >= 8 && rng.chance(60);
        if (frame) {
            out.push_back(0x7C); // enter, with the size of the local frame
            out.push_back(0xF2);
            out.push_back(static_cast<std::uint8_t>(2 * rng.between(1, 12)));
        }
        const std::size_t reserve = frame ? 3 : 1;
        const std::uint32_t body = rng.between(3, 40);
        for (std::uint32_t i = 0; i < body; ++i) {
            const Bytes ins = instruction(rng, ctx);
            if (out.size() + ins.size() + reserve > length)
                break;
            out.insert(out.end(), ins.begin(), ins.end());
        }
        if (frame) {
            out.push_back(0x7D); // exit
            out.push_back(0xF2);
        }
        out.push_back(Return);
    }
    return out;
}

// ---- texts -----------------------------------------------------------------

const std::vector<std::string_view>& menuTexts() {
    static const std::vector<std::string_view> texts = {
        "RQ-V5",      "Ver 5.000", "MEMORY",    "SCAN",     "SQL",        "VOL",      "BATT LOW",
        "LOCK",       "TONE",      "DCS",       "CTCSS",    "DUPLEX",     "SHIFT",    "STEP",
        "POWER HI",   "POWER LO",  "BEEP ON",   "BEEP OFF", "LAMP",       "APO",      "TOT",
        "BCLO",       "VFO",       "MR",        "CALL",     "WX",         "PRIORITY", "DUAL WATCH",
        "KEY LOCK",   "RESET?",    "ALL RESET", "SET MODE", "CH",         "BANK",     "SKIP",
        "NAME",       "OFFSET",    "REVERSE",   "ATT",      "SAVE",       "RX SAVE",  "TX INHIBIT",
        "BUSY",       "ERROR",     "ROM ERR",   "RAM ERR",  "PLL UNLOCK", "CLONE",    "CLONE OK",
        "CLONE ERR",  "WAIT",      "OK",        "NG",       "ON",         "OFF",      "AUTO",
        "MANUAL",     "WIDE",      "NARROW",    "AM",       "FM",         "NFM",      "DIAL",
        "MONI",       "FUNC",      "ENT",       "CLR",      "HI",         "MID",      "LOW",
        "EXT DC",     "CHARGE",    "FULL",      "PAGER",    "CODE",       "SELECT",   "-----",
        "DTMF",       "AUTO DIAL", "DELAY",     "SPEED",    "ARTS",       "IN RANGE", "OUT RANGE",
        "SMART SRCH", "RF SQL",    "S-METER",   "BELL",     "LCD CONT",   "DIMMER",   "MIC GAIN",
        "VOX",        "VOX DELAY", "EMERGENCY", "PASSWORD", "LAST CH",
    };
    return texts;
}

Bytes strings(std::size_t length, Rng& rng) {
    Bytes out;
    while (out.size() < length) {
        Bytes piece;
        const std::string_view text = rng.pick(menuTexts());
        if (rng.chance(40)) {
            // a fixed-width field of the 8-character display
            putText(piece, text.substr(0, 8));
            piece.insert(piece.end(), 8 - std::min<std::size_t>(8, text.size()), ' ');
        } else {
            putText(piece, text);
            piece.push_back(0x00);
        }
        if (out.size() + piece.size() > length) {
            out.insert(out.end(), length - out.size(), 0x00);
            break;
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

// ---- tables ----------------------------------------------------------------

// Sub-audible squelch tones in tenths of a hertz.
constexpr std::uint16_t toneTable[] = {
    670,  693,  719,  744,  770,  797,  825,  854,  885,  915,  948,  974,  1000, 1035, 1072, 1109, 1148,
    1188, 1230, 1273, 1318, 1365, 1413, 1462, 1514, 1567, 1598, 1622, 1655, 1679, 1713, 1738, 1773, 1799,
    1835, 1862, 1899, 1928, 1966, 1995, 2035, 2065, 2107, 2181, 2257, 2291, 2336, 2418, 2503, 2541};

// Digital squelch codes, written in octal as they appear on the display.
constexpr std::uint16_t codeTable[] = {
    023,  025,  026,  031,  032,  036,  043,  047,  051,  053,  054,  065,  071,  072,  073,
    074,  0114, 0115, 0116, 0122, 0125, 0131, 0132, 0134, 0143, 0145, 0152, 0155, 0156, 0162,
    0165, 0172, 0174, 0205, 0212, 0223, 0225, 0226, 0243, 0244, 0245, 0246, 0251, 0252, 0255,
    0261, 0263, 0265, 0266, 0271, 0274, 0306, 0311, 0315, 0325, 0331, 0332, 0343, 0346, 0351,
    0356, 0364, 0365, 0371, 0411, 0412, 0413, 0423, 0431, 0432, 0445, 0446, 0452, 0454, 0455,
    0462, 0464, 0465, 0466, 0503, 0506, 0516, 0523, 0526, 0532, 0546, 0565, 0606, 0612, 0624,
    0627, 0631, 0632, 0654, 0662, 0664, 0703, 0712, 0723, 0731, 0732, 0734, 0743, 0754};

// Channel steps in units of 10 Hz.
constexpr std::uint16_t stepTable[] = {500, 625, 833, 1000, 1250, 1500, 2000, 2500, 5000, 10000};

Bytes wordTable(const std::uint16_t* first, std::size_t n) {
    Bytes out;
    for (std::size_t i = 0; i < n; ++i)
        put16(out, first[i]);
    return out;
}

// Memory channels as packed decimal MHz: 4 bytes, 100 Hz resolution.
Bytes channelTable(Rng& rng) {
    Bytes out;
    const std::uint32_t n = rng.between(8, 48);
    for (std::uint32_t i = 0; i < n; ++i) {
        const bool uhf = rng.chance(45);
        // in 12.5 kHz steps within 136..174 or 400..470 MHz, as 100 Hz units
        const std::uint32_t base = uhf ? 4000000 : 1360000;
        const std::uint32_t span = uhf ? 5600 : 3040;
        const std::uint32_t f = base + 125 * rng.below(span);
        out.push_back(bcd(f / 1000000));
        out.push_back(bcd(f / 10000 % 100));
        out.push_back(bcd(f / 100 % 100));
        out.push_back(bcd(f % 100));
    }
    return out;
}

// Handlers indexed by key code or menu item: 24-bit addresses, padded to 4 bytes.
Bytes jumpTable(Rng& rng, const Context& ctx) {
    Bytes out;
    const std::uint32_t n = rng.between(6, 32);
    for (std::uint32_t i = 0; i < n; ++i) {
        put24(out, rng.pick(ctx.callTargets));
        out.push_back(0x00);
    }
    return out;
}

// Volume and backlight curves: rising squares, never quite full scale.
Bytes curveTable(Rng& rng) {
    Bytes out;
    const std::uint32_t n = rng.between(16, 64);
    const std::uint32_t top = rng.between(0x80, 0xF0);
    for (std::uint32_t i = 0; i < n; ++i)
        out.push_back(static_cast<std::uint8_t>(top * i * i / ((n - 1) * (n - 1))));
    return out;
}

// One cycle of the beep tone, from two parabolas: integer-only so that every
// machine computes the same bytes.
Bytes beepWave() {
    Bytes out;
    constexpr int n = 64;
    for (int i = 0; i < n; ++i) {
        const int x = i % (n / 2);
        const int hump = 4 * 127 * x * (n / 2 - x) / ((n / 2) * (n / 2));
        out.push_back(static_cast<std::uint8_t>(i < n / 2 ? 128 + hump : 128 - hump));
    }
    return out;
}

// The CRC-16 (polynomial 0x1021) table of the clone and flash-loading checks.
Bytes crcTable() {
    Bytes out;
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i << 8;
        for (int k = 0; k < 8; ++k)
            c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        put16(out, c & 0xFFFF);
    }
    return out;
}

Bytes tables(std::size_t length, Rng& rng, const Context& ctx) {
    Bytes out;
    while (out.size() < length) {
        switch (rng.below(8)) {
        case 0:
            appendClipped(out, wordTable(toneTable, std::size(toneTable)), length);
            break;
        case 1:
            appendClipped(out, wordTable(codeTable, std::size(codeTable)), length);
            break;
        case 2:
            appendClipped(out, wordTable(stepTable, std::size(stepTable)), length);
            break;
        case 3:
            appendClipped(out, channelTable(rng), length);
            break;
        case 4:
            appendClipped(out, jumpTable(rng, ctx), length);
            break;
        case 5:
            appendClipped(out, curveTable(rng), length);
            break;
        case 6:
            appendClipped(out, beepWave(), length);
            break;
        default:
            appendClipped(out, rng.chance(20) ? crcTable() : jumpTable(rng, ctx), length);
            break;
        }
    }
    return out;
}

// ---- display font ----------------------------------------------------------

// 8 x 8 dot characters: blank top row, strokes made of mirrored nibbles, blank
// bottom row, as a dot-matrix font looks in a dump.
Bytes glyphs(std::size_t length, Rng& rng) {
    Bytes out;
    while (out.size() < length) {
        Bytes glyph{0x00};
        std::uint8_t stroke = static_cast<std::uint8_t>(rng.between(1, 15));
        for (int row = 1; row < 7; ++row) {
            if (rng.chance(45))
                stroke = static_cast<std::uint8_t>(rng.between(1, 15));
            std::uint8_t mirrored = 0;
            for (int b = 0; b < 4; ++b)
                mirrored = static_cast<std::uint8_t>(mirrored | ((stroke >> b) & 1) << (3 - b));
            glyph.push_back(
                static_cast<std::uint8_t>((rng.chance(50) ? stroke << 4 | mirrored : stroke << 2) & 0x7E));
        }
        glyph.push_back(0x00);
        appendClipped(out, glyph, length);
    }
    return out;
}

// ---- fixed areas -----------------------------------------------------------

Bytes header(std::size_t length, Rng& rng, const Context& ctx) {
    Bytes out;
    for (std::string_view s : {"RQ-V5", "Ver 5.000", "MAIN PROGRAM"}) {
        putText(out, s);
        out.push_back(0x00);
    }
    out.resize(std::min<std::size_t>(32, length), 0x00);
    const Bytes rest = code(length - out.size(), rng, ctx);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

Bytes defaults(Rng& rng) {
    Bytes out = {0x05, 0x03, 0x08, 0x01, 0x00, 0x02, 0x00, 0x01,
                 0x03, 0x0A, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00};
    const Bytes channels = channelTable(rng);
    appendClipped(out, channels, 64);
    while (out.size() < 64)
        out.push_back(0x00);
    while (out.size() < 128)
        out.push_back(static_cast<std::uint8_t>(rng.below(static_cast<std::uint32_t>(std::size(toneTable)))));
    for (int ch = 1; ch <= 16; ++ch) {
        const char name[] = {
            'C', 'H', '-', static_cast<char>('0' + ch / 10), static_cast<char>('0' + ch % 10), ' ', ' ', ' '};
        out.insert(out.end(), name, name + 8);
    }
    return out;
}

Bytes bootLoader(std::size_t length, Rng& rng, const Context& ctx) {
    Bytes texts;
    for (std::string_view s : {"QZ~FLASH", "OK", "CT", "BE", "PG", "ED", "NG", "RQ-V5 BOOT"}) {
        putText(texts, s);
        texts.push_back(0x00);
    }
    Bytes out = code(length - texts.size(), rng, ctx);
    out.insert(out.end(), texts.begin(), texts.end());
    return out;
}

Bytes vectors(std::uint32_t interruptEntry, std::uint32_t faultEntry, std::uint32_t resetEntry) {
    Bytes out;
    // undefined instruction, overflow, break, address match, single step,
    // watchdog, debugger, non-maskable interrupt, reset
    const std::uint32_t targets[] = {faultEntry, faultEntry, faultEntry,     faultEntry, faultEntry,
                                     faultEntry, faultEntry, interruptEntry, resetEntry};
    for (std::uint32_t t : targets) {
        put24(out, t);
        out.push_back(0x00);
    }
    return out;
}

constexpr std::uint32_t Base = shape::FlashStart;

} // namespace

std::vector<std::uint8_t> fillImage(const std::vector<Module>& modules, std::uint64_t seed) {
    Rng rng(seed);

    // Decide first what each module of the main program and the data area holds,
    // so that code can call any function and jump tables can point at them.
    enum class Kind { Header, Code, Texts, Tables, Font, Fixed };
    std::vector<Kind> kinds;
    Context mainCtx;
    for (const auto& m : modules) {
        Kind k = Kind::Fixed;
        if (m.area == Area::Main) {
            const std::uint32_t r = rng.below(100);
            k = m.start == Base ? Kind::Header : r < 75 ? Kind::Code : r < 83 ? Kind::Texts : Kind::Tables;
        } else if (m.area == Area::Data) {
            const std::uint32_t r = rng.below(100);
            k = r < 30 ? Kind::Font : r < 60 ? Kind::Texts : r < 90 ? Kind::Tables : Kind::Code;
        }
        if (k == Kind::Code || (k == Kind::Header && m.length > 64))
            mainCtx.callTargets.push_back(k == Kind::Header ? m.start + 32 : m.start);
        kinds.push_back(k);
    }
    if (mainCtx.callTargets.empty())
        throw std::logic_error("content: no code module");
    for (int i = 0; i < 240; ++i)
        mainCtx.ramVariables.push_back(static_cast<std::uint16_t>(0x0400 + 2 * rng.below(0x1400)));
    for (int i = 0; i < 48; ++i)
        mainCtx.ioRegisters.push_back(static_cast<std::uint16_t>(0x0300 + rng.below(0x100)));

    Context bootCtx = mainCtx;
    bootCtx.callTargets = {0xFF000, 0xFF022};

    std::vector<std::uint8_t> flash(shape::FlashEnd - Base, 0xFF);
    std::vector<bool> covered(flash.size(), false);
    std::uint32_t checksumAt = 0;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const Module& m = modules[i];
        Bytes bytes;
        switch (kinds[i]) {
        case Kind::Header:
            bytes = header(m.length, rng, mainCtx);
            break;
        case Kind::Code:
            bytes = code(m.length, rng, mainCtx);
            break;
        case Kind::Texts:
            bytes = strings(m.length, rng);
            break;
        case Kind::Tables:
            bytes = tables(m.length, rng, mainCtx);
            break;
        case Kind::Font:
            bytes = glyphs(m.length, rng);
            break;
        case Kind::Fixed:
            switch (m.area) {
            case Area::Defaults:
                bytes = defaults(rng);
                break;
            case Area::ModelName:
                bytes = {'R', 'Q', '-', 'V', '5', ' ', 'S', 'E', 'R', 'I', 'E', 'S', 0x00};
                break;
            case Area::BandLimits: // 136, 174 and 400 MHz in packed decimal
                bytes = {0x01, 0x36, 0x00, 0x00, 0x01, 0x74, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
                break;
            case Area::Version:
                bytes = {'V', 'e', 'r', ' ', '5', '.', '0', '0', '0'};
                break;
            case Area::Checksum:
                checksumAt = m.start - Base;
                bytes.assign(4, 0x00);
                break;
            case Area::BootEntry:
                bytes = code(m.length, rng, bootCtx);
                break;
            case Area::Boot:
                bytes = bootLoader(m.length, rng, bootCtx);
                break;
            case Area::IdCode:
                bytes = {0x3A, 0x7C, 0x15, 0xE2};
                break;
            case Area::Vectors:
                bytes = vectors(mainCtx.callTargets[1 % mainCtx.callTargets.size()],
                                mainCtx.callTargets.front(), 0xFF000);
                break;
            default:
                throw std::logic_error("content: module of unknown area");
            }
            break;
        }
        if (bytes.size() != m.length)
            throw std::logic_error("content: module filled to the wrong length");
        std::copy(bytes.begin(), bytes.end(), flash.begin() + (m.start - Base));
        std::fill(covered.begin() + (m.start - Base), covered.begin() + (m.start - Base + m.length), true);
    }

    // The flash writer programs only rows holding something other than 0xFF, so
    // a row the records touch must not be all 0xFF, or it would be left erased.
    for (std::size_t row = 0; row < flash.size(); row += 16) {
        bool touched = false;
        bool blank = true;
        for (std::size_t i = row; i < row + 16; ++i) {
            touched = touched || covered[i];
            blank = blank && (!covered[i] || flash[i] == 0xFF);
        }
        if (touched && blank) {
            const auto first = static_cast<std::size_t>(
                std::find(covered.begin() + static_cast<std::ptrdiff_t>(row), covered.end(), true) -
                covered.begin());
            flash[first] = 0x00;
        }
    }

    // The identification block carries the byte sum of the main program.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < flash.size(); ++i) {
        if (covered[i] && i + Base < 0xF8000)
            sum += flash[i];
    }
    for (int b = 0; b < 4; ++b)
        flash[checksumAt + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(sum >> (8 * b));
    return flash;
}

} // namespace rqv5::gen
