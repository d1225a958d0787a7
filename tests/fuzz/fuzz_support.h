// Shared by the fuzz targets: a fresh simulated machine per input and a check that aborts, so
// libFuzzer keeps the input that broke an invariant.
#pragma once

#include "engine/settings_engine.h"
#include "sim/machine.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s (%s)\n", __FILE__, __LINE__, what, \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

inline const std::wstring kHklm = L"HKLM\\";

inline sim::Machine& FreshMachine() {
    sim::Machine& machine = sim::TheMachine();
    machine.Reset();
    machine.SetStringResource(102, L"restart?");
    machine.SetStringResource(129, L"restart failed");
    return machine;
}

// NT 5.2, 6.0 or 6.1, the generations the product names.
inline void SetGeneration(sim::Machine& machine, unsigned pick) {
    switch (pick % 3) {
    case 0:
        machine.SetVersion(5, 2);
        break;
    case 1:
        machine.SetVersion(6, 0);
        break;
    default:
        machine.SetVersion(6, 1);
        break;
    }
}

// With QM_FUZZ_TRACE set, a target prints what it ran: for replaying one saved input by hand.
inline bool Tracing() {
    static const bool on = std::getenv("QM_FUZZ_TRACE") != nullptr;
    return on;
}

inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return out;
}

inline void TraceCalls(const sim::Machine& machine) {
    if (!Tracing()) {
        return;
    }
    for (const sim::CallRecord& call : machine.calls) {
        std::fprintf(stderr, "  %s %s %u\n", call.function.c_str(), Narrow(call.target).c_str(),
                     static_cast<unsigned>(call.detail));
    }
}

inline void CheckNothingLeftOpen(const sim::Machine& machine) {
    FUZZ_CHECK(machine.OpenKeyCount() == 0, "a registry key was left open");
    FUZZ_CHECK(machine.OpenFileHandleCount() == 0, "a file handle was left open");
    FUZZ_CHECK(machine.openProcessCount == 0, "a process handle was left open");
}

} // namespace fuzz
