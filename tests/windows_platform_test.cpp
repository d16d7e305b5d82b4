// The Windows layer for real: a host's mutex handles and the loader's text. (Winsock
// runs in the module's and the host's tests under Wine.)
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/dynamic_library.h"
#include "tests/support/output.h"
#include "tests/support/shared_storage.h"

using test_support::capturedStdout;

// A host's mutex handle through CMutexH: its holder may lock again and unlocks
// once per lock; an owner that ends holding it (a killed host) hands it over, "Owner died".
TEST(HostMutex, ASecondLockByTheHolderAndAnOwnerThatEndsHoldingIt) {
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
    std::thread([&] { WaitForSingleObject(handle.native.handle, INFINITE); }).join();
    EXPECT_EQ("HOST: ERROR: CMutexH: Locking mutex: Owner died\n", capturedStdout([&] { EXPECT_FALSE(mutex.lock()); }));
    EXPECT_EQ(DWORD{WAIT_TIMEOUT}, othersLook()) << "the caller holds the lock";
    EXPECT_TRUE(mutex.unlock());
    CloseHandle(handle.native.handle);
}

// The loader names the library and gives the system's text.
TEST(WindowsSystem, LoaderNamesTheLibraryAndGivesTheSystemsText) {
    platform::LibraryHandle library;
    char reason[512], text[256] = {};
    EXPECT_FALSE(platform::openLibrary("no-such-calibration.dll", library, reason, sizeof reason));
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_MOD_NOT_FOUND, 0, text,
                   sizeof text, nullptr);
    std::string system(text);
    system.erase(system.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ("no-such-calibration.dll: " + system, std::string(reason));
}
