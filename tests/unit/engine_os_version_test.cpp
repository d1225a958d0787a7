#include "engine_fixture.h"

namespace {

struct VersionCase {
    DWORD major;
    DWORD minor;
    DWORD platform;
    int win7;
    int vista;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.major << '.' << c.minor << " platform " << c.platform;
}

class OsVersionTest : public EngineTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(OsVersionTest, ClassifiesGeneration) {
    const VersionCase& c = GetParam();
    machine().SetVersion(c.major, c.minor, c.platform);
    SettingsEngine engine;
    engine.m_bWin7 = 7; // stale values must be cleared
    engine.m_bVista = 7;
    engine.DetectOsVersion();
    EXPECT_EQ(engine.m_bWin7, c.win7);
    EXPECT_EQ(engine.m_bVista, c.vista);
    EXPECT_EQ(engine.IsVistaOr7(), c.win7 == 1 || c.vista == 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, OsVersionTest,
                         ::testing::Values(VersionCase{4, 0, VER_PLATFORM_WIN32_NT, 0, 0},
                                           VersionCase{5, 0, VER_PLATFORM_WIN32_NT, 0, 0},
                                           VersionCase{5, 1, VER_PLATFORM_WIN32_NT, 0, 0},
                                           VersionCase{5, 2, VER_PLATFORM_WIN32_NT, 0, 0},
                                           VersionCase{6, 0, VER_PLATFORM_WIN32_NT, 0, 1},
                                           VersionCase{6, 1, VER_PLATFORM_WIN32_NT, 1, 0},
                                           VersionCase{6, 2, VER_PLATFORM_WIN32_NT, 1, 0},
                                           VersionCase{6, 3, VER_PLATFORM_WIN32_NT, 1, 0},
                                           VersionCase{10, 0, VER_PLATFORM_WIN32_NT, 0, 0},
                                           VersionCase{6, 1, VER_PLATFORM_WIN32_WINDOWS, 0, 0},
                                           VersionCase{6, 0, VER_PLATFORM_WIN32s, 0, 0}));

TEST_F(EngineTest, FailingVersionQuerySetsNoFlag) {
    machine().SetVersion(6, 1);
    machine().InjectFault("GetVersionExW", ERROR_INVALID_PARAMETER);
    SettingsEngine engine;
    engine.DetectOsVersion();
    EXPECT_EQ(engine.m_bWin7, 0);
    EXPECT_EQ(engine.m_bVista, 0);
}

} // namespace
