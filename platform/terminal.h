#pragma once
// Facts about the terminal a program writes to.

namespace platform {

// True when standard output goes to a terminal rather than a file or pipe.
bool standardOutputIsTerminal() noexcept;

// The size of the terminal behind standard output, in character cells;
// false when it is not a terminal or does not tell. Asked afresh each time,
// so a caller follows a window that is resized.
bool terminalSize(int& rows, int& columns) noexcept;

}  // namespace platform
