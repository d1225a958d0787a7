// Benchmark probe: starts a dialog program N times and measures, per run,
//   start-up  process creation -> main dialog visible and answering a BM_GETCHECK to its first
//             radio (for the product: that radio pair set, i.e. after its start-up sequence),
//   OK        BM_CLICK on IDOK -> the restart question is visible (product), or -> the dialog
//             is gone (the bare dialog: its whole reaction to OK),
//   memory    peak working set of the process.
// Usage: probe.exe RUNS PRODUCT.exe BARE.exe   Prints one line per measure with the medians.
//
// With --console it times console programs from process creation to their end, started as a
// deployment system starts them (no console window, output to NUL): each round runs the floor,
// then each command once, and every run must end with 0.
// Usage: probe.exe --console RUNS FLOOR.exe COMMAND...
//   COMMAND is PROGRAM.exe|ARGUMENTS ('|' is in no Windows path). Prints per command the median
//   time, the floor's, and the per-round ratio.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

double g_ticksPerMs = 0;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / g_ticksPerMs;
}

struct Search {
    DWORD pid;
    HWND exclude;
    bool needRadio;
    bool needMessageBox;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != s.pid || window == s.exclude || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t cls[64] = {};
    wchar_t caption[64] = {};
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, caption, 64);
    if (std::wcscmp(cls, L"#32770") != 0 || std::wcscmp(caption, L"Quillmarsh") != 0) {
        return TRUE;
    }
    if (s.needMessageBox && GetDlgItem(window, 0xFFFF) == nullptr) {
        return TRUE;
    }
    if (!s.needMessageBox) {
        // Both programs are asked the same question, so both pay for the answer from their
        // dialog thread; only the product must also report a checked radio.
        const bool set = SendMessageW(GetDlgItem(window, 1000), BM_GETCHECK, 0, 0) == BST_CHECKED ||
                         SendMessageW(GetDlgItem(window, 1001), BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (s.needRadio && !set) {
            return TRUE;
        }
    }
    s.found = window;
    return FALSE;
}

HWND Poll(Search search, double limitMs) {
    const double start = NowMs();
    while (NowMs() - start < limitMs) {
        search.found = nullptr;
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        Sleep(1);
    }
    return nullptr;
}

SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize
                                                                      : 0;
}

struct Sample {
    double startupMs = -1;
    double okMs = -1;
    double peakKiB = -1;
};

bool RunOnce(const std::wstring& exe, bool product, Sample& sample) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    const std::wstring directory = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const double t0 = NowMs();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process)) {
        std::fwprintf(stderr, L"cannot start %ls (error %lu)\n", exe.c_str(), GetLastError());
        return false;
    }
    bool ok = false;
    const HWND dialog = Poll({process.dwProcessId, nullptr, product, false, nullptr}, 30000);
    if (dialog != nullptr) {
        sample.startupMs = NowMs() - t0;
        Sleep(200); // let it settle: the OK timing should not include start-up leftovers
        const double t1 = NowMs();
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        if (product) {
            const HWND question = Poll({process.dwProcessId, dialog, false, true, nullptr}, 30000);
            if (question != nullptr) {
                sample.okMs = NowMs() - t1;
                sample.peakKiB = PeakWorkingSet(process.hProcess) / 1024.0;
                // Never Yes: a restart would end every process of the prefix, this one too.
                PostMessageW(question, WM_COMMAND, IDNO, 0);
                ok = true;
            }
        } else {
            while (IsWindow(dialog) && IsWindowVisible(dialog) && NowMs() - t1 < 30000) {
                Sleep(1);
            }
            sample.okMs = NowMs() - t1;
            sample.peakKiB = PeakWorkingSet(process.hProcess) / 1024.0;
            ok = !IsWindow(dialog) || !IsWindowVisible(dialog);
        }
    }
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        ok = false;
    } else {
        // After the exit the counters are final, where the system still reports them.
        const double after = PeakWorkingSet(process.hProcess) / 1024.0;
        sample.peakKiB = std::max(sample.peakKiB, after);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ok;
}

// The q-quantile, interpolating between the two nearest samples (q = 0.5 is the median).
double Quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    const double position = q * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(position);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] +
           (values[above] - values[below]) * (position - static_cast<double>(below));
}

double Median(const std::vector<double>& values) {
    return Quantile(values, 0.5);
}

// Start to end of `exe arguments`, with its exit code; -1 when it cannot start or does not end.
double TimeConsoleRun(const std::wstring& exe, const std::wstring& arguments, HANDLE nul,
                      DWORD& exitCode) {
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    const std::wstring directory = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    const double t0 = NowMs();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, directory.c_str(), &startup, &process)) {
        std::fwprintf(stderr, L"cannot start %ls (error %lu)\n", exe.c_str(), GetLastError());
        return -1;
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    const double elapsed = NowMs() - t0;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    const bool ended = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? elapsed : -1;
}

int MeasureConsole(int runs, const std::wstring& floor, const std::vector<std::wstring>& commands) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    // Slot 0 is the floor, then one slot per command.
    std::vector<std::wstring> programs{floor}, arguments{L""};
    for (const std::wstring& command : commands) {
        const size_t bar = command.find(L'|');
        programs.push_back(command.substr(0, bar));
        arguments.push_back(bar == std::wstring::npos ? L"" : command.substr(bar + 1));
    }
    std::vector<std::vector<double>> samples(programs.size());
    const auto one = [&](size_t slot, DWORD& exitCode) {
        return TimeConsoleRun(programs[slot], arguments[slot], nul, exitCode);
    };
    // One warm-up run each: caches, and the program's own first run, which applies what is asked
    // (so every measured run finds it as asked).
    for (size_t slot = 0; slot < samples.size(); ++slot) {
        DWORD ignored = 0;
        one(slot, ignored);
    }
    for (int i = 0; i < runs; ++i) {
        for (size_t slot = 0; slot < samples.size(); ++slot) {
            DWORD exitCode = 1;
            const double ms = one(slot, exitCode);
            if (ms < 0 || exitCode != 0) {
                std::fwprintf(stderr, L"round %d: %ls %ls ended with %lu\n", i + 1,
                              programs[slot].c_str(), arguments[slot].c_str(), exitCode);
                return 1;
            }
            samples[slot].push_back(ms);
        }
    }
    CloseHandle(nul);
    std::wprintf(L"console_floor end_ms %.1f\n", Median(samples[0]));
    for (size_t slot = 1; slot < samples.size(); ++slot) {
        std::vector<double> ratios;
        for (int i = 0; i < runs; ++i) {
            ratios.push_back(samples[slot][i] / samples[0][i]);
        }
        std::wprintf(L"console_run end_ms %.1f pair_ratio %.3f q1 %.3f q3 %.3f command %ls\n",
                     Median(samples[slot]), Median(ratios), Quantile(ratios, 0.25),
                     Quantile(ratios, 0.75), commands[slot - 1].c_str());
    }
    for (size_t slot = 0; slot < samples.size(); ++slot) {
        std::wprintf(L"  sample %ls", slot == 0 ? L"floor" : commands[slot - 1].c_str());
        for (const double ms : samples[slot]) {
            std::wprintf(L" %.1f", ms);
        }
        std::wprintf(L"\n");
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
    if (argc >= 5 && std::wcscmp(argv[1], L"--console") == 0) {
        return MeasureConsole(std::max(1, _wtoi(argv[2])), argv[3],
                              std::vector<std::wstring>(argv + 4, argv + argc));
    }
    if (argc != 4) {
        std::fwprintf(stderr,
                      L"usage: probe.exe RUNS PRODUCT.exe BARE.exe\n"
                      L"       probe.exe --console RUNS FLOOR.exe PROGRAM.exe|ARGUMENTS...\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    const std::wstring programs[2] = {argv[2], argv[3]};
    const wchar_t* names[2] = {L"product", L"bare"};

    // One warm-up run each (first-run profile file, caches), then interleaved measured runs.
    std::vector<Sample> samples[2];
    for (int p = 0; p < 2; ++p) {
        Sample ignored;
        RunOnce(programs[p], p == 0, ignored);
    }
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < 2; ++p) {
            Sample sample;
            if (!RunOnce(programs[p], p == 0, sample)) {
                std::fwprintf(stderr, L"run %d of %ls failed\n", i + 1, names[p]);
                return 1;
            }
            samples[p].push_back(sample);
        }
    }
    for (int p = 0; p < 2; ++p) {
        std::vector<double> startup, ok, peak;
        for (const Sample& s : samples[p]) {
            startup.push_back(s.startupMs);
            ok.push_back(s.okMs);
            peak.push_back(s.peakKiB);
        }
        std::wprintf(L"%ls startup_ms %.1f ok_ms %.1f peak_kib %.0f\n", names[p], Median(startup),
                     Median(ok), Median(peak));
        for (const Sample& s : samples[p]) {
            std::wprintf(L"  sample %ls %.1f %.1f %.0f\n", names[p], s.startupMs, s.okMs,
                         s.peakKiB);
        }
    }
    // Product / floor within each round: the two ran back to back, so a busy machine slows both.
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        ratios.push_back(samples[0][i].startupMs / samples[1][i].startupMs);
    }
    std::wprintf(L"pair_ratio median %.3f q1 %.3f q3 %.3f\n", Median(ratios),
                 Quantile(ratios, 0.25), Quantile(ratios, 0.75));
    std::fflush(stdout);
    return 0;
}
