// Breaks the product's start-up work down (bench/run.sh prints it): the engine steps that run
// in OnInitDialog before the dialog shows, each timed over many repetitions in this process.
#include <windows.h>
#include <commctrl.h>

#include "engine/settings_engine.h"

#include <cstdio>

namespace {

template <typename Step> double MeanMs(int repetitions, Step step) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < repetitions; ++i) {
        step();
    }
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart) / repetitions;
}

} // namespace

int wmain() {
    const int n = 200;
    SettingsEngine engine;
    const double init = MeanMs(1, [] {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
    });
    const double detect = MeanMs(n, [&] { engine.DetectOsVersion(); });
    const double read = MeanMs(n, [&] { engine.ReadCurrentSettings(); });
    const double load = MeanMs(n, [&] { engine.LoadInitialSettings(); });
    std::printf("InitCommonControlsEx %.3f ms (once)\nDetectOsVersion %.3f ms\n"
                "ReadCurrentSettings %.3f ms\nLoadInitialSettings %.3f ms (profile present)\n",
                init, detect, read, load);
    return 0;
}
