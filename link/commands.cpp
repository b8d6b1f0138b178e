// Text commands: identify, connect, and the port-pin command.
#include "link.h"

namespace rqv5 {

ReplyCode Link::IdentifyDevice() {
    const QByteArray command = "QZ~RQ-V5\r";
    const int length = static_cast<int>(command.size());
    return commandExchange(true, command, length + 6, length, &Link::DecodeFramedReply, {ReplyOK, ReplyRE});
}

ReplyCode Link::ConnectDevice(ProtocolMode mode) {
    // The flash mode answers with a bare status reply; the legacy modes send 20
    // bytes whose first four are the status. Only the flash mode runs at 57600.
    QByteArray command;
    int answerLength = 0;
    bool honours57600 = false;
    switch (mode) {
    case ModeFlash:
        command = "QZ~FLASH\r";
        answerLength = 4;
        honours57600 = true;
        break;
    case ModeE:
        command = "QZ~E\r";
        answerLength = 20;
        break;
    case ModeFL:
        command = "FL\r";
        answerLength = 20;
        break;
    default:
        return ReplyUnknown; // no such mode: nothing is sent
    }
    const int length = static_cast<int>(command.size());
    return commandExchange(honours57600, command, length + answerLength, length, &Link::DecodeStatusReply,
                           {ReplyOK, ReplyCT});
}

ReplyCode Link::PortPinCommand() {
    // "QZ~P", the pin number as typed, the action digit, CR. The wait count and
    // the reply index are fixed for a two-character pin number: 8 bytes of echo
    // and a 6-byte framed reply. Never at 57600.
    QByteArray command = "QZ~P" + host_.pinNumberText().toLatin1();
    const int action = host_.selectedPortOption();
    if (action >= 0 && action <= 3)
        command += static_cast<char>('0' + action) + QByteArray("\r");
    return commandExchange(false, command, 14, 8, &Link::DecodeFramedReply,
                           {ReplyOK, ReplyNG, ReplyED, ReplyCT, ReplyBE, ReplyPG, ReplyRA, ReplyEE,
                            ReplyUnknown, ReplyPinOutLow, ReplyPinOutHigh, ReplyPinInLow, ReplyPinInHigh,
                            ReplyRE});
}

} // namespace rqv5
