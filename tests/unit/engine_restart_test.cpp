#include "engine_fixture.h"

#include "engine/restart.h"

#include <cctype>

namespace {

struct RestartCase {
    const char* what;
    bool tokenOpens;
    bool privilegeHeld;
    bool exitSucceeds;
    size_t messages;
};

void PrintTo(const RestartCase& c, std::ostream* os) {
    *os << c.what;
}

class RestartTest : public EngineTest, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(RestartTest, ShowsTheFailureMessageForEachFailingStepAndStillRequestsTheRestart) {
    const RestartCase& c = GetParam();
    machine().tokenOpens = c.tokenOpens;
    machine().privilegeHeld = c.privilegeHeld;
    machine().exitSucceeds = c.exitSucceeds;
    RestartComputer();

    ASSERT_EQ(machine().exitRequests.size(), 1u);
    // Other programs are asked to close (no EWX_FORCE); the restart is logged as planned.
    EXPECT_EQ(machine().exitRequests[0].flags, 0x12u);
    EXPECT_EQ(machine().exitRequests[0].reason, 0x80020004u);
    ASSERT_EQ(machine().messageBoxes.size(), c.messages);
    for (const sim::MessageBoxRecord& box : machine().messageBoxes) {
        EXPECT_EQ(box.text, kRestartFailedText);
        EXPECT_EQ(box.caption, L"Quillmarsh");
        EXPECT_EQ(box.type, MB_OK | MB_ICONEXCLAMATION);
    }
    if (!c.tokenOpens) {
        EXPECT_TRUE(machine().CallsTo("AdjustTokenPrivileges").empty())
            << "no unset token handle may be used";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RestartTest,
    ::testing::Values(RestartCase{"success", true, true, true, 0},
                      RestartCase{"no privilege", true, false, false, 2},
                      // Without the privilege enabled the request itself fails too.
                      RestartCase{"no privilege, exit works", true, false, true, 2},
                      RestartCase{"no token", false, true, true, 2},
                      RestartCase{"no token, exit fails", false, true, false, 2},
                      RestartCase{"exit fails", true, true, false, 1}),
    [](const ::testing::TestParamInfo<RestartCase>& p) {
        std::string name = p.param.what;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    });

TEST_F(EngineTest, RestartEnablesTheShutdownPrivilegeBeforeAsking) {
    RestartComputer();
    std::vector<std::string> order;
    for (const sim::CallRecord& call : machine().calls) {
        if (call.function == "OpenProcessToken" || call.function == "LookupPrivilegeValueW" ||
            call.function == "AdjustTokenPrivileges" || call.function == "ExitWindowsEx") {
            order.push_back(call.function);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"OpenProcessToken", "LookupPrivilegeValueW",
                                               "AdjustTokenPrivileges", "ExitWindowsEx"}));
    const auto opens = machine().CallsTo("OpenProcessToken");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].detail, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    EXPECT_TRUE(machine().messageBoxes.empty());
}

TEST_F(EngineTest, MessageBoxCaptionIsTheExecutablesName) {
    machine().SetModulePath(L"C:\\tools\\ssd-tuner.v2.exe");
    machine().exitSucceeds = false;
    RestartComputer();
    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_EQ(machine().messageBoxes[0].caption, L"ssd-tuner.v2");
}

} // namespace
