// Standard output and plain files over POSIX descriptors. A Handle is the descriptor.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

namespace {

// Descriptors 0 to 2 are the standard streams; a file opened while one of them is closed
// would land there (and 0 reads as "no handle"), so such a descriptor is moved above them.
int moveAboveStandardStreams(int fd) {
    if (fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

int openFlags(bool readAccess, bool writeAccess, Disposition disposition) {
    int flags = O_CLOEXEC;
    if (readAccess && writeAccess)
        flags |= O_RDWR;
    else if (writeAccess)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    switch (disposition) {
    case Disposition::createNew:
        flags |= O_CREAT | O_EXCL;
        break;
    case Disposition::openExisting:
        break;
    case Disposition::truncateExisting:
        flags |= O_TRUNC;
        break;
    case Disposition::createAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
    }
    return flags;
}

bool usable(Handle handle) {
    return handle != 0 && handle != invalidHandle && handle <= INT32_MAX;
}

} // namespace

Handle stdOutput() {
    return fcntl(STDOUT_FILENO, F_GETFD) == -1 ? invalidHandle : STDOUT_FILENO;
}

void writeErrorLine(const std::u16string& text) {
    const std::string line = toNarrow(text) + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

bool pathExists(const std::u16string& name) {
    struct stat info;
    return !name.empty() && stat(toNarrow(name).c_str(), &info) == 0;
}

Handle createFile(const std::u16string& name, bool readAccess, bool writeAccess, Disposition disposition,
                  uint32_t /*attributes: no POSIX counterpart*/) {
    if (name.empty()) return invalidHandle;
    int fd = open(toNarrow(name).c_str(), openFlags(readAccess, writeAccess, disposition), 0666);
    if (fd < 0) return invalidHandle;
    // Opening a folder as a file fails on Windows; keep that behaviour.
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return invalidHandle;
    }
    fd = moveAboveStandardStreams(fd);
    return fd < 0 ? invalidHandle : fd;
}

bool closeHandle(Handle handle) {
    return usable(handle) && close(static_cast<int>(handle)) == 0;
}

void setFilePointer(Handle handle, int32_t distance, MoveMethod method) {
    if (!usable(handle)) return;
    int whence = method == MoveMethod::begin ? SEEK_SET : method == MoveMethod::current ? SEEK_CUR : SEEK_END;
    (void)lseek(static_cast<int>(handle), distance, whence);
}

bool writeFile(Handle handle, const void* data, uint32_t size, uint32_t& written) {
    written = 0;
    if (!usable(handle) || (data == nullptr && size != 0)) return false;
    const char* bytes = static_cast<const char*>(data);
    // write(2) may take only part of the block (pipes, signals): go on until all is out.
    while (written < size) {
        ssize_t n = write(static_cast<int>(handle), bytes + written, size - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        written += static_cast<uint32_t>(n);
    }
    return true;
}

// Every write goes straight to the descriptor with write(2): nothing is held back here.
void flushStdOutput() {}

PathKind pathKind(const std::u16string& name) {
    struct stat info;
    if (name.empty() || stat(toNarrow(name).c_str(), &info) != 0) return PathKind::missing;
    if (S_ISREG(info.st_mode)) return PathKind::file;
    if (S_ISDIR(info.st_mode)) return PathKind::folder;
    return PathKind::other;
}

bool replaceFile(const std::u16string& from, const std::u16string& to) {
    return std::rename(toNarrow(from).c_str(), toNarrow(to).c_str()) == 0;
}

bool removeFile(const std::u16string& name) {
    return unlink(toNarrow(name).c_str()) == 0;
}

bool seekFile(Handle handle, uint64_t offset) {
    return usable(handle) && offset <= uint64_t(INT64_MAX) &&
           lseek(static_cast<int>(handle), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

int64_t fileSize(Handle handle) {
    struct stat info;
    return usable(handle) && fstat(static_cast<int>(handle), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

bool truncateFile(Handle handle, uint64_t size) {
    return usable(handle) && size <= uint64_t(INT64_MAX) &&
           ftruncate(static_cast<int>(handle), static_cast<off_t>(size)) == 0;
}

std::u16string lastFileError() {
    return fromNarrow(std::strerror(errno));
}

} // namespace plat
