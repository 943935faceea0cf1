// The system loader behind the dynamic-library service: dlopen with every
// symbol bound at load and kept local to the library.
#include <dlfcn.h>

#include <string>

namespace platform::os {

void* systemLoadLibrary(const std::string& posixName, std::string& error) {
  void* lib = ::dlopen(posixName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    const char* text = ::dlerror();
    error = text ? text : "dlopen failed";
  }
  return lib;
}

void* systemLookUp(void* library, const std::string& entry, std::string& error) {
  ::dlerror();
  void* fn = ::dlsym(library, entry.c_str());
  if (!fn) {
    const char* text = ::dlerror();
    error = text ? text : "symbol not found";
  }
  return fn;
}

void systemFreeLibrary(void* library) { ::dlclose(library); }

}  // namespace platform::os
