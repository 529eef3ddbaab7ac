#pragma once

#include <string>

#include <dlfcn.h>

namespace quantiro::app {

// A function of one of the modules in the program directory's "modules" folder,
// which a program loads only when it needs what they link. Null when the module or
// the function cannot be loaded; dlerror() then says why.
template <typename Function>
Function LoadModuleFunction(const std::string& programDirectory, const char* module,
                            const char* symbol) {
    const std::string path = programDirectory + "/modules/" + module;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle ? reinterpret_cast<Function>(::dlsym(handle, symbol)) : nullptr;
}

} // namespace quantiro::app
