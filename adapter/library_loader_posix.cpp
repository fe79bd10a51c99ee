#include <dlfcn.h>

#include "adapter/library_loader.h"

namespace kestran {

const char kAdapterLibraryFile[] = "libsmbusb.so";

void* loadAdapterLibrary() { return dlopen(kAdapterLibraryFile, RTLD_NOW); }
void* librarySymbol(void* library, const char* name) { return dlsym(library, name); }
void unloadLibrary(void* library) { dlclose(library); }

}  // namespace kestran
