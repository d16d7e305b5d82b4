#pragma once
// One device module loaded through the platform's dynamic loader, with its
// two exports looked up.
#include <string>

#include "framework/module_exports.h"
#include "platform/dynamic_library.h"

namespace host {

class ModuleLibrary {
public:
    ModuleLibrary() = default;
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;
    ~ModuleLibrary() { unload(); }

    // False with a reason when the library cannot be loaded or lacks an export.
    bool load(const std::string& path, std::string& reason);
    // Only after every device it made has been deleted.
    void unload() noexcept;

    CreateDevFunction createDev = nullptr;
    DeleteDevFunction deleteDev = nullptr;

private:
    platform::LibraryHandle library_;
};

}  // namespace host
