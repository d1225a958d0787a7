// What putting one pair in place came to.
#pragma once

#include "platform/win32.h"

struct PairOutcome {
    enum class State { Unchanged, Changed, Failed };
    State state = State::Unchanged;
    DWORD error = NO_ERROR;     // when Failed: what Windows reported
    const char* step = nullptr; // when Failed: the step, in plain ASCII
    bool wrote = false;         // some item was written, whatever else failed

    // A failure outweighs a change, and the first failure is the one reported.
    void Change() {
        wrote = true;
        if (state == State::Unchanged) {
            state = State::Changed;
        }
    }
    void Fail(DWORD failure, const char* failedStep) {
        if (state != State::Failed) {
            state = State::Failed;
            error = failure;
            step = failedStep;
        }
    }
    void Merge(const PairOutcome& other) {
        if (other.state == State::Failed) {
            Fail(other.error, other.step);
        } else if (other.state == State::Changed) {
            Change();
        }
        wrote = wrote || other.wrote;
    }
    bool Failed() const { return state == State::Failed; }
};
