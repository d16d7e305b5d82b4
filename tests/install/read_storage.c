/* A reader built against the installed <zelostrel/storage.h> alone, as C and
   as C++: prints a host's records exactly as read_storage.py --controllers. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zelostrel/storage.h>

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : ZELOSTREL_STORAGE_DEFAULT_NAME;
    char path[256];
    snprintf(path, sizeof path, "/dev/shm/%s", name);
    int fd = open(path, O_RDONLY);
    off_t size = fd < 0 ? -1 : lseek(fd, 0, SEEK_END);
    void* map = size < 64 ? MAP_FAILED : mmap(NULL, (size_t)size, PROT_READ, MAP_SHARED, fd, 0);
    zelostrel_tracker trackers[ZELOSTREL_CAPACITY];
    zelostrel_controller controllers[ZELOSTREL_CAPACITY];
    uint32_t t = 0, c = 0;
    if (map == MAP_FAILED || zelostrel_storage_check(map, (size_t)size) != ZELOSTREL_STORAGE_OK ||
        !zelostrel_copy_trackers(map, trackers, &t, 100000) || !zelostrel_copy_controllers(map, controllers, &c, 100000)) {
        fprintf(stderr, "cannot read storage %s\n", name);
        return 1;
    }
    printf("storage %s, host process %u: trackers %u, controllers %u\n", name, zelostrel_host_pid(map), t, c);
    for (uint32_t i = 0; i < t; ++i) {
        const zelostrel_tracker* r = &trackers[i];
        printf("tracker %2u  x %10.5f  y %10.5f  z %10.5f  azim %10.5f  elev %10.5f  roll %10.5f  time %u.%06u\n", r->id,
               r->x, r->y, r->z, r->azimuth, r->elevation, r->roll, r->seconds, r->microseconds);
    }
    for (uint32_t i = 0; i < c; ++i) {
        const zelostrel_controller* r = &controllers[i];
        printf("controller %2u  buttons", r->id);
        for (uint32_t b = 0; b < r->button_count; ++b) {
            if (r->buttons >> b & 1u) printf(" %u", b + 1);
        }
        fputs(r->buttons == 0 ? " none  valuators " : "  valuators ", stdout);
        for (uint32_t j = 0; j < r->valuator_count; ++j) printf(j == 0 ? "%.3f" : " %.3f", r->valuators[j]);
        printf("\n");
    }
    return 0;
}
