#include "link/ostrel_sdk.h"

#include <cstring>
#include <new>
#include <string_view>

#include "link/frame_text.h"

namespace {

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
                     int32_t bufferSize, int32_t dataTimeoutMicros, int32_t commandTimeoutMicros) noexcept
    : remoteKind_(remoteKind),
      commandTimeout_(commandTimeoutMicros),
      dataPort_(dataPort),
      serverPort_(serverPort),
      dataTimeout_(dataTimeoutMicros),
      bufferSize_(bufferSize) {
    netStartup();
    if (host != nullptr && *host != '\0') serverAddress_ = resolveHost(host);
    if (udpOpen(dataSocket_, dataPort_, multicastGroup()) != kSocketOk) {
        dataSocket_ = nullptr;
        dataPort_ = 0;
        return;
    }
    // The receive leaves room for the NUL behind the datagram, and a
    // datagram must stay shorter than its capacity: below 2 bytes nothing
    // could ever be received.
    if (bufferSize_ >= 2) buffer_ = new (std::nothrow) char[static_cast<size_t>(bufferSize_)];
    if (buffer_ == nullptr) {
        udpClose(dataSocket_, multicastGroup());
        dataSocket_ = nullptr;
        dataPort_ = 0;
        return;
    }
    if (serverAddress_ != 0 && serverPort_ != 0 && remoteKind_ != RemoteKind::Udp) {
        if (tcpConnect(commandConnection_, serverAddress_, serverPort_, commandTimeout_) == kSocketOk) {
            remoteKind_ = RemoteKind::Tcp;
        } else {
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
    udpClose(dataSocket_, multicastGroup());
    tcpClose(commandConnection_);
    netCleanup();
}

// Frames come in on a multicast group when a host but no command port is
// given.
uint32_t OstrelSDK::multicastGroup() const noexcept { return serverPort_ == 0 ? serverAddress_ : 0; }

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
    const auto length = static_cast<int32_t>(std::strlen(text) + 1);  // the NUL goes too
    if (udpSend(dataSocket_, text, length, serverAddress_, serverPort_, dataTimeout_) != kSocketOk) {
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
    if (remoteKind_ != RemoteKind::Tcp) return kNotTcp;
    lastRemoteErrorCode_ = 0;
    lastRemoteErrorText_[0] = '\0';
    if (text == nullptr) return failCommand(kCommandTooLong, NetError::Network);
    const int32_t length = textLength(text);
    if (length > kMaxCommandLength) return failCommand(kCommandTooLong, NetError::Network);
    if (commandConnection_ == nullptr) return failCommand(kNoConnection, NetError::Network);
    if (tcpSend(commandConnection_, text, length + 1, commandTimeout_) != kSocketOk) {
        return failCommand(kSendFailed, NetError::Network);
    }
    return readAnswer(answer);
}

int32_t OstrelSDK::readAnswer(std::string* answer) noexcept {
    char received[kAnswerCapacity + 1];
    const int32_t count = tcpReceive(commandConnection_, received, kAnswerCapacity, commandTimeout_);
    if (count < 0) {
        if (count == kSocketTimeout) {
            lastCommandError_ = NetError::Timeout;
        } else if (count == kSocketPeerClosed) {
            // Dropped for good: later commands report no connection.
            tcpClose(commandConnection_);
            commandConnection_ = nullptr;
        } else {
            lastCommandError_ = NetError::Network;
        }
        assignAnswer(answer, "");
        return count;
    }
    received[count] = '\0';  // the answer ends at its own NUL, or here
    if (std::strcmp(received, kAnswerOkText) == 0) return kAnswerOk;
    if (!startsWith(received, kAnswerErrorPrefix)) {
        assignAnswer(answer, received);
        lastCommandError_ = NetError::None;
        return kAnswerOther;
    }
    int32_t code = 0;
    const char* behindCode = frametext::readInt(received + std::strlen(kAnswerErrorPrefix), code);
    std::string_view message;
    if (behindCode == nullptr || frametext::readQuoted(behindCode, message) == nullptr) {
        lastRemoteErrorCode_ = -1100;
        std::memcpy(lastRemoteErrorText_, kSdkErrorText, sizeof kSdkErrorText);
        lastCommandError_ = NetError::Parse;
        return behindCode == nullptr ? kErrorWithoutNumber : kErrorWithoutMessage;
    }
    lastRemoteErrorCode_ = code;
    // The message lies inside the answer, which is shorter than the field.
    message.copy(lastRemoteErrorText_, sizeof lastRemoteErrorText_ - 1);
    lastRemoteErrorText_[message.size()] = '\0';
    return kAnswerError;
}
