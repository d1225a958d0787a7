// Starts the real Quillmarsh.exe under Wine and works its windows from outside, as a person
// would: reads what the dialog shows, clicks, presses keys and answers message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// A modal window of the program besides the main dialog (message box or About box).
struct Popup {
    HWND hwnd = nullptr;
    std::wstring caption;
    std::wstring text;        // of the message text control 0xFFFF, if any
    std::vector<int> buttons; // ids of the visible push buttons
    std::vector<std::wstring> statics;
    std::wstring icon; // message box icon as compared on screen: information, question, ...
};

class AppDriver {
public:
    AppDriver() = default;
    AppDriver(const AppDriver&) = delete;
    AppDriver& operator=(const AppDriver&) = delete;
    ~AppDriver(); // ends a process still running

    // Starts the program with `folder` as its current directory and waits for the main dialog.
    bool Start(const std::wstring& exe, const std::wstring& folder, std::string& error);

    HWND Dialog() const { return m_dialog; }
    HWND Item(int id) const { return GetDlgItem(m_dialog, id); }
    bool IsChecked(int id) const;
    bool IsEnabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    HWND Focus() const;
    // Waits until the focus is on `hwnd` (the dialog manager moves it asynchronously).
    bool WaitForFocus(HWND hwnd, DWORD ms = 5000) const;

    // BM_CLICK sent: returns once the click's handler has run. Not for OK, which opens a box.
    void Click(int id) const;
    // BM_CLICK posted: for buttons whose handler opens a modal box.
    void PostClick(int id) const;
    void PostClick(HWND button) const;
    // WM_KEYDOWN/WM_KEYUP posted to the focused control, for the dialog manager to handle.
    void PressKey(UINT vk) const;
    void PostToDialog(UINT message, WPARAM wParam, LPARAM lParam) const;

    // The first popup of the dialog's thread other than `except`; null at the deadline.
    HWND WaitForPopup(DWORD ms = 20000, HWND except = nullptr) const;
    HWND CurrentPopup(HWND except = nullptr) const;
    Popup ReadPopup(HWND popup) const;
    // BM_CLICK on one of the popup's buttons (IDOK, IDYES, IDNO).
    void Answer(HWND popup, int id) const;
    bool WaitUntilGone(HWND hwnd, DWORD ms = 10000) const;

    // The paths of the DLLs loaded into the running program.
    std::vector<std::wstring> LoadedModules() const;

    bool Running() const;
    bool WaitForExit(DWORD ms = 20000) const;

    // A picture of the window as the screen shows it once drawn (visible, not blank, two
    // pictures in a row alike), written as binary PPM; `error` says why there is none.
    bool SaveScreenshot(HWND hwnd, const std::wstring& path, std::string& error) const;

private:
    PROCESS_INFORMATION m_process{};
    HWND m_dialog = nullptr;
    DWORD m_thread = 0;
};

// How the console program is started:
// - as a deployment system starts it: no console at all (CREATE_NO_WINDOW), output and errors
//   into pipes;
// - from a command prompt with `> file`: it inherits the caller's console (this driver makes one
//   for the run), output into a file, errors into a pipe.
enum class ConsoleStart { NoWindowPipes, InheritedConsoleFile };

struct ConsoleRun {
    bool ended = false;         // started and ended by itself within the time limit
    std::string error;          // why not
    bool sharedConsole = false; // seen attached to the driver's console while it ran
    DWORD exitCode = 0;         // as GetExitCodeProcess gives it, all 32 bits
    std::string out;            // standard output, bytes as written
    std::wstring err;           // standard error, read in the OEM code page
    // Top-level windows of its process, visible or not, seen while it ran and once it ended, and
    // windows of any process that became visible meanwhile: "class \"caption\"".
    std::vector<std::wstring> ownWindows;
    std::vector<std::wstring> newVisibleWindows;
};

// The token it runs with: the driver's, or the driver's with the Administrators group for deny
// only (CreateRestrictedToken), so that a membership check fails. Wine still reports that token
// elevated, so only the check before NT 6 can be failed this way.
enum class ConsoleToken { Own, AdministratorsDenyOnly };

// Runs `exe arguments` in `cwd` until it ends (60 s at most) and watches its windows all along.
// `outFile` receives the output for InheritedConsoleFile.
ConsoleRun RunConsoleProgram(const std::wstring& exe, const std::wstring& arguments,
                             const std::wstring& cwd, ConsoleStart how, const std::wstring& outFile,
                             ConsoleToken token = ConsoleToken::Own);

// Texts of the direct children in z-order (= template order), with their ids and kinds.
struct ChildControl {
    int id = 0;
    std::wstring className;
    LONG style = 0;
    std::wstring text;
};
std::vector<ChildControl> ChildControls(HWND parent);

} // namespace e2e
