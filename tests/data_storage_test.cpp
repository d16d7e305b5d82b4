// The storage view and its inter-process mutex over real shared memory,
// with forked readers and a writer killed inside the lock.
#include "framework/data_storage.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "shared_storage_fixture.h"
#include "stdout_capture.h"

using test_support::capturedStdout;

namespace {

std::string errorLine(const std::string& message) { return "HOST: ERROR: " + message + "\n"; }

std::string systemText(int code) {
    char text[256];
    return platform::systemErrorText(code, text, sizeof text);
}

// Hand-shake words of the forked children, in a mapping of their own.
struct Flags {
    uint32_t writerDone;
    uint32_t childReady;
};

// The storage in memory that forked children share with the test.
struct SharedMapping {
    void* memory = mmap(nullptr, sizeof(test_support::SharedArea), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ~SharedMapping() { munmap(memory, sizeof(test_support::SharedArea)); }
};

class StorageTest : public testing::Test {
protected:
    void SetUp() override {
        void* memory = mmap(nullptr, sizeof(Flags), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(MAP_FAILED, memory);
        flags = static_cast<Flags*>(memory);
        *flags = Flags{};
    }
    void TearDown() override { munmap(flags, sizeof(Flags)); }

    test_support::SharedArea& area() { return *shared.area; }
    void waitUntilReady() {
        const uint64_t deadline = platform::monotonicMillis() + 10000;
        while (platform::atomicLoad(flags->childReady) == 0 && platform::monotonicMillis() < deadline) {
            platform::sleepMillis(1);
        }
    }

    SharedMapping mapping;
    test_support::SharedStorage shared{mapping.memory};
    CLogH& log = shared.hostLog;
    CMutexH& mutex = shared.trackerMutex;
    CDataStorage& trackers = shared.trackerStorage;
    CDataStorage& controllers = shared.controllerStorage;
    Flags* flags = nullptr;
};

}  // namespace

// Each count operation checks in a fixed order, and only the first failing
// check is reported; a failed operation leaves the count as it was.
TEST_F(StorageTest, CountOperationsCheckInOrder) {
    area().trackerCount = 3;
    area().controllerCount = 2;
    CDataStorage empty(nullptr, nullptr, &log, nullptr, nullptr);
    CDataStorage both(area().trackers, area().controllers, &log, nullptr, &area().trackerCount);
    CDataStorage trackersNoMutex(area().trackers, nullptr, &log, nullptr, &area().trackerCount);
    CDataStorage controllersNoMutex(nullptr, area().controllers, &log, nullptr, &area().controllerCount);
    const struct {
        CDataStorage* storage;
        bool trackerCount;
        uint32_t n;
        const char* message;
    } cases[] = {
        {&empty, true, 33, "CDataStorage: The new number is too big."},  // first, even with nothing set up
        {&controllers, true, 33, "CDataStorage: The new number is too big."},
        {&controllers, true, 5, "Delete controller data list first."},
        {&both, true, 0, "Delete controller data list first."},
        {&empty, true, 0, "CDataStorage: Data storage has not been created yet."},
        {&trackersNoMutex, true, 0, "CDataStorage: Mutex has not been set up yet."},
        {&trackers, true, 0, "CDataStorage: the number of data is zero."},
        {&trackers, false, 40, "CDataStorage: The new number is too big."},
        {&trackers, false, 5, "CDataStorage: Delete tracker data list first."},
        {&empty, false, 0, "CDataStorage: Datt Storage has not been created yet."},
        {&controllersNoMutex, false, 0, "CDataStorage: Mutex has not been set up yet."},
        {&controllers, false, 0, "CDataStorage: the number of data is zero."},
    };
    for (const auto& c : cases) {
        const std::string out = capturedStdout([&] {
            EXPECT_FALSE(c.trackerCount ? c.storage->setNumTrackers(c.n) : c.storage->setNumControllers(c.n));
        });
        EXPECT_EQ(errorLine(c.message), out) << c.n;
    }
    EXPECT_EQ(3u, area().trackerCount);
    EXPECT_EQ(2u, area().controllerCount);
    EXPECT_EQ("", capturedStdout([&] {
                  EXPECT_TRUE(trackers.setNumTrackers(32));
                  EXPECT_TRUE(controllers.setNumControllers(7));
              }));
    EXPECT_EQ(32u, trackers.getNumTrackers());
    EXPECT_EQ(7u, controllers.getNumControllers());
    // Each storage answers only for its own kind of list.
    EXPECT_EQ(0u, trackers.getNumControllers());
    EXPECT_EQ(0u, controllers.getNumTrackers());
    EXPECT_EQ(nullptr, controllers.getTraData(1));
    EXPECT_EQ(nullptr, trackers.getConData(1));
}

TEST_F(StorageTest, LookUpsStopAtTheCountAndAtTheList) {
    area().trackerCount = 5;
    area().controllerCount = 2;
    EXPECT_EQ(&area().trackers[0], trackers.getTraData(1));
    EXPECT_EQ(&area().trackers[4], trackers.getTraData(5));
    EXPECT_EQ(nullptr, trackers.getTraData(6));
    EXPECT_EQ(nullptr, trackers.getTraData(0));
    EXPECT_EQ(&area().controllers[1], controllers.getConData(2));
    EXPECT_EQ(nullptr, controllers.getConData(3));
    EXPECT_EQ(nullptr, controllers.getConData(0));
    // Records lie back to back.
    EXPECT_EQ(56, reinterpret_cast<char*>(trackers.getTraData(2)) - reinterpret_cast<char*>(trackers.getTraData(1)));
    EXPECT_EQ(184,
              reinterpret_cast<char*>(controllers.getConData(2)) - reinterpret_cast<char*>(controllers.getConData(1)));
    // A hostile count opens no record beyond the 32 that exist.
    area().trackerCount = 1000;
    area().controllerCount = 0xFFFFFFFFu;
    EXPECT_EQ(&area().trackers[31], trackers.getTraData(32));
    EXPECT_EQ(nullptr, trackers.getTraData(33));
    EXPECT_EQ(nullptr, controllers.getConData(33));
    EXPECT_EQ(nullptr, controllers.getConData(0xFFFFFFFFu));
}

TEST_F(StorageTest, LockMovesTheSequenceOddWhileHeld) {
    EXPECT_EQ("", capturedStdout([&] {
                  EXPECT_TRUE(trackers.lock());
                  EXPECT_EQ(1u, platform::atomicLoad(area().trackerSequence));
                  EXPECT_TRUE(trackers.unlock());
              }));
    EXPECT_EQ(2u, area().trackerSequence);
    CMutexH plain(&area().trackerMutex, &log);  // without a sequence word
    EXPECT_TRUE(plain.lock());
    EXPECT_TRUE(plain.unlock());
    EXPECT_EQ(2u, area().trackerSequence);
}

TEST_F(StorageTest, LockFailuresAreReportedWithTheSystemText) {
    CDataStorage noMutex(area().trackers, nullptr, &log, nullptr, &area().trackerCount);
    EXPECT_EQ("", capturedStdout([&] {
                  EXPECT_FALSE(noMutex.lock());
                  EXPECT_FALSE(noMutex.unlock());
              }));
    CMutexH noHandle(nullptr, &log);
    EXPECT_EQ(errorLine("CMutexH: Locking mutex: The mutex handle is empty."),
              capturedStdout([&] { EXPECT_FALSE(noHandle.lock()); }));
    EXPECT_EQ(errorLine("CMutexH: Unlocking mutex: The mutex handle is empty."),
              capturedStdout([&] { EXPECT_FALSE(noHandle.unlock()); }));

    EXPECT_EQ(errorLine("CMutexH: Unlocking mutex: " + systemText(EPERM)),
              capturedStdout([&] { EXPECT_FALSE(mutex.unlock()); }));
    EXPECT_EQ(0u, area().trackerSequence);
}

// The holder may lock again, as with the host's Windows mutexes; it stays
// held (for other threads too) until the last of its unlocks.
TEST_F(StorageTest, TheHolderMayLockAgainAndUnlocksOncePerLock) {
    auto othersCanLock = [&] {
        int code = -1;
        std::thread([&] {
            code = pthread_mutex_trylock(&area().trackerMutex.native);
            if (code == 0) pthread_mutex_unlock(&area().trackerMutex.native);
        }).join();
        return code == 0;
    };
    EXPECT_EQ("", capturedStdout([&] {
                  ASSERT_TRUE(mutex.lock());
                  ASSERT_TRUE(mutex.lock());
                  EXPECT_TRUE(mutex.unlock());
                  EXPECT_FALSE(othersCanLock());
                  EXPECT_EQ(1u, area().trackerSequence) << "odd while held";
                  EXPECT_TRUE(mutex.unlock());
              }));
    EXPECT_TRUE(othersCanLock());
    EXPECT_EQ(2u, area().trackerSequence);
}

namespace {

// Every field of record k carries k, so a copy mixing two writes shows.
void writeFieldByField(TraData& rec, uint32_t k) {
    rec.setTime(k, k);
    const auto v = static_cast<float>(k % 20000);
    rec.setX(v);
    rec.setY(v);
    rec.setZ(v);
    if (k % 64 == 0) {
        platform::yieldProcessor();  // widen the window a broken lock would show
    }
    rec.setAzim(v);
    rec.setElev(v);
    rec.setRoll(v);
}

bool consistent(const TraData& rec) {
    uint32_t k = records::fromBE32(rec.seconds);
    const auto v = static_cast<float>(k % 20000);
    return records::fromBE32(rec.microseconds) == k && rec.getX() == v && rec.getY() == v && rec.getZ() == v &&
           rec.getAzim() == v && rec.getElev() == v && rec.getRoll() == v;
}

// Child exit codes: 0 all consistent; 1 a torn copy; 2 nothing copied.
// With a lock, all four records are copied under it; without, record 3 is
// copied while the sequence word is even and unchanged.
int readWhileWritten(test_support::SharedArea& area, Flags& flags, CMutexH* mutex) {
    uint32_t whole = 0;
    platform::atomicStore(flags.childReady, 1);
    const uint64_t deadline = platform::monotonicMillis() + 60000;
    while (platform::atomicLoad(flags.writerDone) == 0 && platform::monotonicMillis() < deadline) {
        TraData copy[4];
        if (mutex != nullptr) {
            mutex->lock();
            std::memcpy(copy, area.trackers, sizeof copy);
            mutex->unlock();
        } else {
            const uint32_t before = platform::atomicLoad(area.trackerSequence);
            if (before & 1u) continue;
            std::memcpy(copy, static_cast<const void*>(area.trackers), sizeof copy);
            platform::atomicFence();
            if (platform::atomicLoad(area.trackerSequence) != before) continue;
        }
        for (const TraData& rec : copy) {
            if (!consistent(rec)) return 1;
        }
        ++whole;
    }
    return whole > 0 ? 0 : 2;
}

int waitForExit(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace

TEST_F(StorageTest, AReaderInAnotherProcessNeverSeesATornRecord) {
    area().trackerCount = 4;
    for (uint32_t i = 0; i < 4; ++i) {
        writeFieldByField(area().trackers[i], 0);
    }
    pid_t children[2];
    for (int lockFree = 0; lockFree < 2; ++lockFree) {
        flags->childReady = 0;
        children[lockFree] = fork();
        ASSERT_NE(-1, children[lockFree]);
        if (children[lockFree] == 0) {
            CMutexH childMutex(&area().trackerMutex, &log, &area().trackerSequence);
            _exit(readWhileWritten(area(), *flags, lockFree ? nullptr : &childMutex));
        }
        waitUntilReady();
    }
    constexpr uint32_t kWrites = 40000;
    for (uint32_t k = 1; k <= kWrites; ++k) {
        ASSERT_TRUE(trackers.lock());
        writeFieldByField(*trackers.getTraData(1 + k % 4), k);
        ASSERT_TRUE(trackers.unlock());
    }
    platform::atomicStore(flags->writerDone, 1);
    EXPECT_EQ(0, waitForExit(children[0])) << "1: torn record under the lock, 2: no copy made";
    EXPECT_EQ(0, waitForExit(children[1])) << "1: torn record by the sequence, 2: no whole copy";
    EXPECT_EQ(0u, area().trackerSequence % 2);
}

TEST_F(StorageTest, AHolderKilledInsideTheLockDoesNotBlockTheNextWriter) {
    pid_t holder = fork();
    ASSERT_NE(-1, holder);
    if (holder == 0) {
        CMutexH childMutex(&area().trackerMutex, &log, &area().trackerSequence);
        childMutex.lock();
        area().trackers[0].setX(1.0f);  // half-way through a write
        platform::atomicStore(flags->childReady, 1);
        for (;;) {
            pause();
        }
    }
    waitUntilReady();
    ASSERT_EQ(1u, platform::atomicLoad(flags->childReady));
    ASSERT_EQ(0, kill(holder, SIGKILL));
    int status = 0;
    ASSERT_EQ(holder, waitpid(holder, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(1u, area().trackerSequence);  // the dead holder left it odd

    // The next writer gets the lock, hears of the dead owner, and goes on.
    EXPECT_EQ(errorLine("CMutexH: Locking mutex: " + systemText(EOWNERDEAD)),
              capturedStdout([&] { EXPECT_FALSE(trackers.lock()); }));
    EXPECT_EQ(1u, area().trackerSequence % 2);
    EXPECT_EQ("", capturedStdout([&] { EXPECT_TRUE(trackers.unlock()); }));
    EXPECT_EQ(0u, area().trackerSequence % 2);
    // Consistent again: later lockers see nothing wrong.
    EXPECT_EQ("", capturedStdout([&] {
                  EXPECT_TRUE(trackers.lock());
                  EXPECT_TRUE(trackers.unlock());
              }));
}
