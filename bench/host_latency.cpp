// host_latency: how long a frame takes from the sender to a reader of the
// shared memory, and how much receiver CPU it costs, for trackhost with the
// module beside a bare receiver (poll, receive, drain, publish the frame
// number) on the same frames. See docs/performance.md.
//
// Linux only: it pins threads, reads other processes' CPU clocks and
// /proc, which is what it measures; it is not part of the shipped code.
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/storage_layout.h"
#include "platform/child_process.h"
#include "platform/shared_memory.h"

namespace {

struct Options {
    double rate = 1000.0;
    int bodies = 16;
    double seconds = 10.0;
    bool detail = false;
    bool busy = false;                               // a CPU-bound process on the receiver's core throughout
    std::string trackhost = HOST_LATENCY_TRACKHOST;  // the build's own by default
    std::string module = HOST_LATENCY_MODULE;
};

const char kUsage[] =
    "usage: host_latency [--rate HZ] [--bodies N] [--seconds S] [--busy] [--detail]\n"
    "                    [--trackhost PATH] [--module PATH]\n"
    "  runs a bare receiver, then trackhost with the module, on the same frames\n"
    "  (defaults: 1000 Hz, 16 bodies, 10 s each, this build's trackhost and module);\n"
    "  --busy runs a CPU-bound process on the receiver's core (a build, say);\n"
    "  --detail adds the receivers' threads\n";

uint64_t nowNanos() noexcept {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}

// --- what the receivers publish ----------------------------------------------

// The bare receiver's shared word pair, written by the same sequence rule as
// the host's storage: odd while it writes.
struct BarePublication {
    uint32_t sequence;
    uint32_t frame;
};

// Frame n carries n in every body's position: x = n mod 100000 mm, y = n div
// 100000 mm, exact through the conversion to feet and the 1e-5 ft encoding.
uint32_t frameOfTracker(const TraData& record) noexcept {
    auto millimetres = [&](size_t offset) {
        uint32_t word = 0;
        std::memcpy(&word, reinterpret_cast<const char*>(&record) + offset, 4);
        const auto fixed = static_cast<int32_t>(__builtin_bswap32(word));
        return static_cast<uint32_t>(std::lround(fixed / 100000.0 * 304.8));
    };
    return millimetres(24) * 100000u + millimetres(20);
}

// --- the bare receiver (a process of its own, like the host) ------------------

int runBareReceiver(uint16_t port, const char* publicationName) {
    int memory = shm_open(publicationName, O_RDWR, 0);
    if (memory < 0) return 1;
    void* mapped = mmap(nullptr, sizeof(BarePublication), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    close(memory);
    if (mapped == MAP_FAILED) return 1;
    auto* publication = static_cast<BarePublication*>(mapped);
    int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
    std::vector<char> buffer(32768);
    for (;;) {
        pollfd wait{socket, POLLIN, 0};
        if (poll(&wait, 1, 1000) <= 0) continue;
        ssize_t length = recv(socket, buffer.data(), buffer.size() - 1, 0);
        for (ssize_t newer; (newer = recv(socket, buffer.data(), buffer.size() - 1, MSG_DONTWAIT)) >= 0;) {
            length = newer;
        }
        uint32_t frame = 0;
        if (length < 4 || std::from_chars(buffer.data() + 3, buffer.data() + length, frame).ec != std::errc()) continue;
        const uint32_t sequence = publication->sequence;
        __atomic_store_n(&publication->sequence, sequence + 1, __ATOMIC_RELAXED);
        __atomic_thread_fence(__ATOMIC_RELEASE);
        __atomic_store_n(&publication->frame, frame, __ATOMIC_RELAXED);
        __atomic_store_n(&publication->sequence, sequence + 2, __ATOMIC_RELEASE);
    }
}

// --- sender and reader ----------------------------------------------------------

struct Run {
    std::vector<uint64_t> sentAt;  // by frame number; 0: not sent
    std::vector<uint64_t> seenAt;  // by frame number; 0: never seen
    uint32_t firstMeasured = 0;    // frames before it warm the receiver up
    uint32_t lastSent = 0;
    uint32_t lateSends = 0;
    std::atomic<bool> sending{true};
};

std::string frameText(uint32_t frame, int bodies) {
    std::string text = "fr " + std::to_string(frame) + "\nts 0.000000\n6d " + std::to_string(bodies);
    char body[192];
    for (int i = 0; i < bodies; ++i) {
        const double a = 0.1 * i;
        std::snprintf(
            body, sizeof body,
            " [%d 1.000][%u.000 %u.000 %d.000][%.6f %.6f 0.000000 %.6f %.6f 0.000000 0.000000 0.000000 1.000000]", i,
            frame % 100000, frame / 100000, 100 * i, std::cos(a), std::sin(a), -std::sin(a), std::cos(a));
        text += body;
    }
    return text + "\n";
}

void pinTo(int cpu) {
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

// Sends warm-up frames for half a second, then measured ones for the
// given time, on an absolute schedule; a sender that fell more than a
// period behind skips ahead rather than sending a burst.
void sendFrames(Run& run, const Options& options, uint16_t port, int cpu, const std::function<void()>& markStart) {
    pinTo(cpu);
    prctl(PR_SET_TIMERSLACK, 1);
    int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto period = static_cast<uint64_t>(1e9 / options.rate);
    const auto warmUp = static_cast<uint32_t>(options.rate / 2) + 1;
    const auto total = warmUp + static_cast<uint32_t>(options.rate * options.seconds);
    run.firstMeasured = warmUp + 1;
    uint64_t next = nowNanos() + period;
    std::string text = frameText(1, options.bodies);
    for (uint32_t frame = 1; frame <= total && frame < run.sentAt.size(); ++frame) {
        timespec at{static_cast<time_t>(next / 1000000000ull), static_cast<long>(next % 1000000000ull)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        if (frame == run.firstMeasured) markStart();
        run.sentAt[frame] = nowNanos();
        sendto(socket, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        run.lastSent = frame;
        text = frameText(frame + 1, options.bodies);
        next += period;
        if (nowNanos() > next + period) {
            ++run.lateSends;
            next = nowNanos() + period;
        }
    }
    close(socket);
}

// Eases a spinning reader's pull on the writer's cache line (x86 only; a
// plain spin elsewhere).
inline void spinPause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins on a sequence word; `copy` takes what it guards and returns the
// frame number, and counts only when the sequence was even and unchanged.
template <typename Copy>
void readFrames(Run& run, const uint32_t* sequence, int cpu, Copy copy) {
    pinTo(cpu);
    uint32_t lastSequence = 1;
    uint32_t newest = 0;
    while (run.sending.load(std::memory_order_relaxed)) {
        const uint32_t before = __atomic_load_n(sequence, __ATOMIC_ACQUIRE);
        if ((before & 1u) != 0 || before == lastSequence) {
            spinPause();
            continue;
        }
        const uint32_t frame = copy();
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
        if (__atomic_load_n(sequence, __ATOMIC_RELAXED) != before) continue;
        lastSequence = before;
        if (frame > newest && frame < run.seenAt.size()) {
            run.seenAt[frame] = nowNanos();
            newest = frame;
        }
    }
}

// --- the receiver's CPU time ----------------------------------------------------

struct ThreadSample {
    std::string name;
    uint64_t cpuNanos = 0;
    uint64_t voluntarySwitches = 0;
    uint64_t forcedSwitches = 0;
};

struct CpuSample {
    uint64_t processNanos = 0;
    std::map<long, ThreadSample> threads;  // by thread id
};

uint64_t numberAfter(const std::string& text, const char* key) {
    size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + std::strlen(key), nullptr, 10);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The process's CPU clock (all its threads, in nanoseconds); with detail
// also each thread's run time and context switches from /proc.
CpuSample sampleCpu(pid_t pid, bool detail) {
    CpuSample sample;
    clockid_t clock{};
    timespec t{};
    if (clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &t) == 0) {
        sample.processNanos = static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
    }
    if (!detail) return sample;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* listing = opendir(tasks.c_str());
    if (listing == nullptr) return sample;
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.') continue;
        const std::string dir = tasks + "/" + entry->d_name;
        ThreadSample& thread = sample.threads[std::atol(entry->d_name)];
        thread.name = fileText(dir + "/comm");
        if (!thread.name.empty()) thread.name.pop_back();
        thread.cpuNanos = std::strtoull(fileText(dir + "/schedstat").c_str(), nullptr, 10);
        const std::string status = fileText(dir + "/status");
        thread.voluntarySwitches = numberAfter(status, "\nvoluntary_ctxt_switches:");
        thread.forcedSwitches = numberAfter(status, "\nnonvoluntary_ctxt_switches:");
    }
    closedir(listing);
    return sample;
}

// --- one receiver's run -----------------------------------------------------------

struct Result {
    double cpuMicrosPerFrame = 0;
    double percentile[4] = {};  // 50, 90, 99, 99.9, in microseconds
    double shareSeen = 0;
    uint32_t measured = 0;
    uint32_t lateSends = 0;
    CpuSample cpuBefore, cpuAfter;
};

constexpr double kPercentiles[4] = {0.50, 0.90, 0.99, 0.999};

struct Cpus {
    int receiver = -1;
    int senderAndReader = -1;
};

// Sends the frames to `port` while `readFrames` watches `sequence`, and
// samples the receiver's CPU over the measured frames.
template <typename Copy>
Result measure(const Options& options, const Cpus& cpus, pid_t receiver, uint16_t port, const uint32_t* sequence,
               Copy copy) {
    const auto capacity = static_cast<size_t>(options.rate * (options.seconds + 1.0)) + 16;
    Run run;
    run.sentAt.assign(capacity, 0);
    run.seenAt.assign(capacity, 0);
    Result result;
    std::thread reader([&] { readFrames(run, sequence, cpus.senderAndReader, copy); });
    std::thread sender([&] {
        sendFrames(run, options, port, cpus.senderAndReader,
                   [&] { result.cpuBefore = sampleCpu(receiver, options.detail); });
    });
    sender.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the last frame's way through
    result.cpuAfter = sampleCpu(receiver, options.detail);
    run.sending.store(false);
    reader.join();
    std::vector<double> latencies;
    for (uint32_t frame = run.firstMeasured; frame <= run.lastSent; ++frame) {
        ++result.measured;
        if (run.seenAt[frame] != 0) latencies.push_back((run.seenAt[frame] - run.sentAt[frame]) / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    for (int i = 0; i < 4 && !latencies.empty(); ++i) {
        const auto rank = static_cast<size_t>(std::ceil(kPercentiles[i] * latencies.size()));
        result.percentile[i] = latencies[std::max<size_t>(rank, 1) - 1];
    }
    if (result.measured > 0) {
        result.shareSeen = static_cast<double>(latencies.size()) / result.measured;
        result.cpuMicrosPerFrame =
            (result.cpuAfter.processNanos - result.cpuBefore.processNanos) / 1000.0 / result.measured;
    }
    result.lateSends = run.lateSends;
    return result;
}

// A port that was free a moment ago (the receivers bind it themselves).
uint16_t freePort() {
    int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

// Starts a receiver on the receiver's CPU: a child inherits the affinity of
// the thread that starts it, so this thread moves there for the moment.
bool startOn(int cpu, const std::vector<std::string>& argv, const std::string& logBase, platform::ChildProcess& child) {
    pinTo(cpu);
    const bool started = platform::startChildProcess(argv, logBase + ".out", logBase + ".err", {}, child);
    cpu_set_t all;
    CPU_ZERO(&all);
    for (int i = 0; i < CPU_SETSIZE; ++i) CPU_SET(i, &all);
    sched_setaffinity(0, sizeof all, &all);
    return started;
}

void stopReceiver(platform::ChildProcess& child) {
    int status = 0;
    platform::requestChildStop(child);
    if (!platform::waitChildProcess(child, 10000, status)) {
        platform::killChildProcess(child);
        platform::waitChildProcess(child, 10000, status);
    }
}

bool runBare(const Options& options, const Cpus& cpus, const std::string& self, const std::string& base,
             Result& result) {
    const std::string name = "/" + base.substr(base.rfind('/') + 1);
    int memory = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (memory < 0 || ftruncate(memory, sizeof(BarePublication)) != 0) return false;
    void* mapped = mmap(nullptr, sizeof(BarePublication), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    close(memory);
    if (mapped == MAP_FAILED) return false;
    auto* publication = static_cast<BarePublication*>(mapped);
    const uint16_t port = freePort();
    platform::ChildProcess child;
    bool ok = startOn(cpus.receiver, {self, "--bare-receiver", std::to_string(port), name}, base + "-bare", child);
    if (ok) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        result = measure(options, cpus, static_cast<pid_t>(child.id), port, &publication->sequence,
                         [&] { return __atomic_load_n(&publication->frame, __ATOMIC_RELAXED); });
        stopReceiver(child);
    }
    munmap(mapped, sizeof(BarePublication));
    shm_unlink(name.c_str());
    return ok;
}

// Waits until the host's storage is there with every body's tracker.
bool attachHost(const std::string& storage, int bodies, platform::SharedMemory& view) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (platform::openSharedMemory(storage.c_str(), false, view).result == platform::SharedMemoryResult::Ok &&
            view.address != nullptr) {
            const auto* header = storage::headerOf(view.address);
            if (std::memcmp(header->magic, storage::kMagic, sizeof storage::kMagic) == 0 &&
                __atomic_load_n(&header->trackerCount, __ATOMIC_ACQUIRE) == static_cast<uint32_t>(bodies)) {
                return true;
            }
            platform::unmapSharedMemory(view);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool runHost(const Options& options, const Cpus& cpus, const std::string& trackhost, const std::string& module,
             const std::string& base, Result& result) {
    const std::string storage = base.substr(base.rfind('/') + 1);
    const uint16_t port = freePort();
    const std::string config = base + ".conf";
    {
        std::ofstream out(config);
        out << "storage " << storage << "\ndevice latency \"" << module << "\"\n  port " << port
            << "\n  standardbodies " << options.bodies << "\n";
    }
    platform::ChildProcess child;
    bool ok = startOn(cpus.receiver, {trackhost, config}, base + "-host", child);
    platform::SharedMemory view;
    if (ok && attachHost(storage, options.bodies, view)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the device thread starts
        void* block = view.address;
        const TraData* last = storage::trackersOf(block) + (options.bodies - 1);
        result =
            measure(options, cpus, static_cast<pid_t>(child.id), port, &storage::headerOf(block)->trackerSequence, [&] {
                TraData copy;
                std::memcpy(static_cast<void*>(&copy), last, sizeof copy);
                return frameOfTracker(copy);
            });
        platform::unmapSharedMemory(view);
    } else {
        std::fprintf(stderr, "host_latency: trackhost did not set up its storage; see %s-host.out and .err\n",
                     base.c_str());
        ok = false;
    }
    if (child.isRunning()) stopReceiver(child);
    std::remove(config.c_str());
    return ok;
}

// --- report -----------------------------------------------------------------------

void printThreads(const char* who, const Result& result) {
    const double frames = result.measured > 0 ? result.measured : 1;
    for (const auto& [tid, after] : result.cpuAfter.threads) {
        auto before = result.cpuBefore.threads.find(tid);
        const ThreadSample zero;
        const ThreadSample& from = before != result.cpuBefore.threads.end() ? before->second : zero;
        std::printf("  %-5s thread %-16s %7.2f us/frame  switches/frame: %.2f voluntary, %.3f forced\n", who,
                    after.name.c_str(), (after.cpuNanos - from.cpuNanos) / 1000.0 / frames,
                    (after.voluntarySwitches - from.voluntarySwitches) / frames,
                    (after.forcedSwitches - from.forcedSwitches) / frames);
    }
}

void printReport(const Options& options, const Cpus& cpus, const Result& bare, const Result& host) {
    double load[3] = {};
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(file);
    }
    std::printf("host_latency: %g Hz, %d bodies, %g s per receiver (%u frames each); ", options.rate, options.bodies,
                options.seconds, bare.measured);
    if (cpus.receiver >= 0) {
        std::printf("receiver on CPU %d, sender and reader on CPU %d\n", cpus.receiver, cpus.senderAndReader);
    } else {
        std::printf("one CPU: nothing pinned\n");
    }
    std::printf("load average %.2f %.2f %.2f%s; late sends: bare %u, host %u\n\n", load[0], load[1], load[2],
                options.busy ? " (with --busy)" : "", bare.lateSends, host.lateSends);
    std::printf("%-26s %10s %10s %10s %10s\n", "", "bare", "host", "host/bare", "host-bare");
    std::printf("%-26s %10.2f %10.2f %10.2f\n", "receiver CPU per frame, us", bare.cpuMicrosPerFrame,
                host.cpuMicrosPerFrame, host.cpuMicrosPerFrame / bare.cpuMicrosPerFrame);
    const char* names[4] = {"latency p50, us", "latency p90, us", "latency p99, us", "latency p99.9, us"};
    for (int i = 0; i < 4; ++i) {
        std::printf("%-26s %10.1f %10.1f %10.2f %10.1f\n", names[i], bare.percentile[i], host.percentile[i],
                    host.percentile[i] / bare.percentile[i], host.percentile[i] - bare.percentile[i]);
    }
    std::printf("%-26s %10.2f %10.2f %10.2f\n", "frames seen, %", 100 * bare.shareSeen, 100 * host.shareSeen,
                host.shareSeen / bare.shareSeen);
    if (options.detail) {
        std::printf("\n");
        printThreads("bare", bare);
        printThreads("host", host);
    }
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--detail" || option == "--busy") {
            (option == "--busy" ? options.busy : options.detail) = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (option == "--trackhost" || option == "--module") {
            (option == "--module" ? options.module : options.trackhost) = value;
            continue;
        }
        char* end = nullptr;
        const double number = std::strtod(value, &end);
        if (end == value || *end != '\0' || !(number > 0)) return false;
        if (option == "--rate" && number <= 100000) {
            options.rate = number;
        } else if (option == "--bodies" && number <= 32 && number == std::floor(number)) {
            options.bodies = static_cast<int>(number);
        } else if (option == "--seconds" && number <= 3600) {
            options.seconds = number;
        } else {
            return false;
        }
    }
    return options.rate * options.seconds >= 1;
}

Cpus chooseCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    Cpus cpus;
    if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) < 2) return cpus;
    for (int i = 0; i < CPU_SETSIZE; ++i) {
        if (!CPU_ISSET(i, &set)) continue;
        (cpus.receiver < 0 ? cpus.receiver : cpus.senderAndReader) = i;
        if (cpus.senderAndReader >= 0) break;
    }
    return cpus;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--busy-loop") == 0) {
        for (volatile uint64_t spin = 0;; spin = spin + 1) {
        }
    }
    if (argc == 4 && std::strcmp(argv[1], "--bare-receiver") == 0) {
        return runBareReceiver(static_cast<uint16_t>(std::atoi(argv[2])), argv[3]);
    }
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    const std::string base = "/tmp/host_latency-" + std::to_string(getpid());
    const Cpus cpus = chooseCpus();
    Result bare;
    Result host;
    platform::ChildProcess busy;
    if (options.busy && !startOn(cpus.receiver, {self, "--busy-loop"}, base + "-busy", busy)) return 1;
    if (!runBare(options, cpus, self, base, bare)) {
        std::fprintf(stderr, "host_latency: the bare receiver did not run\n");
        return 1;
    }
    const bool hostRan = runHost(options, cpus, options.trackhost, options.module, base, host);
    if (busy.isRunning()) {
        int status = 0;
        platform::killChildProcess(busy);
        platform::waitChildProcess(busy, 10000, status);
    }
    if (!hostRan) return 1;
    for (const char* log : {"-bare.out", "-bare.err", "-host.out", "-host.err", "-busy.out", "-busy.err"})
        std::remove((base + log).c_str());
    printReport(options, cpus, bare, host);
    return host.measured > 0 && bare.measured > 0 ? 0 : 1;
}
