// The Windows layer for real: Winsock on loopback, a host's mutex handles, the loader's text, the clock's zone fields,
// the log head's thread id.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "link/socket_layer.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/socket.h"
#include "tests/host_process_support.h"
#include "tests/support/output.h"
#include "tests/support/shared_storage.h"

namespace {

using hosttest::kLoopback;
using hosttest::millisSince;
using test_support::capturedStdout;

// Run as "<this program> --hold-mutex=NAME": takes the mutex and dies holding it.
const bool kIsMutexHolder = [] {
    const char* flag = std::strstr(GetCommandLineA(), "--hold-mutex=");
    if (flag == nullptr) return false;
    WaitForSingleObject(CreateMutexA(nullptr, FALSE, flag + std::strlen("--hold-mutex=")), INFINITE);
    ExitProcess(0);
}();

}  // namespace

// The newest of three datagrams, bounded waits, a datagram that fills the buffer; a connect refused, and one a full
// listener never answers, given up in time.
TEST(Winsock, UdpDrainAndTcpConnects) {
    netStartup();
    SocketHandle *receiver = nullptr, *sender = nullptr;
    uint16_t port = 0, senderPort = 0;
    ASSERT_EQ(0, udpOpen(receiver, port, 0) + udpOpen(sender, senderPort, 0));
    for (const char* datagram : {"first", "second", "third!"})
        ASSERT_EQ(0, udpSend(sender, datagram, static_cast<int32_t>(std::strlen(datagram)), kLoopback, port, 1000000));
    Sleep(20);
    char buffer[16] = {};
    EXPECT_EQ(6, udpReceive(receiver, buffer, sizeof buffer, 1000000));
    EXPECT_EQ("third!", std::string(buffer, 6));
    auto start = hosttest::Clock::now();
    EXPECT_EQ(-1, udpReceive(receiver, buffer, sizeof buffer, 50000)) << "the older two were dropped";
    EXPECT_GE(millisSince(start), 45);
    EXPECT_EQ(0, udpSend(sender, std::string(16, 'x').data(), 16, kLoopback, port, 1000000));
    EXPECT_EQ(-4, udpReceive(receiver, buffer, sizeof buffer, 1000000));
    EXPECT_EQ(0, udpClose(receiver, 0) + udpClose(sender, 0));
    platform::NativeSocket bound, filler;
    ASSERT_TRUE(platform::openSocket(platform::SocketKind::Stream, bound) && platform::bindIPv4(bound, kLoopback, 0) &&
                platform::boundPort(bound, port));
    SocketHandle* handle = nullptr;
    EXPECT_EQ(-3, tcpConnect(handle, kLoopback, port, 1000000));
    EXPECT_EQ(nullptr, handle);
    ASSERT_EQ(0, listen(bound, 0));
    ASSERT_TRUE(platform::openSocket(platform::SocketKind::Stream, filler));
    EXPECT_TRUE(platform::connectIPv4(filler, kLoopback, port, 1000000));
    start = hosttest::Clock::now();
    EXPECT_EQ(-3, tcpConnect(handle, kLoopback, port, 200000));
    EXPECT_GE(millisSince(start), 150) << "it waited for an answer";
    EXPECT_LT(millisSince(start), 5000) << "and gave up after its time-out";
    platform::closeSocket(filler);
    platform::closeSocket(bound);
    netCleanup();
}

// A join on an interface no one has fails; on loopback it receives.
TEST(Winsock, MulticastJoinedOnAChosenInterface) {
    netStartup();
    const uint32_t group = 0xEFFF4D07;  // 239.255.77.7
    SocketHandle* receiver = nullptr;
    uint16_t port = 0;
    EXPECT_EQ(-5, udpOpen(receiver, port, group, 0xCB0071FE)) << "203.0.113.254: no interface has it";
    ASSERT_EQ(0, udpOpen(receiver, port, group, kLoopback));
    platform::NativeSocket sender;
    ASSERT_TRUE(platform::openSocket(platform::SocketKind::Datagram, sender));
    ASSERT_TRUE(platform::setMulticastInterface(sender, kLoopback) && platform::setMulticastHops(sender, 0));
    int32_t sent = 0;
    EXPECT_EQ(platform::IoResult::Done, platform::sendNowTo(sender, "fr 1", 4, group, port, sent));
    char buffer[16] = {};
    EXPECT_EQ(4, udpReceive(receiver, buffer, sizeof buffer, 1000000));
    EXPECT_EQ(0, udpClose(receiver, group, kLoopback));
    platform::closeSocket(sender);
    netCleanup();
}

// A host's mutex handle through CMutexH: its holder may lock again and unlocks once per lock; an owner thread or
// process that ends holding it (a killed host) hands it over, "Owner died".
TEST(HostMutex, ASecondLockByTheHolderAndAnOwnerThreadOrProcessThatEndsHoldingIt) {
    platform::SharedMutex handle{{CreateMutexA(nullptr, FALSE, nullptr)}};
    CLogH log = test_support::quietLogger("HOST");
    CMutexH mutex{&handle, &log};
    const auto othersLook = [&] {  // WAIT_TIMEOUT while somebody else holds it
        DWORD result = 0;
        std::thread([&] {
            result = WaitForSingleObject(handle.native.handle, 0);
            if (result == WAIT_OBJECT_0) ReleaseMutex(handle.native.handle);
        }).join();
        return result;
    };
    EXPECT_EQ("", capturedStdout([&] { EXPECT_TRUE(mutex.lock() && mutex.lock()); }));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_EQ(DWORD{WAIT_TIMEOUT}, othersLook()) << "each lock needs its unlock";
    EXPECT_TRUE(mutex.unlock());
    EXPECT_EQ(DWORD{WAIT_OBJECT_0}, othersLook());
    EXPECT_NE("", capturedStdout([&] { EXPECT_FALSE(mutex.unlock()); })) << "not held";
    const auto ownerDiedThenHeld = [&] {
        EXPECT_EQ("HOST: ERROR: CMutexH: Locking mutex: Owner died\n",
                  capturedStdout([&] { EXPECT_FALSE(mutex.lock()); }));
        EXPECT_EQ(DWORD{WAIT_TIMEOUT}, othersLook()) << "the caller holds the lock";
        EXPECT_TRUE(mutex.unlock());
        CloseHandle(handle.native.handle);
    };
    std::thread([&] { WaitForSingleObject(handle.native.handle, INFINITE); }).join();
    ownerDiedThenHeld();
    const std::string name = "zelostrel-test-" + std::to_string(GetCurrentProcessId());
    handle.native.handle = CreateMutexA(nullptr, FALSE, name.c_str());
    char program[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, program, sizeof program));
    hosttest::TempDir dir;
    ASSERT_EQ(0, hosttest::Child({program, "--hold-mutex=" + name}, dir.path()).finish());
    ownerDiedThenHeld();
}

// The loader names the library and gives the system's text. The zone fields are the system's (run with a Unix-style TZ,
// which Wine's zone follows and the C run-time would misread as UTC). Each thread's own id is in the log head.
TEST(WindowsSystem, LoaderTextClockZoneAndThreadIdInTheHead) {
    platform::LibraryHandle library;
    char reason[512], text[256] = {};
    EXPECT_FALSE(platform::openLibrary("no-such-calibration.dll", library, reason, sizeof reason));
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_MOD_NOT_FOUND, 0, text,
                   sizeof text, nullptr);
    std::string system(text);
    system.erase(system.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ("no-such-calibration.dll: " + system, std::string(reason));
    TIME_ZONE_INFORMATION zone{};
    const DWORD zoneState = GetTimeZoneInformation(&zone);
    const platform::ClockReading reading = platform::readClock();
    EXPECT_EQ(zone.Bias + zone.StandardBias, reading.minutesWest);
    EXPECT_EQ(zoneState == TIME_ZONE_ID_DAYLIGHT ? 1 : 0, reading.daylightSaving);
    EXPECT_LT(reading.milliseconds, 1000);
    EXPECT_NEAR(static_cast<double>(time(nullptr)), static_cast<double>(reading.seconds), 2.0);
    CLogH log;
    const auto ownIdInTheHead = [&] {
        const std::string line = capturedStdout([&] { log.info("x", true); });
        EXPECT_NE(std::string::npos, line.find(" MESSAGE[" + std::to_string(GetCurrentThreadId()) + "]: INFO: x\n"))
            << line;
    };
    ownIdInTheHead();
    std::thread(ownIdInTheHead).join();
}
