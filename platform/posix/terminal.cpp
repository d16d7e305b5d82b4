#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

bool standardOutputIsTerminal() noexcept { return isatty(STDOUT_FILENO) == 1; }

bool terminalSize(int& rows, int& columns) noexcept {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) {
        return false;
    }
    rows = size.ws_row;
    columns = size.ws_col;
    return true;
}

bool enableTerminalControls() noexcept { return standardOutputIsTerminal(); }

void writeOutputLineByLine() noexcept { std::setvbuf(stdout, nullptr, _IOLBF, 0); }

void endLinesWithNewlineOnly() noexcept {}

}  // namespace platform
