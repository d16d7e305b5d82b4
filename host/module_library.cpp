#include "host/module_library.h"

namespace host {

bool ModuleLibrary::load(const std::string& path, std::string& reason) {
    unload();
    char text[512];
    if (!platform::openLibrary(path.c_str(), library_, text, sizeof text)) {
        // The loader's text often repeats the path the message names already.
        std::string why = text;
        if (why.compare(0, path.size() + 2, path + ": ") == 0) {
            why.erase(0, path.size() + 2);
        }
        reason = "cannot load module library \"" + path + "\": " + why;
        return false;
    }
    createDev = reinterpret_cast<CreateDevFunction>(platform::findProcedure(library_, kCreateDevName));
    deleteDev = reinterpret_cast<DeleteDevFunction>(platform::findProcedure(library_, kDeleteDevName));
    if (createDev == nullptr || deleteDev == nullptr) {
        std::string missing = createDev == nullptr && deleteDev == nullptr ? "createDev and deleteDev"
                              : createDev == nullptr                       ? "createDev"
                                                                           : "deleteDev";
        reason = "\"" + path + "\" is not a device module: it does not export " + missing;
        unload();
        return false;
    }
    return true;
}

void ModuleLibrary::unload() noexcept {
    platform::closeLibrary(library_);
    createDev = nullptr;
    deleteDev = nullptr;
}

}  // namespace host
