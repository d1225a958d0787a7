#include "engine/settings_engine.h"

bool SettingsEngine::DetectOsVersion() {
    m_bWin7 = 0;
    m_bVista = 0;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996) // the version query is what classifies the generation here
#endif
    if (!GetVersionExW(&info)) {
        return false;
    }
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        return true;
    }
    if (info.dwMajorVersion == 6) {
        if (info.dwMinorVersion >= 1) {
            m_bWin7 = 1;
        } else {
            m_bVista = 1;
        }
    }
    return true;
}
