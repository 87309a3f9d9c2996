#include "app/measured/fileSink.h"

#include <algorithm>

#include "platform/platform.h"

namespace {

class platformFileSink : public measure::WavSink {
  public:
    explicit platformFileSink(plat::Handle file) : f_file(file) {}
    ~platformFileSink() override { close(); }

    size_t append(const void* data, size_t bytes) override {
        if (!f_atEnd) {
            if (!plat::seekFile(f_file, f_end)) return keepError(0);
            f_atEnd = true;
        }
        const auto* cursor = static_cast<const uint8_t*>(data);
        size_t done = 0;
        while (done < bytes) {
            const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(bytes - done, size_t{1} << 30));
            uint32_t written = 0;
            const bool ok = plat::writeFile(f_file, cursor + done, piece, written);
            done += written;
            f_end += written;
            if (!ok || written < piece) return keepError(done);
        }
        return done;
    }

    bool overwrite(uint64_t offset, const void* data, size_t bytes) override {
        f_atEnd = false;
        uint32_t written = 0;
        if (!plat::seekFile(f_file, offset) || !plat::writeFile(f_file, data, static_cast<uint32_t>(bytes), written) ||
            written != bytes)
            return keepError(false);
        return true;
    }

    bool truncate(uint64_t size) override {
        f_atEnd = false;
        if (!plat::truncateFile(f_file, size)) return keepError(false);
        f_end = size;
        return true;
    }

    bool close() override {
        if (f_file == plat::invalidHandle) return true;
        const bool ok = plat::closeHandle(f_file);
        f_file = plat::invalidHandle;
        return ok || keepError(false);
    }

    std::string lastError() const override { return plat::toUtf8(f_error); }

  private:
    template <class T> T keepError(T result) {
        f_error = plat::lastFileError();
        return result;
    }

    plat::Handle f_file;
    uint64_t f_end = 0;
    bool f_atEnd = true;
    std::u16string f_error;
};

} // namespace

std::unique_ptr<measure::WavSink> createFileSink(const telText& path, telText* error) {
    const plat::Handle file =
        plat::createFile(path, false, true, plat::Disposition::createAlways, plat::fileAttributeNormal);
    if (file == plat::invalidHandle) {
        if (error != nullptr) *error = plat::lastFileError();
        return nullptr;
    }
    return std::make_unique<platformFileSink>(file);
}
