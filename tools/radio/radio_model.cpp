#include "radio_model.h"

#include <QFile>
#include <algorithm>

namespace rqv5::sim {

namespace {

constexpr std::array<const char*, KindCount> kindNames{"identify", "connect", "pin",    "be",
                                                       "pg",       "ed",      "legacy", "unknown"};

// The flash blocks an erase list can name; each is named by its highest even
// address. The last one is the boot block.
struct Block {
    std::uint32_t first;
    std::uint32_t last;
};
constexpr std::array<Block, 9> blocks{{{0xC0000, 0xCFFFF},
                                       {0xD0000, 0xDFFFF},
                                       {0xE0000, 0xEFFFF},
                                       {0xF0000, 0xF7FFF},
                                       {0xF8000, 0xF9FFF},
                                       {0xFA000, 0xFBFFF},
                                       {0xFC000, 0xFDFFF},
                                       {0xFE000, 0xFEFFF},
                                       {0xFF000, 0xFFFFF}}};

// A text command never gets longer than this; anything longer is line noise.
constexpr int MaxTextLength = 64;

std::uint32_t bigEndian(const QByteArray& bytes, int at, int length) {
    std::uint32_t value = 0;
    for (int i = 0; i < length; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

bool opensWith(const QByteArray& bytes, QByteArrayView lead) {
    const auto n = std::min<qsizetype>(bytes.size(), lead.size());
    return QByteArrayView(bytes).first(n) == lead.first(n);
}

const QByteArray legacyErase = QByteArray::fromHex("01010d0a");
const QByteArray legacyEnd = QByteArray::fromHex("00000d0a");

} // namespace

QByteArray kindName(Kind kind) {
    return kindNames[static_cast<int>(kind)];
}

std::optional<Kind> kindFromName(QByteArrayView name) {
    for (int i = 0; i < KindCount; ++i) {
        if (name.compare(QByteArrayView(kindNames[i]), Qt::CaseInsensitive) == 0)
            return static_cast<Kind>(i);
    }
    return std::nullopt;
}

RadioModel::RadioModel(RadioOptions options)
    : options_(std::move(options)), schedule_(options_.pacing), flash_(initialFlash()) {}

QByteArray RadioModel::initialFlash() {
    QByteArray flash(FlashSize, '\0');
    // Bit 7 stays clear, so no byte reads as erased.
    for (std::uint32_t i = 0; i < FlashSize; ++i)
        flash[i] = static_cast<char>((i ^ (i >> 7) ^ (i >> 14)) & 0x7F);
    return flash;
}

void RadioModel::receive(QByteArrayView bytes, Micros now, int senderBaud) {
    if (bytes.empty())
        return;
    const bool wrongRate = options_.onlyBaud > 0 && senderBaud > 0 && senderBaud != options_.onlyBaud;
    if (hungUp_ || hangUpQueued_ || wrongRate) {
        bytesIgnored_ += bytes.size();
        return;
    }
    if (lastReceived_ && schedule_.empty()) {
        const Micros waited = now - std::max(schedule_.drainedAt().value_or(*lastReceived_), *lastReceived_);
        idle_ += waited;
        ++idleCount_;
        idleMax_ = std::max(idleMax_, waited);
        ++idleSteps_[static_cast<std::size_t>(std::clamp<Micros>(waited / 10, 0, idleSteps_.size() - 1))];
    }
    lastReceived_ = now;
    bytesReceived_ += bytes.size();
    for (const char byte : bytes) {
        if (hangUpQueued_) {
            ++bytesIgnored_;
            continue;
        }
        takeByte(byte, now);
    }
    flushEcho(now);
}

Micros RadioModel::idlePercentile(double share) const {
    const double wanted = share * idleCount_;
    int seen = 0;
    for (std::size_t step = 0; step < idleSteps_.size(); ++step) {
        seen += idleSteps_[step];
        if (seen > 0 && seen >= wanted)
            return static_cast<Micros>(step + 1) * 10;
    }
    return 0;
}

std::optional<Micros> RadioModel::nextEventTime() const {
    if (hungUp_)
        return std::nullopt;
    return schedule_.nextEventTime();
}

QByteArray RadioModel::takeOutput(Micros now) {
    if (hungUp_)
        return {};
    auto handover = schedule_.takeDue(now);
    if (handover.hangUp)
        hungUp_ = true;
    return handover.bytes;
}

RadioModel::Shape RadioModel::shape() const {
    if (opensWith(partial_, "\xFF\xFE"))
        return partial_.size() < 2 ? Shape::Undecided : Shape::Packet;
    if (opensWith(partial_, "QZ~"))
        return partial_.size() < 3 ? Shape::Undecided : Shape::Text;
    if (mode_ == Mode::LegacyFL && opensWith(partial_, "CL~"))
        return partial_.size() < 3 ? Shape::Undecided : Shape::FrameFL;
    return mode_ == Mode::LegacyE ? Shape::FrameE : Shape::Text;
}

void RadioModel::takeByte(char byte, Micros now) {
    if (partial_.isEmpty()) {
        ++messagesStarted_;
        const bool garbageDue = options_.garbageFirst == 0 || messagesStarted_ <= options_.garbageFirst;
        if (!options_.silent && !options_.garbage.isEmpty() && garbageDue) {
            flushEcho(now);
            schedule_.send(options_.garbage, now);
        }
    }
    if (!options_.silent)
        echo_.append(byte);
    partial_.append(byte);

    const Shape shape = this->shape();
    bool complete = false;
    switch (shape) {
    case Shape::Undecided:
        return;
    case Shape::Packet:
        complete = partial_.size() == PacketSize;
        break;
    case Shape::FrameE:
        complete = partial_.size() == FrameSize;
        break;
    case Shape::FrameFL:
        complete = partial_.size() == FrameSize + 3;
        break;
    case Shape::Text: {
        const auto b = static_cast<std::uint8_t>(byte);
        if (b == '\r') {
            complete = true;
            break;
        }
        // A control byte or an overlong line cannot be a command: drop what came
        // so far. 0xFF may open a packet, so it starts the next message.
        if (b < 0x20 || b >= 0x7F || partial_.size() > MaxTextLength) {
            const bool restart = b == 0xFF;
            QByteArray junk = std::exchange(partial_, {});
            if (restart) {
                junk.chop(1);
                partial_.append(byte);
            }
            if (!junk.isEmpty())
                handle(Kind::Unknown, junk, now);
        }
        break;
    }
    }
    if (complete) {
        const QByteArray message = std::exchange(partial_, {});
        handle(kindOf(message, shape), message, now);
    }
}

Kind RadioModel::kindOf(const QByteArray& body, Shape shape) {
    switch (shape) {
    case Shape::Packet: {
        const QByteArray letters = body.mid(2, 2);
        if (letters == "BE")
            return Kind::BE;
        if (letters == "PG")
            return Kind::PG;
        if (letters == "ED")
            return Kind::ED;
        return Kind::Unknown;
    }
    case Shape::FrameE:
    case Shape::FrameFL:
        return Kind::Legacy;
    default:
        break;
    }
    if (body == "QZ~RQ-V5\r")
        return Kind::Identify;
    if (body == "QZ~FLASH\r" || body == "QZ~E\r" || body == "FL\r")
        return Kind::Connect;
    if (body.startsWith("QZ~P"))
        return Kind::Pin;
    return Kind::Unknown;
}

RadioModel::Form RadioModel::formOf(Kind kind, const QByteArray& body) {
    switch (kind) {
    case Kind::Identify:
    case Kind::Pin:
        return Form::Framed;
    case Kind::Connect:
        return body == "QZ~FLASH\r" ? Form::Status : Form::Legacy;
    case Kind::BE:
    case Kind::PG:
    case Kind::ED:
        return Form::Status;
    case Kind::Legacy:
        return Form::Legacy;
    case Kind::Unknown:
        break;
    }
    return body.startsWith("\xFF\xFE") ? Form::Status : Form::None;
}

QByteArray RadioModel::render(const Answer& answer) {
    switch (answer.form) {
    case Form::None:
        return {};
    case Form::Status:
        return answer.code + "\r\n";
    case Form::Framed:
        return "\r\n" + answer.code + "\r\n";
    case Form::Legacy:
        return answer.code + "\r\n" + QByteArray(FrameSize - 4, '\0');
    case Form::Raw:
        break;
    }
    return answer.code;
}

void RadioModel::handle(Kind kind, const QByteArray& body, Micros now) {
    const int nth = ++counts_[static_cast<int>(kind)];
    messages_.append({kind, body, now});
    flushEcho(now); // the echo of the whole message goes out ahead of the answer

    const bool hangUp = options_.hangUpAfter > 0 &&
                        (options_.hangUpKind ? kind == *options_.hangUpKind && nth == options_.hangUpAfter
                                             : messageCount() == options_.hangUpAfter);
    hangUpQueued_ = hangUpQueued_ || hangUp;

    const KindFaults& faults = options_.faultsFor(kind);
    QByteArray answer;
    if (!options_.silent && !options_.echoOnly) {
        Answer a;
        if (nth <= faults.ngFirst) {
            a = {formOf(kind, body), "NG"};
        } else {
            a = act(kind, body);
            if (faults.okInstead && a.form != Form::None && a.code != "NG")
                a = {a.form == Form::Raw ? Form::Legacy : a.form, "OK"};
        }
        answer = faults.reply.value_or(render(a));
    }
    const bool late = faults.lateFirst == 0 || nth <= faults.lateFirst;
    schedule_.send(answer, now + faults.processing + (late ? faults.late : 0), hangUp);
}

RadioModel::Answer RadioModel::act(Kind kind, const QByteArray& body) {
    switch (kind) {
    case Kind::Identify:
        return {Form::Framed, options_.identifyCode};
    case Kind::Connect:
        if (body == "QZ~FLASH\r") {
            mode_ = Mode::Command;
            return {Form::Status, options_.connectCode};
        }
        mode_ = body == "FL\r" ? Mode::LegacyFL : Mode::LegacyE;
        pendingRowAddress_.reset();
        return {Form::Legacy, options_.legacyConnectCode};
    case Kind::Pin:
        return answerPin(QByteArrayView(body).sliced(4).chopped(1));
    case Kind::BE:
    case Kind::PG:
    case Kind::ED:
        return answerPacket(body);
    case Kind::Legacy:
        return answerLegacy(QByteArrayView(body).last(FrameSize));
    case Kind::Unknown:
        break;
    }
    if (body.startsWith("\xFF\xFE"))
        return answerPacket(body);
    return {};
}

RadioModel::Answer RadioModel::answerPacket(const QByteArray& packet) {
    std::uint32_t sum = 0;
    for (int i = 2; i < PacketSize - 1; ++i)
        sum += static_cast<std::uint8_t>(packet[i]);
    if ((sum & 0xFF) != static_cast<std::uint8_t>(packet[PacketSize - 1])) {
        ++badCheckBytes_;
        ++rejected_;
        return {Form::Status, "NG"};
    }
    const QByteArray letters = packet.mid(2, 2);
    bool done = false;
    if (letters == "BE")
        done = eraseBlocks(packet);
    else if (letters == "PG")
        done = program(bigEndian(packet, 4, 3), QByteArrayView(packet).sliced(7, 1024));
    else if (letters == "ED")
        done = true;
    if (!done) {
        ++rejected_;
        return {Form::Status, "NG"};
    }
    return {Form::Status, letters};
}

bool RadioModel::eraseBlocks(const QByteArray& packet) {
    // Entries fill the payload (bytes 4..1030) four bytes at a time; FF FF FF FF
    // or the end of the payload closes the list. An entry must name a block
    // exactly, else nothing is erased.
    QList<const Block*> listed;
    for (int at = 4; at + 4 <= PacketSize - 1; at += 4) {
        const std::uint32_t entry = bigEndian(packet, at, 4);
        if (entry == 0xFFFFFFFF)
            break;
        const auto block = std::find_if(blocks.begin(), blocks.end(),
                                        [entry](const Block& b) { return b.last - 1 == entry; });
        if (block == blocks.end())
            return false;
        listed.append(block);
    }
    for (const Block* block : listed) {
        eraseBlock(block->first, block->last);
        erasedBlocks_.append(block->last - 1);
    }
    return true;
}

void RadioModel::eraseBlock(std::uint32_t first, std::uint32_t last) {
    std::fill(flash_.begin() + (first - FlashBase), flash_.begin() + (last - FlashBase + 1), '\xFF');
}

bool RadioModel::program(std::uint32_t address, QByteArrayView data) {
    if (address < FlashBase || address + data.size() > FlashBase + FlashSize)
        return false;
    const std::uint32_t offset = address - FlashBase;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto old = static_cast<std::uint8_t>(flash_[offset + i]);
        const auto written = static_cast<std::uint8_t>(data[i]);
        if (old != 0xFF && written != 0xFF)
            ++unerasedWrites_;
        flash_[offset + i] = static_cast<char>(old & written);
    }
    return true;
}

// The row-by-row modes: a row frame (row address in bytes 0..1, 16 data bytes)
// is sent back as received and held until the program acknowledges it with an
// "OK" frame or rejects it with an "NG" frame. The 16-bit address is an offset
// into the flash from 0xC0000. Erase clears everything but the boot block; the
// end frame returns to command mode. Either is answered with its code from the
// options, and acted on only when that code is "OK".
RadioModel::Answer RadioModel::answerLegacy(QByteArrayView frame) {
    const QByteArrayView head = frame.first(4);
    if (head == legacyErase) {
        if (options_.legacyEraseCode == "OK") {
            for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
                eraseBlock(blocks[i].first, blocks[i].last);
        }
        pendingRowAddress_.reset();
        return {Form::Legacy, options_.legacyEraseCode};
    }
    if (head == legacyEnd) {
        if (options_.legacyEndCode == "OK")
            mode_ = Mode::Command;
        pendingRowAddress_.reset();
        return {Form::Legacy, options_.legacyEndCode};
    }
    if (head == "OK\r\n") {
        if (!pendingRowAddress_) {
            ++rejected_;
            return {Form::Legacy, "NG"};
        }
        program(*pendingRowAddress_, pendingRow_);
        pendingRowAddress_.reset();
        return {Form::Legacy, "OK"};
    }
    if (head == "NG\r\n") {
        pendingRowAddress_.reset();
        return {Form::Legacy, "OK"};
    }
    pendingRowAddress_ =
        FlashBase + (static_cast<std::uint8_t>(frame[0]) << 8 | static_cast<std::uint8_t>(frame[1]));
    pendingRow_ = frame.sliced(2, 16).toByteArray();
    return {Form::Raw, frame.toByteArray()};
}

// Pins are named by two decimal digits. Action 0 drives low, 1 drives high,
// 2 makes the pin an input, 3 reads it: "00"/"01" for an output, "02"/"03" for
// an input.
RadioModel::Answer RadioModel::answerPin(QByteArrayView args) {
    if (args.size() != 3)
        return {Form::Framed, "NG"};
    const QByteArray name = args.first(2).toByteArray();
    const char action = args[2];
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!isDigit(name[0]) || !isDigit(name[1]) || action < '0' || action > '3')
        return {Form::Framed, "NG"};
    PinState& pin = pins_[name];
    switch (action) {
    case '0':
    case '1':
        pin.output = true;
        pin.driven = action == '1';
        return {Form::Framed, "OK"};
    case '2':
        pin.output = false;
        return {Form::Framed, "OK"};
    default:
        break;
    }
    if (pin.output)
        return {Form::Framed, pin.driven ? "01" : "00"};
    return {Form::Framed, pin.input ? "03" : "02"};
}

void RadioModel::setPinInput(QByteArrayView name, bool high) {
    pins_[name.toByteArray()].input = high;
}

RadioModel::Pin RadioModel::pin(QByteArrayView name) const {
    const PinState state = pins_.value(name.toByteArray());
    return {state.output, state.output ? state.driven : state.input};
}

std::uint8_t RadioModel::flashAt(std::uint32_t address) const {
    return static_cast<std::uint8_t>(flash_.at(address - FlashBase));
}

std::uint32_t RadioModel::flashCrc32() const {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char c : flash_) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool RadioModel::dumpFlash(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(flash_) == flash_.size();
}

void RadioModel::flushEcho(Micros now) {
    if (!echo_.isEmpty())
        schedule_.send(std::exchange(echo_, {}), now);
}

} // namespace rqv5::sim
