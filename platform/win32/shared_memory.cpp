#include "platform/shared_memory.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform/process.h"
#include "user_ids.h"

namespace platform {

static_assert(std::is_same_v<NativeSharedMemoryHandle, HANDLE>, "native.h names the mapping's handle type");

namespace {

// The session's namespace: every program of the user's logon sees the
// object, and no privilege is needed to make it (Global\ would need one).
constexpr char kNamespace[] = "Local\\";
using ObjectName = char[sizeof kNamespace + kMaxSharedMemoryName];

bool objectName(const char* name, ObjectName& buffer) noexcept {
    size_t length = name == nullptr ? 0 : std::strlen(name);
    if (length == 0 || length > kMaxSharedMemoryName || std::strchr(name, '\\') != nullptr) {
        return false;
    }
    std::snprintf(buffer, sizeof buffer, "%s%s", kNamespace, name);
    return true;
}

SharedMemoryStatus statusFromError(DWORD code) noexcept {
    const int systemCode = static_cast<int>(code);
    switch (code) {
        case ERROR_ALREADY_EXISTS: return {SharedMemoryResult::AlreadyExists, systemCode};
        case ERROR_FILE_NOT_FOUND: return {SharedMemoryResult::NotFound, systemCode};
        case ERROR_ACCESS_DENIED: return {SharedMemoryResult::AccessDenied, systemCode};
        case ERROR_INVALID_HANDLE:  // the name belongs to another kind of object
            return {SharedMemoryResult::NotSharedMemory, systemCode};
        default: return {SharedMemoryResult::Failed, systemCode};
    }
}

// The object's owner from its security descriptor. A system that keeps none
// (Wine) tells nothing: the object is then taken as this process's own.
uint32_t ownerOf(HANDLE mapping) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    uint32_t id = 0;
    if (GetSecurityInfo(mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) == ERROR_SUCCESS) {
        id = win32::userIdOfSid(owner);
    }
    if (descriptor != nullptr) {
        LocalFree(descriptor);
    }
    return id != 0 ? id : currentUserId();
}

// Takes over the handle: closed again when the view cannot be made.
SharedMemoryStatus mapView(HANDLE mapping, bool writable, SharedMemory& memory) noexcept {
    void* address = MapViewOfFile(mapping, writable ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
    MEMORY_BASIC_INFORMATION region{};
    if (address == nullptr || VirtualQuery(address, &region, sizeof region) == 0) {
        const DWORD code = GetLastError();
        if (address != nullptr) {
            UnmapViewOfFile(address);
        }
        CloseHandle(mapping);
        return statusFromError(code);
    }
    memory.ownerUser = ownerOf(mapping);
    memory.address = address;
    memory.size = region.RegionSize;
    memory.handle = mapping;
    return {SharedMemoryResult::Ok, 0};
}

// Its maker may do everything, every other user may only read it: what
// the access rights 0644 say elsewhere (readers need no locks).
PSECURITY_DESCRIPTOR readableByEveryone() noexcept {
    char owner[192];
    char text[256];
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!win32::ownOwnerSidText(owner, sizeof owner) ||
        std::snprintf(text, sizeof text, "D:P(A;;GA;;;%s)(A;;GR;;;WD)", owner) >= static_cast<int>(sizeof text) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor, nullptr)) {
        return nullptr;
    }
    return descriptor;
}

}  // namespace

SharedMemoryStatus createSharedMemory(const char* name, size_t size, SharedMemory& memory) noexcept {
    ObjectName path;
    if (!objectName(name, path) || size == 0) {
        return {SharedMemoryResult::Failed, ERROR_INVALID_PARAMETER};
    }
    // Without its own descriptor the object gets the system's default,
    // which lets only its maker in: safe, only less open.
    PSECURITY_DESCRIPTOR descriptor = readableByEveryone();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const auto wide = static_cast<uint64_t>(size);
    // Backed by the paging file: it starts as zeros and goes with its last handle.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, descriptor != nullptr ? &attributes : nullptr,
                                        PAGE_READWRITE, static_cast<DWORD>(wide >> 32), static_cast<DWORD>(wide), path);
    const DWORD code = GetLastError();
    if (descriptor != nullptr) {
        LocalFree(descriptor);
    }
    if (mapping == nullptr) {
        return statusFromError(code);
    }
    if (code == ERROR_ALREADY_EXISTS) {  // the existing object was opened instead
        CloseHandle(mapping);
        return statusFromError(code);
    }
    return mapView(mapping, true, memory);
}

SharedMemoryStatus openSharedMemory(const char* name, bool writable, SharedMemory& memory) noexcept {
    ObjectName path;
    if (!objectName(name, path)) {
        return {SharedMemoryResult::NotFound, ERROR_FILE_NOT_FOUND};
    }
    const DWORD access = FILE_MAP_READ | READ_CONTROL | (writable ? FILE_MAP_WRITE : 0);
    HANDLE mapping = OpenFileMappingA(access, FALSE, path);
    if (mapping == nullptr) {
        return statusFromError(GetLastError());
    }
    return mapView(mapping, writable, memory);
}

void unmapSharedMemory(SharedMemory& memory) noexcept {
    if (memory.address != nullptr) {
        UnmapViewOfFile(memory.address);
    }
    if (memory.handle != kNoSharedMemoryHandle) {
        CloseHandle(memory.handle);
    }
    memory.address = nullptr;
    memory.size = 0;
    memory.handle = kNoSharedMemoryHandle;
    memory.ownerUser = 0;
}

// Nothing can be removed: the object, and its name, go with the last handle.
SharedMemoryStatus removeSharedMemory(const char* name) noexcept {
    ObjectName path;
    if (!objectName(name, path)) {
        return {SharedMemoryResult::NotFound, ERROR_FILE_NOT_FOUND};
    }
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, path);
    if (mapping == nullptr) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? SharedMemoryStatus{SharedMemoryResult::Ok, 0} : statusFromError(code);
    }
    CloseHandle(mapping);
    return {SharedMemoryResult::InUse, ERROR_BUSY};
}

std::string sharedMemoryPlace(const char* name) { return std::string("on Windows: the object ") + kNamespace + name; }

}  // namespace platform
