#include "util/reportFile.h"

#include "platform/platform.h"

namespace {

// Writes `text` into the file at `path`; false and `why` when it cannot.
bool writeWholeFile(const telText& path, const std::string& text, plat::Disposition disposition, telText* why) {
    const plat::Handle file = plat::createFile(path, false, true, disposition, plat::fileAttributeNormal);
    if (file == plat::invalidHandle) {
        if (why != nullptr) *why = plat::lastFileError();
        return false;
    }
    uint32_t written = 0;
    const bool ok = text.empty() || (plat::writeFile(file, text.data(), static_cast<uint32_t>(text.size()), written) &&
                                     written == text.size());
    if (!ok && why != nullptr) *why = plat::lastFileError();
    const bool closed = plat::closeHandle(file);
    if (ok && !closed && why != nullptr) *why = plat::lastFileError();
    return ok && closed;
}

} // namespace

void removeStaleOutput(const std::optional<telText>& path) {
    if (path && plat::pathKind(*path) == plat::PathKind::file) plat::removeFile(*path);
}

reportFile::reportFile(const std::optional<telText>& path, const char16_t* what) : f_what(what) {
    if (!path) return;
    f_path = *path;
    f_partialPath = f_path + partialSuffix;
    f_active = true;
}

telText reportFile::failureLine(const telText& reason) const {
    return u"Cannot write the " + f_what + u" report to " + f_path + u": " + reason + u".";
}

bool reportFile::writable(telText* why) {
    if (!f_active) return true;
    telText reason;
    switch (plat::pathKind(f_path)) {
    case plat::PathKind::folder:
        reason = u"it is a folder";
        break;
    case plat::PathKind::other: {
        // A device or a pipe: nothing to rename into place; it must open for writing.
        f_direct = true;
        const plat::Handle file =
            plat::createFile(f_path, false, true, plat::Disposition::openExisting, plat::fileAttributeNormal);
        if (file != plat::invalidHandle) return plat::closeHandle(file), true;
        reason = plat::lastFileError();
        break;
    }
    default:
        if (writeWholeFile(f_partialPath, std::string(), plat::Disposition::createAlways, &reason)) {
            plat::removeFile(f_partialPath);
            return true;
        }
    }
    if (why != nullptr) *why = failureLine(reason);
    return false;
}

bool reportFile::write(const std::string& text, telText* why) {
    if (!f_active) return true;
    telText reason;
    bool ok = false;
    if (f_direct) {
        ok = writeWholeFile(f_path, text, plat::Disposition::openExisting, &reason);
    } else {
        ok = writeWholeFile(f_partialPath, text, plat::Disposition::createAlways, &reason);
        if (ok && !plat::replaceFile(f_partialPath, f_path)) {
            reason = plat::lastFileError();
            ok = false;
        }
        if (!ok) plat::removeFile(f_partialPath);
    }
    if (!ok && why != nullptr) *why = failureLine(reason);
    return ok;
}

void reportFile::discard() {
    if (f_active) removeStaleOutput(f_path);
}
