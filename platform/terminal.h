#pragma once
// Facts about the terminal a program writes to.

namespace platform {

// True when standard output goes to a terminal rather than a file or pipe.
bool standardOutputIsTerminal() noexcept;

}  // namespace platform
