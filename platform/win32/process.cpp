#include "platform/process.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>

#include "user_ids.h"

namespace platform {

namespace {

constexpr uint32_t kMaxUsers = 64;

struct KnownSid {
    unsigned char bytes[SECURITY_MAX_SID_SIZE];
};

SRWLOCK tableLock = SRWLOCK_INIT;
KnownSid knownSids[kMaxUsers];
uint32_t knownCount = 0;

// The owner a process's token gives the objects it makes: the user, or for
// an elevated process the Administrators group. Ownership is compared with
// this, not with the user, so that an elevated host owns its own storage.
template <typename Use>
bool withTokenOwner(HANDLE process, Use use) noexcept {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return false;
    }
    alignas(8) unsigned char buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    bool ok = GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &length) != 0 &&
              use(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
    CloseHandle(token);
    return ok;
}

}  // namespace

namespace win32 {

uint32_t userIdOfSid(void* sid) noexcept {
    if (sid == nullptr || !IsValidSid(sid)) {
        return 0;
    }
    AcquireSRWLockExclusive(&tableLock);
    uint32_t id = 0;
    for (uint32_t i = 0; i < knownCount && id == 0; ++i) {
        if (EqualSid(sid, knownSids[i].bytes)) {
            id = i + 1;
        }
    }
    if (id == 0 && knownCount < kMaxUsers && CopySid(SECURITY_MAX_SID_SIZE, knownSids[knownCount].bytes, sid)) {
        id = ++knownCount;
    }
    ReleaseSRWLockExclusive(&tableLock);
    return id;
}

bool ownOwnerSidText(char* text, size_t size) noexcept {
    return withTokenOwner(GetCurrentProcess(), [&](PSID owner) {
        char* converted = nullptr;
        if (!ConvertSidToStringSidA(owner, &converted)) {
            return false;
        }
        int written = std::snprintf(text, size, "%s", converted);
        LocalFree(converted);
        return written > 0 && static_cast<size_t>(written) < size;
    });
}

}  // namespace win32

uint32_t currentProcessId() noexcept { return static_cast<uint32_t>(GetCurrentProcessId()); }

// A process that has ended but whose handle somebody still holds keeps its
// id for a while: it only counts while it runs. One of another user may not
// be opened at all, which still shows that it exists.
bool processExists(uint32_t processId) noexcept {
    if (processId == 0) {
        return false;
    }
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

uint32_t currentUserId() noexcept {
    uint32_t id = 0;
    withTokenOwner(GetCurrentProcess(), [&](PSID owner) { return (id = win32::userIdOfSid(owner)) != 0; });
    return id;
}

bool processUserId(uint32_t processId, uint32_t& userId) noexcept {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    uint32_t id = 0;
    bool known = withTokenOwner(process, [&](PSID owner) { return (id = win32::userIdOfSid(owner)) != 0; });
    CloseHandle(process);
    if (known) {
        userId = id;
    }
    return known;
}

// The account's name, else the SID's text, else the number.
std::string userName(uint32_t userId) {
    unsigned char sid[SECURITY_MAX_SID_SIZE];
    AcquireSRWLockShared(&tableLock);
    bool known = userId >= 1 && userId <= knownCount && CopySid(sizeof sid, sid, knownSids[userId - 1].bytes);
    ReleaseSRWLockShared(&tableLock);
    if (!known) {
        return std::to_string(userId);
    }
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use{};
    if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return name;
    }
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) {
        return std::to_string(userId);
    }
    std::string result = text;
    LocalFree(text);
    return result;
}

// The C run-time's _Exit ends through ExitProcess, which still runs every
// library's unload code (and waits for locks that ended threads held).
void endProcessNow(int status) noexcept {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));  // not reached
}

}  // namespace platform
