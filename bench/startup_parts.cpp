// Breaks the programs' work down (bench/run.sh prints it): the engine steps that run in
// OnInitDialog before the dialog shows, and the console program's run with the steps only it
// takes, each timed over many repetitions in this process.
#include <windows.h>
#include <commctrl.h>

#include "cli/console_program.h"
#include "engine/admin_rights.h"
#include "engine/machine_snapshot.h"
#include "engine/run_lock.h"
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

// The console program's output goes nowhere here.
class NoStreams final : public ConsoleStreams {
public:
    void Out(const std::string&) override {}
    void Err(const std::wstring&) override {}
};

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

    // The console program's own steps, and its whole run in this process (no process start).
    NoStreams streams;
    const double rights = MeanMs(n, [&] { HasAdministratorRights(engine.IsVistaOr7()); });
    const double lock = MeanMs(n, [] { RunLock().Acquire(0); });
    SettingValues values{};
    const double snapshot = MeanMs(n, [&] { ReadMachineSnapshot(values); });
    const double status =
        MeanMs(n, [&] { RunConsoleProgram(L"QuillmarshCli.exe /status", streams); });
    const double asAsked = MeanMs(n, [&] {
        RunConsoleProgram(L"QuillmarshCli.exe /AutoDefrag:off /Index:off /SuperFetch:off "
                          L"/PreFetch:off /Trim:off",
                          streams);
    });
    std::printf("HasAdministratorRights %.3f ms\nRunLock (Global\\ mutex) %.3f ms\n"
                "ReadMachineSnapshot %.3f ms\nconsole run /status %.3f ms\n"
                "console run, everything already as asked %.3f ms\n",
                rights, lock, snapshot, status, asAsked);
    return 0;
}
