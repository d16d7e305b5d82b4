#include "link/ostrel_sdk.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "link/frame_text.h"
#include "link/ipv4_text.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace {

using ipv4text::dottedQuad;

constexpr char kAnswerOkText[] = "ostrel2 ok";
constexpr char kAnswerErrorPrefix[] = "ostrel2 err ";  // blank included
constexpr char kUdpCommandPrefix[] = "ostrel ";
constexpr char kSdkErrorText[] = "SDK error -1100";

bool startsWith(const char* text, const char* prefix) noexcept {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Length of a command text, counting no further than one past the limit.
int32_t textLength(const char* text) noexcept {
    int32_t length = 0;
    while (length <= OstrelSDK::kMaxCommandLength && text[length] != '\0') ++length;
    return length;
}

void assignAnswer(std::string* answer, const char* text) noexcept {
    if (answer == nullptr) return;
    try {
        answer->assign(text);
    } catch (...) {
        answer->clear();
    }
}

}  // namespace

OstrelSDK::OstrelSDK(uint16_t dataPort) noexcept
    : OstrelSDK("", 0, dataPort, RemoteKind::None, kDefaultBufferSize, kDefaultDataTimeoutMicros,
                kDefaultCommandTimeoutMicros) {}

OstrelSDK::OstrelSDK(const char* host, uint16_t serverPort, uint16_t dataPort, RemoteKind remoteKind,
                     int32_t bufferSize, int32_t dataTimeoutMicros, int32_t commandTimeoutMicros,
                     MulticastJoin join) noexcept
    : remoteKind_(remoteKind),
      commandTimeout_(commandTimeoutMicros),
      dataPort_(dataPort),
      serverPort_(serverPort),
      dataTimeout_(dataTimeoutMicros),
      bufferSize_(bufferSize) {
    netStartup();
    if (host != nullptr && *host != '\0') {
        serverAddress_ = resolveHost(host);
        if (serverAddress_ == 0) {
            char what[kFailureReasonCapacity];
            std::snprintf(what, sizeof what, "Controller host \"%s\"", host);
            noteSocketFailure(what);
        }
    }
    // Without a join of its own, a host given without a command port names
    // the group, joined on the system's choice of interface.
    if (join.group != 0) {
        join_ = join;
    } else if (serverPort_ == 0) {
        join_.group = serverAddress_;
    }
    const int32_t opened = udpOpen(dataSocket_, dataPort_, join_.group, join_.interfaceAddress);
    if (opened != kSocketOk) {
        noteOpenFailure(opened);
        dataSocket_ = nullptr;
        dataPort_ = 0;
        return;
    }
    // The receive leaves room for the NUL behind the datagram, and a
    // datagram must stay shorter than its capacity: below 2 bytes nothing
    // could ever be received.
    if (bufferSize_ >= 2) buffer_ = new (std::nothrow) char[static_cast<size_t>(bufferSize_)];
    if (buffer_ == nullptr) {
        noteFailure("Receive buffer of %d bytes: %s", static_cast<int>(bufferSize_),
                    bufferSize_ < 2 ? "too small" : "out of memory");
        udpClose(dataSocket_, join_.group, join_.interfaceAddress);
        dataSocket_ = nullptr;
        dataPort_ = 0;
        return;
    }
    if (serverAddress_ != 0 && serverPort_ != 0 && remoteKind_ != RemoteKind::Udp) {
        const int32_t connected = tcpConnect(commandConnection_, serverAddress_, serverPort_, commandTimeout_);
        if (connected == kSocketOk) {
            remoteKind_ = RemoteKind::Tcp;
        } else {
            connected == kSocketNoMemory ? noteControllerFailure(": out of memory") : noteControllerFailure(nullptr);
            commandConnection_ = nullptr;
            // Not determined yet: command the controller by UDP instead.
            // Asked for TCP: stays TCP, and every command reports no connection.
            if (remoteKind_ == RemoteKind::None) remoteKind_ = RemoteKind::Udp;
        }
    }
    resetTables();
}

OstrelSDK::~OstrelSDK() {
    delete[] buffer_;
    udpClose(dataSocket_, join_.group, join_.interfaceAddress);
    tcpClose(commandConnection_);
    netCleanup();
}

// A failed join names the group and the interface: the port is not what
// the user has to look at then.
void OstrelSDK::noteOpenFailure(int32_t opened) noexcept {
    char what[80];
    if (opened == kSocketJoinFailed) {
        const bool chosen = join_.interfaceAddress != 0;
        std::snprintf(what, sizeof what, "Multicast group %s%s%s", dottedQuad(join_.group).text,
                      chosen ? " on interface " : "", chosen ? dottedQuad(join_.interfaceAddress).text : "");
    } else {
        std::snprintf(what, sizeof what, "UDP port %u", static_cast<unsigned>(dataPort_));
    }
    opened == kSocketNoMemory ? noteFailure("%s: out of memory", what) : noteSocketFailure(what);
}

void OstrelSDK::noteFailure(const char* format, ...) noexcept {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(failureReason_, sizeof failureReason_, format, arguments);
    va_end(arguments);
    // It quotes the controller's bytes, and goes into the user's log: no
    // control characters that could drive a terminal.
    for (char* c = failureReason_; *c != '\0'; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) *c = '?';
    }
}

void OstrelSDK::noteSocketFailure(const char* what) noexcept {
    char text[128];
    noteFailure("%s: %s", what, platform::lastSocketFailureText(text, sizeof text));
}

// A null detail stands for the system's words for the last socket failure.
void OstrelSDK::noteControllerFailure(const char* detail) noexcept {
    char where[48];
    std::snprintf(where, sizeof where, "Controller %s:%u", dottedQuad(serverAddress_).text,
                  static_cast<unsigned>(serverPort_));
    if (detail == nullptr) {
        noteSocketFailure(where);
    } else {
        noteFailure("%s%s", where, detail);
    }
}

bool OstrelSDK::receiveFrame() noexcept {
    lastDataError_ = NetError::None;
    lastCommandError_ = NetError::None;
    if (dataSocket_ == nullptr) {
        lastDataError_ = NetError::Network;
        return false;
    }
    beginFrame();
    const int32_t length = udpReceive(dataSocket_, buffer_, bufferSize_ - 1, dataTimeout_);
    if (length < 1) {
        lastDataError_ = length == kSocketTimeout ? NetError::Timeout : NetError::Network;
        return false;
    }
    buffer_[length] = '\0';
    lastDataError_ = NetError::Parse;
    if (!parseFrame(buffer_, static_cast<size_t>(bufferSize_))) return false;
    lastDataError_ = NetError::None;
    return true;
}

bool OstrelSDK::startTracking() noexcept {
    if (remoteKind_ == RemoteKind::Udp) return sendUdpCommand("ostrel 10 3") && sendUdpCommand("ostrel 31");
    return sendTcpCommand("ostrel2 tracking start") == kAnswerOk;
}

bool OstrelSDK::stopTracking() noexcept {
    if (remoteKind_ == RemoteKind::Udp) return sendUdpCommand("ostrel 32") && sendUdpCommand("ostrel 10 0");
    return sendTcpCommand("ostrel2 tracking stop") == kAnswerOk;
}

bool OstrelSDK::sendUdpCommand(const char* text) noexcept {
    if (dataSocket_ == nullptr || text == nullptr) return false;
    lastDataError_ = NetError::None;
    if (remoteKind_ == RemoteKind::Tcp && startsWith(text, kUdpCommandPrefix)) {
        // A controller commanded over TCP gets the TCP form of start and stop.
        const char* rest = text + std::strlen(kUdpCommandPrefix);
        if (startsWith(rest, "10 3")) return startTracking();
        if (startsWith(rest, "10 0") || startsWith(rest, "10 1")) return stopTracking();
        return true;
    }
    if (serverAddress_ == 0 || serverPort_ == 0) {
        // 0.0.0.0 would be this machine: no command leaves unaddressed. An
        // unresolved host has left its reason already.
        if (serverPort_ == 0) {
            noteFailure("No controller port");
        } else if (failureReason_[0] == '\0') {
            noteFailure("No controller address");
        }
        lastCommandError_ = NetError::Network;
        return false;
    }
    const auto length = static_cast<int32_t>(std::strlen(text) + 1);  // the NUL goes too
    if (udpSend(dataSocket_, text, length, serverAddress_, serverPort_, dataTimeout_) != kSocketOk) {
        noteControllerFailure(nullptr);
        lastDataError_ = NetError::Network;
        return false;
    }
    return true;
}

int32_t OstrelSDK::failCommand(int32_t result, NetError error) noexcept {
    lastCommandError_ = error;
    return result;
}

int32_t OstrelSDK::sendTcpCommand(const char* text, std::string* answer) noexcept {
    if (remoteKind_ != RemoteKind::Tcp) {
        noteFailure("No TCP command channel");
        return kNotTcp;
    }
    lastRemoteErrorCode_ = 0;
    lastRemoteErrorText_[0] = '\0';
    if (text == nullptr || textLength(text) > kMaxCommandLength) {
        noteFailure("Command longer than %d characters", static_cast<int>(kMaxCommandLength));
        return failCommand(kCommandTooLong, NetError::Network);
    }
    if (commandConnection_ == nullptr) {
        // The connect or the controller's close has left its reason.
        if (failureReason_[0] == '\0') noteFailure("No connection to the controller");
        return failCommand(kNoConnection, NetError::Network);
    }
    // An answer that came after its command's time-out must not be taken
    // for the answer to this command.
    if (tcpDiscard(commandConnection_) == kSocketPeerClosed) {
        dropCommandConnection();
        return kControllerClosed;
    }
    if (tcpSend(commandConnection_, text, textLength(text) + 1, commandTimeout_) != kSocketOk) {
        noteControllerFailure(nullptr);
        return failCommand(kSendFailed, NetError::Network);
    }
    return readAnswer(answer);
}

// Dropped for good: later commands report no connection.
void OstrelSDK::dropCommandConnection() noexcept {
    noteControllerFailure(" closed the connection");
    tcpClose(commandConnection_);
    commandConnection_ = nullptr;
}

// The answer may arrive in pieces: reads until its NUL, the capacity or the
// command time-out, whichever comes first. Bytes without a NUL at the
// time-out are the answer. Their count, or the code of the failed receive.
int32_t OstrelSDK::receiveAnswer(char (&received)[kAnswerCapacity + 1], int32_t& length) noexcept {
    length = 0;
    const int64_t deadline = static_cast<int64_t>(platform::monotonicNanos() / 1000) + commandTimeout_;
    int32_t wait = commandTimeout_;
    for (;;) {
        const int32_t count = tcpReceive(commandConnection_, received + length, kAnswerCapacity - length, wait);
        if (count < 0) return count == kSocketTimeout && length > 0 ? length : count;
        const bool complete = std::memchr(received + length, '\0', static_cast<size_t>(count)) != nullptr;
        length += count;
        if (complete) return length;
        const int64_t left = deadline - static_cast<int64_t>(platform::monotonicNanos() / 1000);
        wait = left > 0 ? static_cast<int32_t>(left) : 0;
    }
}

int32_t OstrelSDK::readAnswer(std::string* answer) noexcept {
    char received[kAnswerCapacity + 1];
    int32_t length = 0;
    const int32_t count = receiveAnswer(received, length);
    if (count < 0) {
        if (count == kSocketTimeout) {
            noteControllerFailure(nullptr);
            lastCommandError_ = NetError::Timeout;
        } else if (count == kSocketPeerClosed) {
            dropCommandConnection();
        } else {
            count == kSocketBufferFull ? noteControllerFailure(": answer of 200 bytes or more")
                                       : noteControllerFailure(nullptr);
            lastCommandError_ = NetError::Network;
        }
        assignAnswer(answer, "");
        return count;
    }
    received[length] = '\0';  // the answer ends at its own NUL, or here
    if (std::strcmp(received, kAnswerOkText) == 0) return kAnswerOk;
    char detail[kAnswerCapacity + 32];
    if (!startsWith(received, kAnswerErrorPrefix)) {
        std::snprintf(detail, sizeof detail, " answered \"%s\"", received);
        noteControllerFailure(detail);
        assignAnswer(answer, received);
        lastCommandError_ = NetError::None;
        return kAnswerOther;
    }
    int32_t code = 0;
    const char* behindCode = frametext::readInt(received + std::strlen(kAnswerErrorPrefix), code);
    std::string_view message;
    if (behindCode == nullptr || frametext::readQuoted(behindCode, message) == nullptr) {
        std::snprintf(detail, sizeof detail, " answered \"%s\"", received);
        noteControllerFailure(detail);
        lastRemoteErrorCode_ = -1100;
        std::memcpy(lastRemoteErrorText_, kSdkErrorText, sizeof kSdkErrorText);
        lastCommandError_ = NetError::Parse;
        return behindCode == nullptr ? kErrorWithoutNumber : kErrorWithoutMessage;
    }
    lastRemoteErrorCode_ = code;
    // The message lies inside the answer, which is shorter than the field.
    message.copy(lastRemoteErrorText_, sizeof lastRemoteErrorText_ - 1);
    lastRemoteErrorText_[message.size()] = '\0';
    std::snprintf(detail, sizeof detail, " answered error %d: %s", static_cast<int>(code), lastRemoteErrorText_);
    noteControllerFailure(detail);
    return kAnswerError;
}
