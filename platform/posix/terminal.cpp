#include "platform/terminal.h"

#include <unistd.h>

namespace platform {

bool standardOutputIsTerminal() noexcept { return isatty(STDOUT_FILENO) == 1; }

}  // namespace platform
