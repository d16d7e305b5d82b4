#include "platform/terminal.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace platform {

namespace {

// A console answers console calls; _isatty would also call NUL a terminal.
bool console(DWORD& mode) noexcept { return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0; }

}  // namespace

bool standardOutputIsTerminal() noexcept {
    DWORD mode = 0;
    return console(mode);
}

// The visible window, not the whole scroll-back buffer behind it.
bool terminalSize(int& rows, int& columns) noexcept {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return false;
    }
    rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    columns = info.srWindow.Right - info.srWindow.Left + 1;
    return rows > 0 && columns > 0;
}

// Windows 10 and later consoles read the sequences once asked to; older ones
// cannot, and their callers write plain text instead.
bool enableTerminalControls() noexcept {
    DWORD mode = 0;
    return console(mode) &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
            SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
}

// The C run-time here buffers lines like whole blocks: no buffer at all, so
// that every line reaches a pipe or file as it is written.
void writeOutputLineByLine() noexcept { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void endLinesWithNewlineOnly() noexcept {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace platform
