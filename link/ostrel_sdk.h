#pragma once
// OstrelSDK: the device's one connection to the tracking system. It owns the
// UDP data socket on which frames arrive, the receive buffer, and the remote
// control of the tracking system's controller (start and stop measurement),
// either as NUL-terminated text commands over a TCP connection or in UDP
// datagrams. The records of the newest frame are read through the parser's
// accessors. One thread at a time; no locks.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/ostrel_parser.h"
#include "link/socket_layer.h"

enum class RemoteKind : int32_t {
    None = 0,  // no command channel determined
    Udp = 1,
    Tcp = 2,
};

enum class NetError : int32_t {
    None = 0,
    Timeout = 1,
    Network = 2,
    Parse = 3,  // a frame or an answer could not be understood
};

// A multicast group that frames arrive on, joined on the local interface
// with interfaceAddress (0: the system's choice). Group 0: none asked for.
struct MulticastJoin {
    uint32_t group = 0;
    uint32_t interfaceAddress = 0;
};

class OstrelSDK : public OstrelParser {
public:
    static constexpr uint16_t kDefaultCommandPort = 50105;
    static constexpr int32_t kDefaultBufferSize = 32768;
    static constexpr int32_t kDefaultDataTimeoutMicros = 1000000;
    static constexpr int32_t kDefaultCommandTimeoutMicros = 10000000;
    static constexpr int32_t kMaxCommandLength = 200;
    static constexpr int32_t kAnswerCapacity = 200;
    static constexpr size_t kFailureReasonCapacity = 200;

    // Results of sendTcpCommand.
    enum CommandResult : int32_t {
        kAnswerOk = 1,           // "ostrel2 ok"
        kAnswerError = 2,        // error answer with number and quoted message
        kAnswerOther = 0,        // any other answer
        kCommandTimeout = -1,    // no answer within the command time-out
        kNotTcp = -2,            // remote kind is not TCP, or the wait failed
        kCommandTooLong = -3,    // over kMaxCommandLength, or the receive failed
        kAnswerTooLong = -4,     // an answer of kAnswerCapacity bytes or more
        kControllerClosed = -9,  // the controller closed the connection
        kNoConnection = -10,     // no command connection (any more)
        kSendFailed = -11,
        kErrorWithoutNumber = -1100,
        kErrorWithoutMessage = -1101,
    };

    // Data only: frames on dataPort (0 = the system picks; see dataPort()),
    // no controller.
    explicit OstrelSDK(uint16_t dataPort) noexcept;
    // host: name or dotted quad of the controller, or empty. With a host and
    // serverPort 0 the host is a multicast group that frames arrive on.
    // With remoteKind None a controller that cannot be connected over TCP
    // is commanded by UDP instead. The TCP connect gives up after the
    // command time-out. A join with a group receives the frames on that
    // group instead, whatever host and serverPort say.
    OstrelSDK(const char* host, uint16_t serverPort, uint16_t dataPort, RemoteKind remoteKind, int32_t bufferSize,
              int32_t dataTimeoutMicros, int32_t commandTimeoutMicros, MulticastJoin join = {}) noexcept;
    ~OstrelSDK() override;

    // False when the data socket or the buffer could not be had; settled at
    // construction.
    bool hasDataSocket() const noexcept { return dataSocket_ != nullptr; }

    // Waits up to the data time-out for a frame and parses the newest one
    // queued. False with lastDataError Timeout, Network (also for an empty
    // or too long datagram) or Parse.
    bool receiveFrame() noexcept;

    bool startTracking() noexcept;
    bool stopTracking() noexcept;
    // One datagram with the text and its NUL to the controller; no answer.
    // With remote kind TCP, "ostrel 10 3" / "ostrel 10 0|1" are turned into
    // the TCP start / stop, other "ostrel " commands are dropped (true).
    bool sendUdpCommand(const char* text) noexcept;
    // Sends the text and its NUL over TCP and reads one answer; see
    // CommandResult. answer, when given, receives an "other" answer.
    int32_t sendTcpCommand(const char* text, std::string* answer = nullptr) noexcept;

    NetError lastDataError() const noexcept { return lastDataError_; }
    NetError lastCommandError() const noexcept { return lastCommandError_; }
    int32_t lastRemoteErrorCode() const noexcept { return lastRemoteErrorCode_; }
    const char* lastRemoteErrorText() const noexcept { return lastRemoteErrorText_; }
    // Why the set-up or the last command failed, in the user's terms with
    // the system's own words ("UDP port 5000: Address already in use");
    // empty while nothing failed.
    const char* failureReason() const noexcept { return failureReason_; }

    RemoteKind remoteKind() const noexcept { return remoteKind_; }
    bool hasCommandConnection() const noexcept { return commandConnection_ != nullptr; }
    uint32_t serverAddress() const noexcept { return serverAddress_; }
    uint16_t dataPort() const noexcept { return dataPort_; }
    uint16_t serverPort() const noexcept { return serverPort_; }
    // The group the data socket joined, and where; group 0 when none.
    MulticastJoin multicastJoin() const noexcept { return join_; }
    int32_t bufferSize() const noexcept { return bufferSize_; }

    OstrelSDK(const OstrelSDK&) = delete;
    OstrelSDK& operator=(const OstrelSDK&) = delete;

private:
    void noteOpenFailure(int32_t opened) noexcept;
    int32_t failCommand(int32_t result, NetError error) noexcept;
    int32_t readAnswer(std::string* answer) noexcept;
    int32_t receiveAnswer(char (&received)[kAnswerCapacity + 1], int32_t& length) noexcept;
    void dropCommandConnection() noexcept;
    // The failure reason: printf-style; or what the controller did (the
    // detail follows "Controller <address>:<port>"); or "<what>: " and the
    // system's words for the calling thread's last socket failure.
    void noteFailure(const char* format, ...) noexcept ZELOSTREL_PRINTF_FORMAT(2, 3);
    void noteControllerFailure(const char* detail) noexcept;
    void noteSocketFailure(const char* what) noexcept;

    RemoteKind remoteKind_;
    NetError lastDataError_ = NetError::None;
    NetError lastCommandError_ = NetError::None;
    int32_t lastRemoteErrorCode_ = 0;
    char lastRemoteErrorText_[kAnswerCapacity] = {};
    SocketHandle* commandConnection_ = nullptr;
    int32_t commandTimeout_;
    SocketHandle* dataSocket_ = nullptr;
    uint32_t serverAddress_ = 0;
    uint16_t dataPort_;
    uint16_t serverPort_;
    int32_t dataTimeout_;
    int32_t bufferSize_;
    char* buffer_ = nullptr;
    MulticastJoin join_;
    char failureReason_[kFailureReasonCapacity] = {};
};
