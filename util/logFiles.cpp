// File primitives of the log sinks: existence check, open/create, positioned writes.
#include "util/telUtils.h"

namespace {

bool isOpen(plat::Handle handle) {
    return handle != plat::invalidHandle && handle != 0;
}

plat::Disposition openOrCreate(const telText& name) {
    return fileExists(name) ? plat::Disposition::openExisting : plat::Disposition::createNew;
}

} // namespace

telBool fileExists(const telText& name) {
    return toTelBool(!name.empty() && plat::pathExists(name));
}

plat::Handle openFile(const telText& name, telBool truncate, telBool keepOpen, uint32_t attributes) {
    const plat::Disposition disposition =
        fileExists(name) ? (truncate ? plat::Disposition::truncateExisting : plat::Disposition::openExisting)
                         : plat::Disposition::createNew;
    const plat::Handle handle = plat::createFile(name, true, true, disposition, attributes);
    if (keepOpen) return handle;
    closeFileHandle(handle);
    return 0;
}

telBool closeFileHandle(plat::Handle handle) {
    return toTelBool(isOpen(handle) && plat::closeHandle(handle));
}

int32_t writeToHandle(plat::Handle handle, const void* data, uint32_t size, int32_t distance,
                      plat::MoveMethod method) {
    if (!isOpen(handle)) return -2;
    if (data == nullptr || size == 0) return 0;
    plat::setFilePointer(handle, distance, method);
    uint32_t written = 0;
    if (!plat::writeFile(handle, data, size, written)) return -3;
    return written < size ? -4 : 0;
}

int32_t writeTextToHandle(plat::Handle handle, const telAnsiText& text, int32_t distance,
                          plat::MoveMethod method) {
    if (text.empty()) return 0;
    return writeToHandle(handle, text.data(), static_cast<uint32_t>(text.size()), distance, method);
}

int32_t writeToFile(const telText& name, const void* data, uint32_t size, int32_t distance,
                    plat::MoveMethod method) {
    if (name.empty()) return -1;
    const plat::Handle handle =
        plat::createFile(name, false, true, openOrCreate(name), plat::fileAttributeNormal);
    if (!isOpen(handle)) return -2;
    const int32_t result = writeToHandle(handle, data, size, distance, method);
    closeFileHandle(handle);
    return result;
}
