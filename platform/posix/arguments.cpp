// The process arguments without help from main(): glibc calls the functions of the
// .init_array section with (argc, argv, envp), and argv lives as long as the process.
#include "platform/platform.h"

namespace plat {

namespace {

int capturedCount = 0;
char** capturedValues = nullptr;

void captureArguments(int argc, char** argv, char** /*envp*/) {
    capturedCount = argc;
    capturedValues = argv;
}

[[gnu::section(".init_array"), gnu::used]] void (*const captureAtStart)(int, char**,
                                                                        char**) = captureArguments;

} // namespace

std::vector<std::u16string> arguments() {
    std::vector<std::u16string> result;
    for (int i = 0; i < capturedCount && capturedValues != nullptr && capturedValues[i] != nullptr; ++i)
        result.push_back(fromNarrow(capturedValues[i]));
    return result;
}

} // namespace plat
