// What reading the shared storage costs a reader, side by side: the whole
// tracker list copied by the sequence rule (every reader's way), and a plain
// copy with no protection as the floor; and one record written the host's way.
#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "framework/data_storage.h"
#include "host/module_storages.h"
#include "host/shared_storage.h"
#include "host/storage_reader.h"

namespace {

// A full storage (32 trackers, 32 controllers) without a host process: this
// process creates it and reads it back.
struct FullStorage {
    FullStorage() : name("bench-storage-" + std::to_string(getpid())) {
        if (storage.create(name).outcome != storage::CreateOutcome::Created) {
            return;
        }
        storage.header()->trackerCount = storage::kCapacity;
        storage.header()->controllerCount = storage::kCapacity;
        reader.attach(name);
    }
    std::string name;
    storage::SharedStorage storage;
    storage::StorageReader reader;
};

FullStorage& fullStorage() {
    static FullStorage full;
    return full;
}

void copyTrackersBySequence(benchmark::State& state) {
    std::vector<TraData> records;
    for (auto _ : state) {
        fullStorage().reader.copyTrackers(records);
        benchmark::DoNotOptimize(records.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * storage::kCapacity);
}
BENCHMARK(copyTrackersBySequence);

void copyTrackersUnprotected(benchmark::State& state) {
    std::vector<TraData> records(storage::kCapacity);
    const TraData* list = storage::trackersOf(fullStorage().storage.base());
    for (auto _ : state) {
        std::copy(list, list + storage::kCapacity, records.begin());
        benchmark::DoNotOptimize(records.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * storage::kCapacity);
}
BENCHMARK(copyTrackersUnprotected);

// The module's write protocol on the host's storage view: lock (sequence
// bumped), look up, copy, unlock (bumped again).
void writeOneTrackerTheHostsWay(benchmark::State& state) {
    CLogH logger;
    storage::ModuleStorages views(fullStorage().storage.base(), &logger);
    TraData record{};
    record.setId(7);
    record.setX(1.5f);
    for (auto _ : state) {
        views.trackers.lock();
        *views.trackers.getTraData(7) = record;
        views.trackers.unlock();
    }
}
BENCHMARK(writeOneTrackerTheHostsWay);

}  // namespace

BENCHMARK_MAIN();
