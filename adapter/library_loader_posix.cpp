#include <dlfcn.h>
#include <link.h>

#include "adapter/library_loader.h"

namespace kestran {

const char kAdapterLibraryFile[] = "libsmbusb.so";

void* loadAdapterLibrary(const std::string& file, std::string& why)
{
    // dlopen searches for a name without a slash: a file asked for by name is the current directory's.
    const std::string path = file.empty() ? kAdapterLibraryFile
                             : file.find('/') == std::string::npos ? "./" + file
                                                                    : file;
    void* library = dlopen(path.c_str(), RTLD_NOW);
    if (!library) {
        const char* error = dlerror();
        why = error ? error : path + ": cannot be loaded";
    }
    return library;
}

void* librarySymbol(void* library, const char* name) { return dlsym(library, name); }

std::string libraryFileOf(void* library)
{
    link_map* map = nullptr;
    return dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name ? map->l_name : "";
}

void unloadLibrary(void* library) { dlclose(library); }

}  // namespace kestran
