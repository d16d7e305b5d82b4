#pragma once
// Sends datagrams to one destination (a host, or a multicast group) from a
// UDP socket on a port the system chooses.
#include <cstdint>
#include <string>
#include <string_view>

#include "native.h"
#include "tools/ostrelsim/options.h"

namespace ostrelsim {

class DatagramSender {
public:
    DatagramSender() = default;
    ~DatagramSender();
    DatagramSender(const DatagramSender&) = delete;
    DatagramSender& operator=(const DatagramSender&) = delete;

    // Resolves the host and opens the socket, set up for a multicast group
    // as asked; error tells what failed.
    bool open(const std::string& host, uint16_t port, const MulticastSending& multicast, std::string& error);
    // One datagram; false when it could not leave (no room within 100 ms,
    // or the system refused it).
    bool send(std::string_view datagram);

    uint32_t address() const noexcept { return address_; }

private:
    bool setUpMulticast(const std::string& host, const MulticastSending& multicast, std::string& error);

    platform::NativeSocket socket_ = platform::kInvalidNativeSocket;
    bool libraryStarted_ = false;
    uint32_t address_ = 0;
    uint16_t port_ = 0;
};

}  // namespace ostrelsim
