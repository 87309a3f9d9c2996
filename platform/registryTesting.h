// Test entry points of the POSIX stand-ins for the registry and COM. They let a test
// script the registry and serve a class from code in the test program instead of a
// loaded module. Not available in the Windows build, which uses the real ones.
#pragma once

#if !defined(_WIN32)

#include <string>

#include "platform/com.h"

namespace plat::testing {

// Replaces the registry with the content of a registry-editor text (`sourceName` names
// it in the error). Returns "" on success, else the error line, as printed for a bad
// ASIO_REGISTRY file; the registry is then empty. Keys opened before stay readable.
std::string loadRegistryText(const std::string& bytes, const std::string& sourceName);

// Makes coCreateInstance take the class factory from `getClassObject` for a server
// registered with this path, instead of loading a module. A null procedure removes the
// path again.
void registerInprocServer(const std::string& path, DllGetClassObjectProc getClassObject);

// With `only` set, coCreateInstance serves only paths registered above and never loads
// a module: any other server fails as a missing module does (0x8007007E). For fuzzing,
// where the registry can name any file. Off at start.
void loadOnlyRegisteredServers(bool only);

} // namespace plat::testing

#endif
