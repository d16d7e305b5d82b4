#pragma once
// Facts about the terminal a program writes to, and how its output leaves.

namespace platform {

// True when standard output goes to a terminal rather than a file or pipe.
bool standardOutputIsTerminal() noexcept;

// The size of the terminal behind standard output, in character cells;
// false when it is not a terminal or does not tell. Asked afresh each time,
// so a caller follows a window that is resized.
bool terminalSize(int& rows, int& columns) noexcept;

// Lets the terminal act on escape sequences (cursor home, clear to the end
// of the line...); false when it cannot (an old Windows console).
bool enableTerminalControls() noexcept;

// Standard output reaches a pipe or a file line by line, as each line is
// complete, rather than in blocks. Call it before the first output.
void writeOutputLineByLine() noexcept;

// Standard output and error end their lines with "\n" alone, as everywhere
// else (Windows' C run-time would write "\r\n" into files and pipes), so a
// program's output is the same byte for byte wherever it runs; consoles
// show both alike. Call it before the first output.
void endLinesWithNewlineOnly() noexcept;

}  // namespace platform
