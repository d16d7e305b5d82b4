#include "platform/child_process.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace platform {

static_assert(std::is_same_v<NativeProcessHandle, HANDLE>, "native.h names the process handle type");

namespace {

// One argument as the C run-time's start-up splits the command line again:
// quotes around it when needed, backslashes doubled only before a quote.
void appendQuoted(std::string& line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
}

bool sameName(const std::string& a, const std::string& b) {
    size_t end = a.find('=', 1);  // names such as "=C:" start with '='
    if (end == std::string::npos || end != b.find('=', 1)) {
        return false;
    }
    for (size_t i = 0; i < end; ++i) {  // names ignore case here
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// This process's environment with the extra entries, as one block of
// NUL-terminated entries ending in an empty one.
std::string environmentBlock(const std::vector<std::string>& extra) {
    std::vector<std::string> entries(extra);
    char* own = GetEnvironmentStringsA();
    for (const char* entry = own; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
        std::string text = entry;
        bool replaced = false;
        for (const std::string& added : extra) {
            replaced = replaced || sameName(text, added);
        }
        if (!replaced) {
            entries.push_back(text);
        }
    }
    if (own != nullptr) {
        FreeEnvironmentStringsA(own);
    }
    std::string block;
    for (const std::string& entry : entries) {
        block += entry;
        block += '\0';
    }
    block += '\0';
    return block;
}

HANDLE inheritable(const char* path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &attributes, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

SRWLOCK consoleLock = SRWLOCK_INIT;

}  // namespace

bool startChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                       const std::string& errorPath, const std::vector<std::string>& environment, ChildProcess& child) {
    child = ChildProcess{};
    if (argv.empty()) {
        return false;
    }
    std::string commandLine;
    for (const std::string& argument : argv) {
        if (!commandLine.empty()) {
            commandLine += ' ';
        }
        appendQuoted(commandLine, argument);
    }
    std::string block = environmentBlock(environment);
    HANDLE handles[3] = {inheritable("NUL", GENERIC_READ, OPEN_EXISTING),
                         inheritable(outputPath.c_str(), GENERIC_WRITE, CREATE_ALWAYS),
                         inheritable(errorPath.c_str(), GENERIC_WRITE, CREATE_ALWAYS)};
    bool ok =
        handles[0] != INVALID_HANDLE_VALUE && handles[1] != INVALID_HANDLE_VALUE && handles[2] != INVALID_HANDLE_VALUE;
    // Only these three are inherited, whatever else this process has open.
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    ok = ok && InitializeProcThreadAttributeList(attributes, 1, 0, &listSize) &&
         UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, sizeof handles, nullptr,
                                   nullptr);
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = handles[0];
    startup.StartupInfo.hStdOutput = handles[1];
    startup.StartupInfo.hStdError = handles[2];
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION process{};
    // A hidden console of its own, so that a Ctrl-C can be sent to it alone.
    ok = ok && CreateProcessA(argv[0].c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                              CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, &block[0], nullptr, &startup.StartupInfo,
                              &process);
    if (listSize != 0 && !list.empty()) {
        DeleteProcThreadAttributeList(attributes);
    }
    for (HANDLE handle : handles) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    if (!ok) {
        return false;
    }
    CloseHandle(process.hThread);
    child.native = process.hProcess;
    child.id = process.dwProcessId;
    return true;
}

bool waitChildProcess(ChildProcess& child, uint32_t timeoutMillis, int& status) noexcept {
    if (!child.isRunning() || WaitForSingleObject(child.native, timeoutMillis) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.native, &code);
    status = static_cast<int>(code);
    CloseHandle(child.native);
    child.native = kNoNativeProcess;
    return true;
}

// Ctrl-C reaches every process of a console, this one included while it is
// joined to the child's: a handler swallows it here for good. (Ignoring it
// through SetConsoleCtrlHandler(nullptr, TRUE) would be inherited by the
// children started later, and Wine does not let them undo it.)
static BOOL WINAPI swallowCtrlC(DWORD event) { return event == CTRL_C_EVENT; }

bool requestChildStop(const ChildProcess& child) noexcept {
    if (!child.isRunning()) {
        return false;
    }
    AcquireSRWLockExclusive(&consoleLock);
    static const bool swallowing = SetConsoleCtrlHandler(swallowCtrlC, TRUE);
    // Another process on this process's own console, to join it again after.
    DWORD attached[16] = {};
    const DWORD count = GetConsoleProcessList(attached, 16);
    DWORD home = 0;
    for (DWORD i = 0; i < count && i < 16; ++i) {
        home = attached[i] != GetCurrentProcessId() ? attached[i] : home;
    }
    FreeConsole();
    bool sent = swallowing && AttachConsole(child.id) && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
    if (home != 0) {
        AttachConsole(home);
    }
    ReleaseSRWLockExclusive(&consoleLock);
    return sent;
}

bool killChildProcess(const ChildProcess& child) noexcept {
    return child.isRunning() && TerminateProcess(child.native, kKilledStatus);
}

}  // namespace platform
