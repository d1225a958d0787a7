#pragma once

// The user's choices, one per ON/OFF pair. Implemented by the dialog, which reads its radios on
// every call, so the engine sees the state at the moment it needs each choice.
class Selection {
public:
    virtual bool AutoDefragOn() const = 0;
    virtual bool IndexOn() const = 0;
    virtual bool SuperFetchOn() const = 0;
    virtual bool PreFetchOn() const = 0;
    virtual bool TrimOn() const = 0;

protected:
    ~Selection() = default;
};
