// The storage view and its inter-process mutex over real shared memory, with forked processes.
#include "framework/data_storage.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "tests/support/output.h"
#include "tests/support/shared_storage.h"

using test_support::capturedStdout;

namespace {

std::string errorLine(const std::string& message) { return "HOST: ERROR: " + message + "\n"; }

// Shared with forked children, with two hand-shake words behind the storage.
struct Shared {
    static constexpr size_t kSize = sizeof(test_support::SharedArea) + 8;
    void* memory = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ~Shared() { munmap(memory, kSize); }
    uint32_t& flag(int i) {
        return reinterpret_cast<uint32_t*>(static_cast<char*>(memory) + sizeof(test_support::SharedArea))[i];
    }
    void waitFor(int i) {  // for ten seconds at most
        for (const uint64_t end = platform::monotonicMillis() + 10000;
             platform::atomicLoad(flag(i)) == 0 && platform::monotonicMillis() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

class Storage : public testing::Test {
protected:
    Shared shared;
    test_support::SharedStorage storage{shared.memory};
    test_support::SharedArea& area = *storage.area;
    CDataStorage& trackers = storage.trackerStorage;
    CDataStorage& controllers = storage.controllerStorage;
};

}  // namespace

// Only the first failing check is reported, and a failed operation leaves the count as it was.
TEST_F(Storage, CountOperationsCheckInOrderAndLookUpsStopAtTheCount) {
    area.trackerCount = 3;
    area.controllerCount = 2;
    CLogH& log = storage.hostLog;
    CDataStorage empty(nullptr, nullptr, &log, nullptr, nullptr);
    CDataStorage trackersNoMutex(area.trackers, nullptr, &log, nullptr, &area.trackerCount);
    const std::tuple<CDataStorage*, bool, uint32_t, const char*> cases[] = {
        {&empty, true, 33, "CDataStorage: The new number is too big."},
        {&controllers, true, 5, "Delete controller data list first."},
        {&empty, true, 0, "CDataStorage: Data storage has not been created yet."},
        {&trackersNoMutex, true, 0, "CDataStorage: Mutex has not been set up yet."},
        {&trackers, true, 0, "CDataStorage: the number of data is zero."},
        {&trackers, false, 5, "CDataStorage: Delete tracker data list first."},
        {&empty, false, 0, "CDataStorage: Datt Storage has not been created yet."},
    };
    for (const auto& [list, trackerCount, n, message] : cases)
        EXPECT_EQ(errorLine(message), capturedStdout([&, list = list, trackerCount = trackerCount, n = n] {
                      EXPECT_FALSE(trackerCount ? list->setNumTrackers(n) : list->setNumControllers(n));
                  }));
    EXPECT_EQ(std::make_pair(3u, 2u), std::make_pair(area.trackerCount, area.controllerCount));
    EXPECT_EQ("",
              capturedStdout([&] { EXPECT_TRUE(trackers.setNumTrackers(32) && controllers.setNumControllers(7)); }));
    EXPECT_EQ(std::make_tuple(32u, 7u, 0u, 0u),
              std::make_tuple(trackers.getNumTrackers(), controllers.getNumControllers(), trackers.getNumControllers(),
                              controllers.getNumTrackers()));
    EXPECT_TRUE(controllers.getTraData(1) == nullptr && trackers.getConData(1) == nullptr);
    // A look-up stops at the count and, whatever a hostile count word says, at the 32 records.
    area.trackerCount = 5;
    area.controllerCount = 2;
    EXPECT_EQ((std::vector<const void*>{&area.trackers[0], &area.trackers[4], nullptr, nullptr, &area.controllers[1],
                                        nullptr, nullptr}),
              (std::vector<const void*>{trackers.getTraData(1), trackers.getTraData(5), trackers.getTraData(6),
                                        trackers.getTraData(0), controllers.getConData(2), controllers.getConData(3),
                                        controllers.getConData(0)}));
    area.trackerCount = 1000;
    area.controllerCount = 0xFFFFFFFFu;
    EXPECT_EQ((std::vector<const void*>{&area.trackers[31], nullptr, &area.controllers[31], nullptr}),
              (std::vector<const void*>{trackers.getTraData(32), trackers.getTraData(33), controllers.getConData(32),
                                        controllers.getConData(0xFFFFFFFFu)}));
}

// The sequence word is odd exactly while the list is held; the holder may lock again (Windows mutexes).
TEST_F(Storage, LockingMovesTheSequenceAndMayNest) {
    const auto othersCanLock = [&] {
        int code = -1;
        std::thread([&] {
            code = pthread_mutex_trylock(&area.trackerMutex.native);
            if (code == 0) pthread_mutex_unlock(&area.trackerMutex.native);
        }).join();
        return code == 0;
    };
    EXPECT_EQ("", capturedStdout([&] {
                  ASSERT_TRUE(trackers.lock() && trackers.lock());
                  EXPECT_TRUE(trackers.unlock());
                  EXPECT_FALSE(othersCanLock());
                  EXPECT_EQ(1u, area.trackerSequence);
                  EXPECT_TRUE(trackers.unlock());
              }));
    EXPECT_TRUE(othersCanLock());
    EXPECT_EQ(2u, area.trackerSequence);
    CMutexH plain(&area.trackerMutex, &storage.hostLog);  // without a sequence word
    EXPECT_TRUE(plain.lock() && plain.unlock());
    EXPECT_EQ(2u, area.trackerSequence);
    CDataStorage noMutex(area.trackers, nullptr, &storage.hostLog, nullptr, &area.trackerCount);
    CMutexH noHandle(nullptr, &storage.hostLog);
    char text[256];
    EXPECT_EQ(
        errorLine("CMutexH: Locking mutex: The mutex handle is empty.") +
            errorLine("CMutexH: Unlocking mutex: The mutex handle is empty.") +
            errorLine(std::string("CMutexH: Unlocking mutex: ") + platform::systemErrorText(EPERM, text, sizeof text)),
        capturedStdout([&] {
            EXPECT_FALSE(noMutex.lock() || noMutex.unlock() || noHandle.lock() || noHandle.unlock() ||
                         trackers.unlock());
        }));
    EXPECT_EQ(2u, area.trackerSequence);
}

namespace {

// Every field written for step k carries k, so a copy that mixes two writes shows.
void writeFieldByField(TraData& rec, uint32_t k) {
    rec.setTime(k, k);
    const auto v = static_cast<float>(k % 20000);
    rec.setX(v), rec.setY(v), rec.setZ(v);
    if (k % 64 == 0) std::this_thread::yield();  // widen the window a broken lock would show
    rec.setAzim(v), rec.setElev(v), rec.setRoll(v);
}
bool consistent(const TraData& rec) {
    TraData whole = rec;
    writeFieldByField(whole, records::fromBE32(rec.seconds));
    return std::memcmp(&whole, &rec, sizeof rec) == 0;
}
// Exit code: 0 all copies whole, 1 a torn copy, 2 no copy made. (Readers by the sequence word are the host's.)
int readWhileWritten(test_support::SharedArea& area, uint32_t& writerDone, CMutexH& mutex) {
    uint32_t whole = 0;
    for (const uint64_t end = platform::monotonicMillis() + 60000;
         platform::atomicLoad(writerDone) == 0 && platform::monotonicMillis() < end;) {
        TraData copy[4];
        mutex.lock();
        std::memcpy(static_cast<void*>(copy), area.trackers, sizeof copy);
        mutex.unlock();
        if (!std::all_of(copy, copy + 4, consistent)) return 1;
        ++whole;
    }
    return whole > 0 ? 0 : 2;
}
int exitCodeOf(pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(Storage, AReaderInAnotherProcessNeverSeesATornRecord) {
    area.trackerCount = 4;
    for (TraData& rec : area.trackers) writeFieldByField(rec, 0);
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        CMutexH childMutex(&area.trackerMutex, &storage.hostLog, &area.trackerSequence);
        platform::atomicStore(shared.flag(1), 1);
        _exit(readWhileWritten(area, shared.flag(0), childMutex));
    }
    shared.waitFor(1);
    for (uint32_t k = 1; k <= 40000; ++k) {
        ASSERT_TRUE(trackers.lock());
        writeFieldByField(*trackers.getTraData(1 + k % 4), k);
        ASSERT_TRUE(trackers.unlock());
    }
    platform::atomicStore(shared.flag(0), 1);
    EXPECT_EQ(0, exitCodeOf(child)) << "1: torn record under the lock, 2: no copy made";
    EXPECT_EQ(0u, area.trackerSequence % 2);
}

// The next writer hears of the dead owner and goes on; the sequence stays odd while it holds the lock.
TEST_F(Storage, AHolderKilledInsideTheLockDoesNotBlockTheNextWriter) {
    const pid_t holder = fork();
    ASSERT_NE(-1, holder);
    if (holder == 0) {
        CMutexH childMutex(&area.trackerMutex, &storage.hostLog, &area.trackerSequence);
        childMutex.lock();
        area.trackers[0].setX(1.0f);  // half-way through a write
        platform::atomicStore(shared.flag(1), 1);
        for (;;) pause();
    }
    shared.waitFor(1);
    ASSERT_EQ(0, kill(holder, SIGKILL));
    ASSERT_EQ(-1, exitCodeOf(holder));
    EXPECT_EQ(1u, area.trackerSequence) << "the dead holder left it odd";
    char text[256];
    EXPECT_EQ(errorLine(std::string("CMutexH: Locking mutex: ") + platform::systemErrorText(EOWNERDEAD, text, 256)),
              capturedStdout([&] { EXPECT_FALSE(trackers.lock()); }));
    EXPECT_EQ(1u, area.trackerSequence % 2);
    EXPECT_EQ("", capturedStdout([&] { EXPECT_TRUE(trackers.unlock() && trackers.lock() && trackers.unlock()); }));
    EXPECT_EQ(0u, area.trackerSequence % 2);
}
