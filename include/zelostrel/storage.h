/*
 * zelostrel/storage.h: the layout of trackhost's shared storage (layout
 * version 1), for programs that read it, in C or C++, with no other file of
 * this project. The storage is a named shared-memory object (on Linux
 * /dev/shm/NAME, NAME being the "storage" of the host's configuration,
 * "trackhost" by default), 8128 bytes long:
 *
 *   0     header, 64 bytes, words in host byte order (ZELOSTREL_HEADER_*)
 *   64    update counters: 32 tracker words, then 32 controller words
 *   320   the two list locks (host-private; readers use the sequence rule)
 *   448   tracker records 1 to 32, 56 bytes each (ZELOSTREL_TRACKER_*)
 *   2240  controller records 1 to 32, 184 bytes each (ZELOSTREL_CONTROLLER_*)
 *
 * Encodings: BE32 is a 32-bit word most significant byte first; FIX5 is a
 * BE32 signed integer holding trunc(value x 100000), FIX3 the same with 1000.
 *
 * Reading: map the object read-only at its size, check it with zelostrel_storage_check,
 * then copy a list with zelostrel_copy_trackers or zelostrel_copy_controllers.
 * They follow the sequence rule: the host makes a list's sequence word odd
 * while it writes the list and changes it with every write, so a copy taken
 * between two equal, even readings of the word is consistent. The storage is
 * live while the process of zelostrel_host_pid exists (kill(pid, 0) on
 * POSIX); 0 means its host has ended.
 *
 * The whole description, byte by byte: share/doc/zelostrel/docs/storage.md.
 */
#ifndef ZELOSTREL_STORAGE_H
#define ZELOSTREL_STORAGE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__GNUC__) || defined(__clang__)
#define ZELOSTREL_LOAD_ACQUIRE_(word) __atomic_load_n((word), __ATOMIC_ACQUIRE)
#define ZELOSTREL_FENCE_ACQUIRE_() __atomic_thread_fence(__ATOMIC_ACQUIRE)
#else
#error "zelostrel/storage.h needs GCC or Clang for its ordered loads"
#endif

#define ZELOSTREL_STORAGE_MAGIC "TRACKHST" /* the first 8 bytes, no terminator */
#define ZELOSTREL_STORAGE_LAYOUT_VERSION 1u
#define ZELOSTREL_STORAGE_DEFAULT_NAME "trackhost"
#define ZELOSTREL_STORAGE_SIZE 8128u
#define ZELOSTREL_CAPACITY 32u /* records per list */

/* Header words (u32, host byte order): byte offsets. */
#define ZELOSTREL_HEADER_LAYOUT_VERSION 8u
#define ZELOSTREL_HEADER_SIZE 12u
#define ZELOSTREL_HEADER_TRACKER_CAPACITY 16u
#define ZELOSTREL_HEADER_CONTROLLER_CAPACITY 20u
#define ZELOSTREL_HEADER_TRACKER_COUNT 24u
#define ZELOSTREL_HEADER_CONTROLLER_COUNT 28u
#define ZELOSTREL_HEADER_TRACKER_OFFSET 32u
#define ZELOSTREL_HEADER_CONTROLLER_OFFSET 36u
#define ZELOSTREL_HEADER_TRACKER_SEQUENCE 40u
#define ZELOSTREL_HEADER_CONTROLLER_SEQUENCE 44u
#define ZELOSTREL_HEADER_HOST_PID 48u
#define ZELOSTREL_HEADER_COUNTERS_OFFSET 52u
#define ZELOSTREL_HEADER_LOCKS_OFFSET 56u
#define ZELOSTREL_HEADER_TOTAL_SIZE 60u

/* Tracker record: byte offsets inside it. */
#define ZELOSTREL_TRACKER_RECORD_SIZE 56u
#define ZELOSTREL_TRACKER_ID 0u      /* BE32, k for record k */
#define ZELOSTREL_TRACKER_SECONDS 8u /* BE32, time of writing, since 1970 UTC */
#define ZELOSTREL_TRACKER_MICROS 12u /* BE32 */
#define ZELOSTREL_TRACKER_X 20u      /* FIX5 x, y, z in feet (y up), then azimuth, */
                                     /* elevation, roll in degrees, 4 bytes apart */
#define ZELOSTREL_TRACKER_STAMP 44u  /* 12 bytes: host-order time stamp block */

/* Controller record: byte offsets inside it. */
#define ZELOSTREL_CONTROLLER_RECORD_SIZE 184u
#define ZELOSTREL_CONTROLLER_ID 0u
#define ZELOSTREL_CONTROLLER_SECONDS 8u
#define ZELOSTREL_CONTROLLER_MICROS 12u
#define ZELOSTREL_CONTROLLER_VALUATOR_COUNT 20u /* BE32, 0 to 32 */
#define ZELOSTREL_CONTROLLER_BUTTON_COUNT 24u   /* BE32, 0 to 32 */
#define ZELOSTREL_CONTROLLER_VALUATORS 36u      /* 32 x FIX3; valuator j at 32 + 4 j */
#define ZELOSTREL_CONTROLLER_BUTTONS 164u       /* button b: bit (b-1)%8 of byte 164 + (b-1)/8 */
#define ZELOSTREL_CONTROLLER_STAMP 172u

enum zelostrel_storage_status {
    ZELOSTREL_STORAGE_OK = 0,
    ZELOSTREL_STORAGE_NOT_READY = 1,    /* no magic text (yet): not a storage, or still being made */
    ZELOSTREL_STORAGE_OTHER_LAYOUT = 2, /* another layout version, or offsets that do not fit */
    ZELOSTREL_STORAGE_TOO_SMALL = 3     /* fewer bytes mapped than the storage holds */
};

typedef struct zelostrel_tracker {
    uint32_t id;
    uint32_t seconds, microseconds;  /* time of writing; 0 for a record never written */
    double x, y, z;                  /* feet */
    double azimuth, elevation, roll; /* degrees: R = Ry(azimuth) Rx(elevation) Rz(roll) */
} zelostrel_tracker;

typedef struct zelostrel_controller {
    uint32_t id;
    uint32_t seconds, microseconds;
    uint32_t valuator_count, button_count;
    double valuators[ZELOSTREL_CAPACITY]; /* valuator j at [j - 1] */
    uint32_t buttons;                     /* button b pressed: bit b - 1 set */
} zelostrel_controller;

static inline uint32_t zelostrel_word(const void* storage, size_t offset) {
    uint32_t word;
    memcpy(&word, (const unsigned char*)storage + offset, sizeof word);
    return word;
}

static inline uint32_t zelostrel_be32(const unsigned char* bytes) {
    return ((uint32_t)bytes[0] << 24) | ((uint32_t)bytes[1] << 16) | ((uint32_t)bytes[2] << 8) | bytes[3];
}

/* A FIX5 (scale 100000) or FIX3 (scale 1000) value. */
static inline double zelostrel_fixed(const unsigned char* bytes, double scale) {
    uint32_t word = zelostrel_be32(bytes);
    return (word < 0x80000000u ? (double)word : (double)word - 4294967296.0) / scale;
}

static inline uint32_t zelostrel_host_pid(const void* storage) {
    return zelostrel_word(storage, ZELOSTREL_HEADER_HOST_PID);
}

/* How many cycles of the host wrote record k (1 to 32) of a list so far;
   wraps at 2^32. */
static inline uint32_t zelostrel_update_count(const void* storage, int controllers, uint32_t k) {
    size_t counters = zelostrel_word(storage, ZELOSTREL_HEADER_COUNTERS_OFFSET);
    return zelostrel_word(storage, counters + 4u * ((controllers ? ZELOSTREL_CAPACITY : 0u) + k - 1u));
}

/* Whether the `size` bytes mapped at `storage` (the object's size: map no
   more, or reading past its end faults) are a storage of this layout: every
   area lies inside the header's total size, that inside the mapping. */
static inline enum zelostrel_storage_status zelostrel_storage_check(const void* storage, size_t size) {
    if (size < 64u || memcmp(storage, ZELOSTREL_STORAGE_MAGIC, 8) != 0) {
        return ZELOSTREL_STORAGE_NOT_READY;
    }
    uint64_t total = zelostrel_word(storage, ZELOSTREL_HEADER_TOTAL_SIZE);
    uint32_t trackers = zelostrel_word(storage, ZELOSTREL_HEADER_TRACKER_CAPACITY);
    uint32_t controllers = zelostrel_word(storage, ZELOSTREL_HEADER_CONTROLLER_CAPACITY);
    if (zelostrel_word(storage, ZELOSTREL_HEADER_LAYOUT_VERSION) != ZELOSTREL_STORAGE_LAYOUT_VERSION ||
        trackers > ZELOSTREL_CAPACITY || controllers > ZELOSTREL_CAPACITY ||
        zelostrel_word(storage, ZELOSTREL_HEADER_TRACKER_OFFSET) + (uint64_t)trackers * ZELOSTREL_TRACKER_RECORD_SIZE >
            total ||
        zelostrel_word(storage, ZELOSTREL_HEADER_CONTROLLER_OFFSET) +
                (uint64_t)controllers * ZELOSTREL_CONTROLLER_RECORD_SIZE >
            total ||
        zelostrel_word(storage, ZELOSTREL_HEADER_COUNTERS_OFFSET) + 8u * (uint64_t)ZELOSTREL_CAPACITY > total ||
        zelostrel_word(storage, ZELOSTREL_HEADER_LOCKS_OFFSET) + 128u > total) {
        return ZELOSTREL_STORAGE_OTHER_LAYOUT;
    }
    return size < total ? ZELOSTREL_STORAGE_TOO_SMALL : ZELOSTREL_STORAGE_OK;
}

/* A consistent copy of the records in use of one list (controllers 0: the
   trackers) into `out`, which holds 32 records; `count` gets their number.
   1 on success, 0 when writers overlapped each of `attempts` tries. */
static inline int zelostrel_copy_list(const void* storage, int controllers, unsigned char* out, uint32_t* count,
                                      unsigned attempts) {
    const unsigned char* base = (const unsigned char*)storage;
    const uint32_t* sequence = (const uint32_t*)(base + (controllers ? ZELOSTREL_HEADER_CONTROLLER_SEQUENCE
                                                                     : ZELOSTREL_HEADER_TRACKER_SEQUENCE));
    size_t first =
        zelostrel_word(storage, controllers ? ZELOSTREL_HEADER_CONTROLLER_OFFSET : ZELOSTREL_HEADER_TRACKER_OFFSET);
    size_t size = controllers ? ZELOSTREL_CONTROLLER_RECORD_SIZE : ZELOSTREL_TRACKER_RECORD_SIZE;
    uint32_t capacity =
        zelostrel_word(storage, controllers ? ZELOSTREL_HEADER_CONTROLLER_CAPACITY : ZELOSTREL_HEADER_TRACKER_CAPACITY);
    capacity = capacity < ZELOSTREL_CAPACITY ? capacity : ZELOSTREL_CAPACITY;
    while (attempts-- > 0) {
        uint32_t before = ZELOSTREL_LOAD_ACQUIRE_(sequence);
        if (before % 2u != 0) {
            continue; /* a writer is at work */
        }
        uint32_t n =
            zelostrel_word(storage, controllers ? ZELOSTREL_HEADER_CONTROLLER_COUNT : ZELOSTREL_HEADER_TRACKER_COUNT);
        n = n < capacity ? n : capacity;
        memcpy(out, base + first, n * size);
        ZELOSTREL_FENCE_ACQUIRE_();
        if (ZELOSTREL_LOAD_ACQUIRE_(sequence) == before) {
            *count = n;
            return 1;
        }
    }
    return 0;
}

static inline void zelostrel_decode_tracker(const unsigned char* record, zelostrel_tracker* tracker) {
    tracker->id = zelostrel_be32(record + ZELOSTREL_TRACKER_ID);
    tracker->seconds = zelostrel_be32(record + ZELOSTREL_TRACKER_SECONDS);
    tracker->microseconds = zelostrel_be32(record + ZELOSTREL_TRACKER_MICROS);
    double* values[6] = {&tracker->x, &tracker->y, &tracker->z, &tracker->azimuth, &tracker->elevation, &tracker->roll};
    for (int i = 0; i < 6; ++i) {
        *values[i] = zelostrel_fixed(record + ZELOSTREL_TRACKER_X + 4 * i, 100000.0);
    }
}

static inline void zelostrel_decode_controller(const unsigned char* record, zelostrel_controller* controller) {
    controller->id = zelostrel_be32(record + ZELOSTREL_CONTROLLER_ID);
    controller->seconds = zelostrel_be32(record + ZELOSTREL_CONTROLLER_SECONDS);
    controller->microseconds = zelostrel_be32(record + ZELOSTREL_CONTROLLER_MICROS);
    uint32_t valuators = zelostrel_be32(record + ZELOSTREL_CONTROLLER_VALUATOR_COUNT);
    uint32_t buttons = zelostrel_be32(record + ZELOSTREL_CONTROLLER_BUTTON_COUNT);
    controller->valuator_count = valuators < ZELOSTREL_CAPACITY ? valuators : ZELOSTREL_CAPACITY;
    controller->button_count = buttons < ZELOSTREL_CAPACITY ? buttons : ZELOSTREL_CAPACITY;
    for (uint32_t j = 0; j < ZELOSTREL_CAPACITY; ++j) {
        controller->valuators[j] = zelostrel_fixed(record + ZELOSTREL_CONTROLLER_VALUATORS + 4 * j, 1000.0);
    }
    const unsigned char* bits = record + ZELOSTREL_CONTROLLER_BUTTONS;
    uint32_t all = (uint32_t)bits[0] | ((uint32_t)bits[1] << 8) | ((uint32_t)bits[2] << 16) | ((uint32_t)bits[3] << 24);
    controller->buttons = controller->button_count == 32 ? all : all & ((1u << controller->button_count) - 1u);
}

/* Consistent, decoded copies of a whole list; 1 on success (see zelostrel_copy_list). */
static inline int zelostrel_copy_trackers(const void* storage, zelostrel_tracker out[ZELOSTREL_CAPACITY],
                                          uint32_t* count, unsigned attempts) {
    unsigned char raw[ZELOSTREL_CAPACITY * ZELOSTREL_TRACKER_RECORD_SIZE];
    if (!zelostrel_copy_list(storage, 0, raw, count, attempts)) {
        return 0;
    }
    for (uint32_t i = 0; i < *count; ++i) {
        zelostrel_decode_tracker(raw + i * ZELOSTREL_TRACKER_RECORD_SIZE, &out[i]);
    }
    return 1;
}

static inline int zelostrel_copy_controllers(const void* storage, zelostrel_controller out[ZELOSTREL_CAPACITY],
                                             uint32_t* count, unsigned attempts) {
    unsigned char raw[ZELOSTREL_CAPACITY * ZELOSTREL_CONTROLLER_RECORD_SIZE];
    if (!zelostrel_copy_list(storage, 1, raw, count, attempts)) {
        return 0;
    }
    for (uint32_t i = 0; i < *count; ++i) {
        zelostrel_decode_controller(raw + i * ZELOSTREL_CONTROLLER_RECORD_SIZE, &out[i]);
    }
    return 1;
}

#endif /* ZELOSTREL_STORAGE_H */
