#include "tools/ostrelsim/datagram_sender.h"

#include "platform/socket.h"

namespace ostrelsim {

namespace {
constexpr int32_t kRoomTimeoutMicros = 100000;
}

DatagramSender::~DatagramSender() {
    if (socket_ != platform::kInvalidNativeSocket) {
        platform::closeSocket(socket_);
    }
    if (libraryStarted_) {
        platform::stopSocketLibrary();
    }
}

bool DatagramSender::open(const std::string& host, uint16_t port, const MulticastSending& multicast,
                          std::string& error) {
    libraryStarted_ = platform::startSocketLibrary();
    address_ = platform::lookupIPv4(host.c_str());
    if (address_ == 0) {
        error = "cannot resolve host \"" + host + "\"";
        return false;
    }
    if (!platform::openSocket(platform::SocketKind::Datagram, socket_)) {
        socket_ = platform::kInvalidNativeSocket;
        error = "cannot open a UDP socket";
        return false;
    }
    port_ = port;
    return setUpMulticast(host, multicast, error);
}

// The options only mean something for a group: refused for any other host
// rather than silently ignored.
bool DatagramSender::setUpMulticast(const std::string& host, const MulticastSending& multicast, std::string& error) {
    if (multicast.ttl < 0 && multicast.interfaceAddress.empty()) return true;
    if ((address_ >> 28) != 0xE) {
        error =
            "--ttl and --interface need a multicast group (224.0.0.0 to 239.255.255.255) in --to, not \"" + host + "\"";
        return false;
    }
    char reason[128];
    if (multicast.ttl >= 0 && !platform::setMulticastHops(socket_, multicast.ttl)) {
        error = "cannot set the TTL: " + std::string(platform::lastSocketFailureText(reason, sizeof reason));
        return false;
    }
    if (multicast.interfaceAddress.empty()) return true;
    const uint32_t local = platform::lookupIPv4(multicast.interfaceAddress.c_str());
    if (local == 0 || !platform::setMulticastInterface(socket_, local)) {
        error = "cannot send from interface \"" + multicast.interfaceAddress +
                "\": " + platform::lastSocketFailureText(reason, sizeof reason);
        return false;
    }
    return true;
}

bool DatagramSender::send(std::string_view datagram) {
    if (platform::waitUntilReady(socket_, platform::WaitFor::Writable, kRoomTimeoutMicros) !=
        platform::WaitResult::Ready) {
        return false;
    }
    int32_t sent = 0;
    auto length = static_cast<int32_t>(datagram.size());
    return platform::sendNowTo(socket_, datagram.data(), length, address_, port_, sent) == platform::IoResult::Done &&
           sent == length;
}

}  // namespace ostrelsim
