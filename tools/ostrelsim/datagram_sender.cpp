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

bool DatagramSender::open(const std::string& host, uint16_t port, std::string& error) {
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
