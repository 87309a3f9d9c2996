// presskey [DELAY_MS]
//
// Presses SPACE for unattended runs: waits DELAY_MS (default 0), sends SPACE down,
// holds it for about 300 ms so a program polling the key every 100 ms sees it, and
// sends SPACE up. Exits 0 when both key events were delivered.
#include <windows.h>

#include <cstdlib>

namespace {

bool sendSpace(bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_SPACE;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return SendInput(1, &input, sizeof input) == 1;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned long delay = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
    Sleep(static_cast<DWORD>(delay));
    const bool pressed = sendSpace(true);
    Sleep(300);
    const bool released = sendSpace(false);
    return pressed && released ? 0 : 1;
}
