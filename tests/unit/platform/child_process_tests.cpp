// This test program started again as a supervised child: what it sends arrives, the
// shared block is shared, and the parent learns how it ended, also when it hangs and is
// killed. (Crashes, with their signal or exception code, are proven by the end-to-end
// runs of the conformance suite.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
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
        if (childAct() == u"middle") startGrandchild();
        // "linger" stays a minute at most, so a grandchild left behind goes by itself.
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (childAct() != u"linger" || std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // hang
        std::exit(4);
    }

  private:
    // Starts a lingering child of its own and tells its parent the grandchild's identifier.
    static void startGrandchild() {
        static plat::ChildProcess grandchild; // never ends: this process is killed
        plat::ChildOptions options;
        options.arguments = {u"--act=linger"};
        options.sharedBytes = 4096;
        if (!grandchild.start(options)) std::exit(101);
        std::string received;
        while (received.find("ready\n") == std::string::npos && !grandchild.wait(50, received).over()) {
        }
        plat::sendToParent("grandchild " + std::to_string(grandchild.id()) + "\n");
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

// The parent of a child is killed outright: the child goes with it, at once.
TEST(PlatformChildProcess, AChildDiesWithItsParent) {
    plat::ChildProcess middle;
    plat::ChildOptions options;
    options.arguments = {u"--act=middle"};
    options.sharedBytes = 4096;
    ASSERT_TRUE(middle.start(options));
    std::string received;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    size_t line = std::string::npos;
    while ((line = received.find("grandchild ")) == std::string::npos ||
           received.find('\n', line) == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), until) << "the middle process told nothing: " << received;
        ASSERT_FALSE(middle.wait(50, received).over()) << received;
    }
    const uint64_t grandchild = std::stoull(received.substr(line + 11));
    ASSERT_NE(grandchild, 0u);
    EXPECT_TRUE(plat::processRunning(grandchild));

    middle.kill();
    // It is ended as its parent goes; the time allowed is only for a loaded machine.
    const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (plat::processRunning(grandchild) && std::chrono::steady_clock::now() < gone)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(plat::processRunning(grandchild));
}
