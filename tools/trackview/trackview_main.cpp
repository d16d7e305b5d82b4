// trackview: the live monitor of a running host's storage. See docs/host.md.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "host/storage_layout.h"
#include "host/storage_reader.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/stop_request.h"
#include "platform/terminal.h"
#include "project_version.h"
#include "tools/trackview/rate_meter.h"
#include "tools/trackview/snapshot.h"
#include "tools/trackview/snapshot_format.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoHost = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: trackview [--storage NAME] [--once] [--json] [--interval MS]\n"
    "  --storage NAME  the host's storage (default: trackhost)\n"
    "  --once          print one snapshot and exit\n"
    "  --json          print snapshots as JSON, one object per line\n"
    "  --interval MS   refresh period of the live view (default 200)\n"
    "  --version       the version\n"
    "  Ctrl-C ends the live view.\n";

// Terminal controls of the live view.
constexpr char kHome[] = "\x1b[H";
constexpr char kClearBelow[] = "\x1b[J";
constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kShowCursor[] = "\x1b[?25h";

struct ViewOptions {
    std::string storage = storage::kDefaultName;
    bool once = false;
    bool json = false;
    uint32_t intervalMillis = 200;
    bool help = false;
    bool version = false;
};

bool parseOptions(int argc, char** argv, ViewOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (word == "--once") {
            options.once = true;
        } else if (word == "--json") {
            options.json = true;
        } else if (word == "--storage" || word == "--interval") {
            if (i + 1 >= argc) {
                error = std::string(word) + " needs a value";
                return false;
            }
            std::string_view value = argv[++i];
            if (word == "--storage") {
                options.storage = std::string(value);
                continue;
            }
            const char* end = value.data() + value.size();
            auto [stop, code] = std::from_chars(value.data(), end, options.intervalMillis);
            if (code != std::errc() || stop != end || options.intervalMillis < 10 || options.intervalMillis > 60000) {
                error = "invalid value \"" + std::string(value) + "\" for --interval (10 to 60000)";
                return false;
            }
        } else {
            error = "unknown argument \"" + std::string(word) + "\"";
            return false;
        }
    }
    if (!storage::isValidName(options.storage.c_str())) {
        error = "invalid storage name \"" + options.storage + "\" (" + storage::kNameRule + ")";
        return false;
    }
    return true;
}

double wallSeconds() {
    platform::ClockReading now = platform::readClock();
    return static_cast<double>(now.seconds) + now.milliseconds / 1000.0;
}

int attachFailed(storage::AttachOutcome outcome, const std::string& name) {
    switch (outcome) {
        case storage::AttachOutcome::NotAStorage:
            std::fprintf(stderr, "trackview: \"%s\" is not a trackhost storage of layout version %u\n", name.c_str(),
                         static_cast<unsigned>(storage::kLayoutVersion));
            break;
        case storage::AttachOutcome::AccessDenied:
            std::fprintf(stderr, "trackview: no permission to use storage \"%s\"\n", name.c_str());
            break;
        default: std::fprintf(stderr, "trackview: no host holds storage \"%s\"\n", name.c_str()); break;
    }
    return kExitNoHost;
}

// Anyone may create a block under the storage's name and write a running
// process's id into it; a block that the named host's user did not create
// is shown, but not trusted silently.
void warnAboutForeignBlock(const storage::StorageReader& reader, const std::string& name) {
    uint32_t hostUser = 0;
    if (platform::processUserId(reader.hostProcessId(), hostUser) && hostUser != reader.ownerUser()) {
        std::fprintf(stderr,
                     "trackview: warning: storage \"%s\" belongs to user %s, but its host process %u runs as user "
                     "%s; someone else may have made it\n",
                     name.c_str(), platform::userName(reader.ownerUser()).c_str(),
                     static_cast<unsigned>(reader.hostProcessId()), platform::userName(hostUser).c_str());
    }
}

// A host that ends marks its storage first.
int copyFailed(const storage::StorageReader& reader, const std::string& name) {
    std::fprintf(stderr,
                 reader.hostAlive() ? "trackview: cannot take a consistent copy of storage \"%s\"\n"
                                    : "trackview: the host of storage \"%s\" has ended\n",
                 name.c_str());
    return kExitNoHost;
}

std::string render(const storage::StorageReader& reader, const ViewOptions& options, const trackview::RateMeter* rates,
                   bool& ok) {
    trackview::Snapshot snapshot;
    ok = trackview::takeSnapshot(reader, snapshot);
    if (!ok) {
        return {};
    }
    if (options.json) {
        return trackview::formatJson(snapshot);
    }
    trackview::TableContext context;
    context.storageName = options.storage;
    context.hostProcessId = reader.hostProcessId();
    context.nowSeconds = wallSeconds();
    context.rates = rates;
    return trackview::formatTable(snapshot, context);
}

// The table is redrawn in place on a terminal that takes escape sequences;
// otherwise (a file, a pipe, an old Windows console) one table per refresh.
bool redrawInPlace(const ViewOptions& options) {
    return !options.json && platform::standardOutputIsTerminal() && platform::enableTerminalControls();
}

int runLive(storage::StorageReader& reader, const ViewOptions& options) {
    bool terminal = redrawInPlace(options);
    trackview::RateMeter rates;
    if (terminal) {
        std::fputs(kHideCursor, stdout);
    }
    int status = kExitOk;
    for (;;) {
        if (!reader.hostAlive()) {
            std::fprintf(stderr, "trackview: the host of storage \"%s\" has ended\n", options.storage.c_str());
            status = kExitNoHost;
            break;
        }
        rates.add(platform::monotonicMillis(), reader.readCounters());
        bool ok = false;
        std::string view = render(reader, options, &rates, ok);
        if (!ok) {
            status = copyFailed(reader, options.storage);
            break;
        }
        if (terminal) {
            // Rewrite in place, never more than the window holds (a table
            // that scrolled would pile copies into the scroll-back); the
            // size is asked each time to follow a resized window.
            int rows = 0;
            int columns = 0;
            if (platform::terminalSize(rows, columns)) {
                view = trackview::fitToScreen(view, rows, columns);
            }
            // Clearing only what is below avoids flicker.
            std::string frame = kHome;
            for (size_t start = 0; start < view.size();) {
                size_t end = view.find('\n', start);
                if (end == std::string::npos) {
                    end = view.size();
                }
                frame += view.substr(start, end - start) + "\x1b[K\n";  // clear the line's old tail
                start = end + 1;
            }
            std::fputs((frame + kClearBelow).c_str(), stdout);
        } else {
            std::fputs(options.json ? view.c_str() : (view + "\n").c_str(), stdout);
        }
        std::fflush(stdout);
        if (platform::waitStopRequest(options.intervalMillis)) {
            break;
        }
    }
    if (terminal) {
        std::fputs(kShowCursor, stdout);
        std::fflush(stdout);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    platform::endLinesWithNewlineOnly();
    platform::catchStopRequests();
    ViewOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "trackview: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (options.help || options.version) {
        std::fputs(options.help ? kUsage : "trackview " ZELOSTREL_VERSION "\n", stdout);
        return kExitOk;
    }
    storage::StorageReader reader;
    storage::AttachOutcome outcome = reader.attach(options.storage);
    if (outcome != storage::AttachOutcome::Attached) {
        return attachFailed(outcome, options.storage);
    }
    warnAboutForeignBlock(reader, options.storage);
    if (!options.once) {
        if (redrawInPlace(options)) {
            std::fputs("\x1b[2J", stdout);  // start from an empty screen
        }
        return runLive(reader, options);
    }
    bool ok = false;
    std::string view = render(reader, options, nullptr, ok);
    if (!ok) {
        return copyFailed(reader, options.storage);
    }
    std::fputs(view.c_str(), stdout);
    return kExitOk;
}
