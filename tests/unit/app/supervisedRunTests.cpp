// A supervised run whose child ends by an exception: on the host thread outside any
// driver call it is this program's own failure ("echoprobe failed: ...", error), inside
// a driver call it is the driver's crash (fail). The child is this test program started
// again, acting before any test runs.
#include <gtest/gtest.h>

#include <csignal>
#include <exception>
#include <stdexcept>

#include "app/supervised/childLink.h"
#include "app/supervised/supervisedRun.h"
#include "asio/driverCall.h"
#include "platform/childProcess.h"
#include "platform/platform.h"

namespace {

std::u16string childAct() {
    for (const std::u16string& argument : plat::arguments())
        if (argument.rfind(u"--act=", 0) == 0) return argument.substr(6);
    return {};
}

// An exception that ends the program (std::terminate with it as the current one).
[[noreturn]] void endByException(const char* what) {
    try {
        throw std::runtime_error(what);
    } catch (...) {
        std::terminate();
    }
}

class SupervisedChildSide : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!plat::startedByParent() || childAct().empty()) return;
        if (!connectSupervisedChild()) std::exit(100);
        if (childAct() == u"toolFailure") endByException("a fault of the tool's own");
        if (childAct() == u"inDriverCall")
            callDriver(
                telDriverCall::getSamplePosition, 0, [](telDriverCall, const char*) noexcept {},
                []() -> int { endByException("thrown inside the driver"); });
        // A third Ctrl+C ends a run outright: the signal's default action.
        if (childAct() == u"interrupted") {
            std::signal(SIGINT, SIG_DFL);
            std::raise(SIGINT);
        }
        std::exit(3);
    }
};
::testing::Environment* const supervisedChildSide =
    ::testing::AddGlobalTestEnvironment(new SupervisedChildSide);

} // namespace

TEST(SupervisedRun, TheToolsOwnFailureIsAnErrorNeverTheDriversCrash) {
    const supervisedOutcome outcome =
        superviseRun({u"--act=toolFailure", u"/" + std::u16string(supervisedSwitch)}, 60, std::nullopt);
    ASSERT_TRUE(outcome.started);
    EXPECT_TRUE(outcome.toolFailed);
    EXPECT_EQ(outcome.failureLine, "echoprobe failed: a fault of the tool's own");
    EXPECT_EQ(outcome.verdictWord(), measure::VerdictWord::error);
    const nlohmann::json document = outcome.document();
    EXPECT_EQ(document["verdict"], "error");
    EXPECT_EQ(document["failure"], "echoprobe failed: a fault of the tool's own");
}

// A run whose process never started has no document of its own; the one it is given
// still says what became of it (every driver's report lists it).
TEST(SupervisedRun, ARunWhoseProcessNeverStartedIsAnError) {
    const supervisedOutcome outcome;
    const nlohmann::json document = outcome.document();
    EXPECT_EQ(document["verdict"], "error");
    EXPECT_EQ(document["reasons"], nlohmann::json::array({"the run's process could not be started"}));
    EXPECT_EQ(document["failure"], "the run's process could not be started");
}

#if !defined(_WIN32) // there an abort or a raised signal is an exit status, not a crash
TEST(SupervisedRun, AChildAnInterruptEndedOutrightWasInterruptedNotCrashed) {
    const supervisedOutcome outcome =
        superviseRun({u"--act=interrupted", u"/" + std::u16string(supervisedSwitch)}, 60, std::nullopt);
    ASSERT_TRUE(outcome.started);
    EXPECT_EQ(outcome.stopSignal, SIGINT);
    EXPECT_EQ(outcome.verdictWord(), measure::VerdictWord::interrupted);
    EXPECT_EQ(outcome.document()["verdict"], "interrupted");
    EXPECT_EQ(outcome.failureLine.find("crashed"), std::string::npos) << outcome.failureLine;
}

TEST(SupervisedRun, AnExceptionEndingTheProgramInADriverCallIsTheDriversCrash) {
    const supervisedOutcome outcome =
        superviseRun({u"--act=inDriverCall", u"/" + std::u16string(supervisedSwitch)}, 60, std::nullopt);
    ASSERT_TRUE(outcome.started);
    EXPECT_FALSE(outcome.toolFailed);
    EXPECT_EQ(outcome.failureLine.rfind("The run ended: the driver crashed in getSamplePosition (", 0), 0u)
        << outcome.failureLine;
    EXPECT_EQ(outcome.verdictWord(), measure::VerdictWord::fail);
}
#endif
