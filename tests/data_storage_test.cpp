#include "framework/data_storage.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

CLogH bareLogger() {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName("HOST");
    return log;
}

std::string errorLine(const char* message) { return std::string("HOST: ERROR: ") + message + "\n"; }

std::string systemText(int code) {
    char text[256];
    return platform::systemErrorText(code, text, sizeof text);
}

// What the host keeps in its shared area, mapped shared so that forked
// children see the same bytes.
struct Area {
    TraData trackers[CDataStorage::kMaxRecords];
    ConData controllers[CDataStorage::kMaxRecords];
    uint32_t trackerCount;
    uint32_t controllerCount;
    uint32_t sequence;
    uint32_t writerDone;
    uint32_t childReady;
    platform::SharedMutex mutex;
};

class SharedArea {
public:
    SharedArea() {
        void* memory = mmap(nullptr, sizeof(Area), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED) {
            area = static_cast<Area*>(memory);
            std::memset(area, 0, sizeof(Area));
            mutexReady = platform::createSharedMutex(area->mutex);
        }
    }
    ~SharedArea() {
        if (area != nullptr) {
            if (mutexReady) {
                platform::destroySharedMutex(area->mutex);
            }
            munmap(area, sizeof(Area));
        }
    }
    SharedArea(const SharedArea&) = delete;
    SharedArea& operator=(const SharedArea&) = delete;

    Area* area = nullptr;
    bool mutexReady = false;
};

class StorageTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(shared.mutexReady); }

    Area& area() { return *shared.area; }

    // Runs one count operation and returns what it printed.
    template <class Operation>
    std::string output(Operation operation) {
        testing::internal::CaptureStdout();
        operation();
        return testing::internal::GetCapturedStdout();
    }

    SharedArea shared;
    CLogH log = bareLogger();
    CMutexH mutex{&shared.area->mutex, &log, &shared.area->sequence};
    CDataStorage trackers{shared.area->trackers, nullptr, &log, &mutex, &shared.area->trackerCount};
    CDataStorage controllers{nullptr, shared.area->controllers, &log, &mutex, &shared.area->controllerCount};
};

}  // namespace

// --- Count operations -------------------------------------------------------------

TEST_F(StorageTest, SetNumTrackersChecksInOrder) {
    area().trackerCount = 3;
    // Too big comes first, even on a storage with nothing set up.
    CDataStorage empty(nullptr, nullptr, &log, nullptr, nullptr);
    EXPECT_EQ(errorLine("CDataStorage: The new number is too big."),
              output([&] { EXPECT_FALSE(empty.setNumTrackers(33)); }));
    EXPECT_EQ(errorLine("CDataStorage: The new number is too big."),
              output([&] { EXPECT_FALSE(controllers.setNumTrackers(33)); }));
    EXPECT_EQ(errorLine("Delete controller data list first."),
              output([&] { EXPECT_FALSE(controllers.setNumTrackers(5)); }));
    CDataStorage both(area().trackers, area().controllers, &log, nullptr, &area().trackerCount);
    EXPECT_EQ(errorLine("Delete controller data list first."), output([&] { EXPECT_FALSE(both.setNumTrackers(0)); }));
    EXPECT_EQ(errorLine("CDataStorage: Data storage has not been created yet."),
              output([&] { EXPECT_FALSE(empty.setNumTrackers(0)); }));
    CDataStorage noMutex(area().trackers, nullptr, &log, nullptr, &area().trackerCount);
    EXPECT_EQ(errorLine("CDataStorage: Mutex has not been set up yet."),
              output([&] { EXPECT_FALSE(noMutex.setNumTrackers(0)); }));
    EXPECT_EQ(errorLine("CDataStorage: the number of data is zero."),
              output([&] { EXPECT_FALSE(trackers.setNumTrackers(0)); }));
    EXPECT_EQ(3u, area().trackerCount);
    EXPECT_EQ("", output([&] { EXPECT_TRUE(trackers.setNumTrackers(32)); }));
    EXPECT_EQ(32u, area().trackerCount);
    EXPECT_EQ(32u, trackers.getNumTrackers());
}

TEST_F(StorageTest, SetNumControllersChecksInOrder) {
    area().controllerCount = 2;
    CDataStorage empty(nullptr, nullptr, &log, nullptr, nullptr);
    EXPECT_EQ(errorLine("CDataStorage: The new number is too big."),
              output([&] { EXPECT_FALSE(trackers.setNumControllers(40)); }));
    EXPECT_EQ(errorLine("CDataStorage: Delete tracker data list first."),
              output([&] { EXPECT_FALSE(trackers.setNumControllers(5)); }));
    EXPECT_EQ(errorLine("CDataStorage: Datt Storage has not been created yet."),
              output([&] { EXPECT_FALSE(empty.setNumControllers(0)); }));
    CDataStorage noMutex(nullptr, area().controllers, &log, nullptr, &area().controllerCount);
    EXPECT_EQ(errorLine("CDataStorage: Mutex has not been set up yet."),
              output([&] { EXPECT_FALSE(noMutex.setNumControllers(0)); }));
    EXPECT_EQ(errorLine("CDataStorage: the number of data is zero."),
              output([&] { EXPECT_FALSE(controllers.setNumControllers(0)); }));
    EXPECT_EQ(2u, area().controllerCount);
    EXPECT_EQ("", output([&] { EXPECT_TRUE(controllers.setNumControllers(7)); }));
    EXPECT_EQ(7u, controllers.getNumControllers());
}

TEST_F(StorageTest, CountsBelongToTheirKindOfList) {
    area().trackerCount = 4;
    area().controllerCount = 6;
    EXPECT_EQ(4u, trackers.getNumTrackers());
    EXPECT_EQ(0u, trackers.getNumControllers());
    EXPECT_EQ(6u, controllers.getNumControllers());
    EXPECT_EQ(0u, controllers.getNumTrackers());
    EXPECT_EQ(nullptr, controllers.getTraData(1));
    EXPECT_EQ(nullptr, trackers.getConData(1));
}

// --- Look-ups -------------------------------------------------------------------------

TEST_F(StorageTest, LookUpsStopAtTheCount) {
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
}

TEST_F(StorageTest, AHostileCountOpensNoRecordBeyondTheList) {
    area().trackerCount = 1000;
    area().controllerCount = 0xFFFFFFFFu;
    EXPECT_EQ(&area().trackers[31], trackers.getTraData(32));
    EXPECT_EQ(nullptr, trackers.getTraData(33));
    EXPECT_EQ(nullptr, controllers.getConData(33));
    EXPECT_EQ(nullptr, controllers.getConData(0xFFFFFFFFu));
}

// --- Mutex ----------------------------------------------------------------------------

TEST_F(StorageTest, LockMovesTheSequenceOddWhileHeld) {
    EXPECT_EQ(0u, area().sequence);
    EXPECT_EQ("", output([&] {
                  EXPECT_TRUE(trackers.lock());
                  EXPECT_EQ(1u, platform::atomicLoad(area().sequence));
                  EXPECT_TRUE(trackers.unlock());
              }));
    EXPECT_EQ(2u, area().sequence);
    CMutexH plain(&area().mutex, &log);
    EXPECT_TRUE(plain.lock());
    EXPECT_TRUE(plain.unlock());
    EXPECT_EQ(2u, area().sequence);
}

TEST_F(StorageTest, NoMutexMeansNoLock) {
    CDataStorage noMutex(area().trackers, nullptr, &log, nullptr, &area().trackerCount);
    EXPECT_EQ("", output([&] {
                  EXPECT_FALSE(noMutex.lock());
                  EXPECT_FALSE(noMutex.unlock());
              }));
    CMutexH noHandle(nullptr, &log);
    EXPECT_EQ("HOST: ERROR: CMutexH: Locking mutex: The mutex handle is empty.\n",
              output([&] { EXPECT_FALSE(noHandle.lock()); }));
    EXPECT_EQ("HOST: ERROR: CMutexH: Unlocking mutex: The mutex handle is empty.\n",
              output([&] { EXPECT_FALSE(noHandle.unlock()); }));
}

TEST_F(StorageTest, UnlockingAMutexNotHeldIsReportedWithTheSystemText) {
    EXPECT_EQ("HOST: ERROR: CMutexH: Unlocking mutex: " + systemText(EPERM) + "\n",
              output([&] { EXPECT_FALSE(mutex.unlock()); }));
    EXPECT_EQ(0u, area().sequence);
}

TEST_F(StorageTest, LockingTwiceReportsInsteadOfHanging) {
    ASSERT_TRUE(mutex.lock());
    EXPECT_EQ("HOST: ERROR: CMutexH: Locking mutex: " + systemText(EDEADLK) + "\n",
              output([&] { EXPECT_FALSE(mutex.lock()); }));
    EXPECT_EQ(1u, area().sequence);
    EXPECT_TRUE(mutex.unlock());
    EXPECT_EQ(2u, area().sequence);
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
int readUnderTheLock(Area& area, CLogH& log) {
    CMutexH mutex(&area.mutex, &log, &area.sequence);
    uint32_t copies = 0;
    platform::atomicStore(area.childReady, 1);
    const uint64_t deadline = platform::monotonicMillis() + 60000;
    while (platform::atomicLoad(area.writerDone) == 0 && platform::monotonicMillis() < deadline) {
        mutex.lock();
        TraData copy[4];
        std::memcpy(copy, area.trackers, sizeof copy);
        mutex.unlock();
        for (const TraData& rec : copy) {
            if (!consistent(rec)) {
                return 1;
            }
        }
        ++copies;
    }
    return copies > 0 ? 0 : 2;
}

// The sequence word lets a reader copy without the lock: a copy taken while
// the word was even and unchanged is whole.
int readBySequence(Area& area) {
    uint32_t whole = 0;
    platform::atomicStore(area.childReady, 1);
    const uint64_t deadline = platform::monotonicMillis() + 60000;
    while (platform::atomicLoad(area.writerDone) == 0 && platform::monotonicMillis() < deadline) {
        uint32_t before = platform::atomicLoad(area.sequence);
        if (before & 1u) {
            continue;
        }
        TraData copy;
        std::memcpy(&copy, static_cast<const void*>(&area.trackers[2]), sizeof copy);
        platform::atomicFence();
        if (platform::atomicLoad(area.sequence) != before) {
            continue;
        }
        if (!consistent(copy)) {
            return 1;
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

void waitUntilReady(Area& area) {
    const uint64_t deadline = platform::monotonicMillis() + 10000;
    while (platform::atomicLoad(area.childReady) == 0 && platform::monotonicMillis() < deadline) {
        platform::sleepMillis(1);
    }
}

}  // namespace

TEST_F(StorageTest, AReaderInAnotherProcessNeverSeesATornRecord) {
    area().trackerCount = 4;
    for (uint32_t i = 0; i < 4; ++i) {
        writeFieldByField(area().trackers[i], 0);
    }
    pid_t locked = fork();
    ASSERT_NE(-1, locked);
    if (locked == 0) {
        _exit(readUnderTheLock(area(), log));
    }
    waitUntilReady(area());
    area().childReady = 0;
    pid_t lockFree = fork();
    ASSERT_NE(-1, lockFree);
    if (lockFree == 0) {
        _exit(readBySequence(area()));
    }
    waitUntilReady(area());

    constexpr uint32_t kWrites = 40000;
    for (uint32_t k = 1; k <= kWrites; ++k) {
        ASSERT_TRUE(trackers.lock());
        writeFieldByField(*trackers.getTraData(1 + k % 4), k);
        ASSERT_TRUE(trackers.unlock());
    }
    platform::atomicStore(area().writerDone, 1);
    EXPECT_EQ(0, waitForExit(locked)) << "1: torn record under the lock, 2: no copy made";
    EXPECT_EQ(0, waitForExit(lockFree)) << "1: torn record by the sequence, 2: no whole copy";
    EXPECT_EQ(0u, area().sequence % 2);
}

TEST_F(StorageTest, AHolderKilledInsideTheLockDoesNotBlockTheNextWriter) {
    pid_t holder = fork();
    ASSERT_NE(-1, holder);
    if (holder == 0) {
        CMutexH childMutex(&area().mutex, &log, &area().sequence);
        childMutex.lock();
        area().trackers[0].setX(1.0f);  // half-way through a write
        platform::atomicStore(area().childReady, 1);
        for (;;) {
            pause();
        }
    }
    waitUntilReady(area());
    ASSERT_EQ(1u, platform::atomicLoad(area().childReady));
    ASSERT_EQ(0, kill(holder, SIGKILL));
    int status = 0;
    ASSERT_EQ(holder, waitpid(holder, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(1u, area().sequence);  // the dead holder left it odd

    // The next writer gets the lock, hears of the dead owner, and goes on.
    EXPECT_EQ("HOST: ERROR: CMutexH: Locking mutex: " + systemText(EOWNERDEAD) + "\n",
              output([&] { EXPECT_FALSE(trackers.lock()); }));
    EXPECT_EQ(1u, area().sequence % 2);
    EXPECT_EQ("", output([&] { EXPECT_TRUE(trackers.unlock()); }));
    EXPECT_EQ(0u, area().sequence % 2);
    // Consistent again: later lockers see nothing wrong.
    EXPECT_EQ("", output([&] {
                  EXPECT_TRUE(trackers.lock());
                  EXPECT_TRUE(trackers.unlock());
              }));
}
