// This test program started again as a supervised child: what it sends arrives, the
// shared block is shared, and the parent learns how it ended, also when it hangs and is
// killed. (Crashes, with their signal or exception code, are proven by the end-to-end
// runs of the conformance suite.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/childProcess.h"
#include "platform/platform.h"

namespace {

// What the child does, named by the argument after its filter.
std::u16string childAct() {
    for (const std::u16string& argument : plat::arguments())
        if (argument.rfind(u"--act=", 0) == 0) return argument.substr(6);
    return {};
}

plat::ChildEnd runChild(const char16_t* act, std::string& received, char& shared, uint32_t waitMs) {
    plat::ChildProcess child;
    plat::ChildOptions options;
    options.arguments = {std::u16string(u"--act=") + act};
    options.sharedBytes = 4096;
    EXPECT_TRUE(child.start(options));
    plat::ChildEnd end = child.end();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!end.over() && std::chrono::steady_clock::now() < until) {
        end = child.wait(50, received);
    }
    if (!end.over()) child.kill();
    shared = static_cast<const char*>(child.shared())[0];
    return child.end();
}

} // namespace

namespace {

// The child's side: when a test below started this program, it acts before any test
// runs (and never returns); otherwise it does nothing.
class ChildSide : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!plat::startedByParent()) return;
        plat::ParentLink link;
        if (!plat::connectToParent(link) || link.sharedBytes < 4096) std::exit(100);
        static_cast<char*>(link.shared)[0] = 'x';
        plat::sendToParent("ready\n");
        if (childAct() == u"exit") std::exit(3);
        for (;;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // hang
    }
};
::testing::Environment* const childSide = ::testing::AddGlobalTestEnvironment(new ChildSide);

} // namespace

TEST(PlatformChildProcess, ExitStatusChannelAndSharedBlock) {
    std::string received;
    char shared = 0;
    const plat::ChildEnd end = runChild(u"exit", received, shared, 60000);
    EXPECT_EQ(received, "ready\n");
    EXPECT_EQ(shared, 'x');
    EXPECT_EQ(end.kind, plat::ChildEnd::Kind::exited);
    EXPECT_EQ(end.code, 3u);
    EXPECT_EQ(plat::childEndText(end), u"exit status 3");
}

TEST(PlatformChildProcess, AHangIsKilled) {
    std::string received;
    char shared = 0;
    const auto began = std::chrono::steady_clock::now();
    const plat::ChildEnd end = runChild(u"hang", received, shared, 1500);
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1500));
    EXPECT_EQ(received, "ready\n");
    EXPECT_EQ(shared, 'x');
    EXPECT_EQ(end.kind, plat::ChildEnd::Kind::killed);
    EXPECT_TRUE(end.abnormal());
}
