#include "app_driver.h"

#include "prefix_setup.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace e2e {

namespace {

constexpr UINT kSendTimeoutMs = 10000;
constexpr DWORD kPollMs = 20;

std::wstring WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

bool IsDialogWindow(HWND hwnd) {
    return ClassOf(hwnd) == L"#32770";
}

// Polls `done` until it holds or `ms` have passed.
template <typename Done> bool PollUntil(DWORD ms, Done done) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> data; // 0x00RRGGBB, top-down
};

// A top-down 32-bit bitmap selected into a memory DC compatible with the screen.
class Canvas {
public:
    Canvas(int width, int height) : m_width(width), m_height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_screen = GetDC(nullptr);
        m_memory = CreateCompatibleDC(m_screen);
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<DWORD*>(bits);
        m_old = SelectObject(m_memory, m_bitmap);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas() {
        SelectObject(m_memory, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_memory);
        ReleaseDC(nullptr, m_screen);
    }

    HDC Screen() const { return m_screen; }
    HDC Memory() const { return m_memory; }
    DWORD* Bits() const { return m_bits; }
    size_t Count() const { return static_cast<size_t>(m_width) * m_height; }

    // What has been drawn, once GDI has finished.
    Pixels Read() const {
        GdiFlush();
        Pixels pixels;
        pixels.width = m_width;
        pixels.height = m_height;
        pixels.data.assign(m_bits, m_bits + Count());
        for (DWORD& pixel : pixels.data) {
            pixel &= 0x00FFFFFFu;
        }
        return pixels;
    }

private:
    int m_width;
    int m_height;
    HDC m_screen = nullptr;
    HDC m_memory = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    DWORD* m_bits = nullptr;
};

// What is on the screen inside `rect` (screen coordinates).
Pixels CaptureScreen(const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        Pixels empty;
        empty.width = width;
        empty.height = height;
        return empty;
    }
    const Canvas canvas(width, height);
    BitBlt(canvas.Memory(), 0, 0, width, height, canvas.Screen(), rect.left, rect.top, SRCCOPY);
    return canvas.Read();
}

// One colour only: shown but not painted yet.
bool IsBlank(const Pixels& pixels) {
    return std::all_of(pixels.data.begin(), pixels.data.end(),
                       [&](DWORD pixel) { return pixel == pixels.data.front(); });
}

// A picture of `hwnd` as the screen shows it, once it counts: the window is visible, the picture
// is not blank and the next one agrees with it. A program paints when its queue is idle, so this
// takes pictures for up to `ms`. Returns why none counted at the deadline, or null.
const char* CaptureSettled(HWND hwnd, DWORD ms, Pixels& pixels) {
    const char* problem = "not visible";
    Pixels previous;
    PollUntil(ms, [&] {
        RECT rect{};
        if (!IsWindowVisible(hwnd) || !GetWindowRect(hwnd, &rect)) {
            problem = "not visible";
            previous = {};
            return false;
        }
        Pixels next = CaptureScreen(rect);
        if (next.data.empty() || IsBlank(next)) {
            problem = "blank";
            previous = {};
            return false;
        }
        const bool agree = next.width == previous.width && next.data == previous.data;
        problem = agree ? nullptr : "still changing";
        previous = std::move(next);
        return agree;
    });
    pixels = std::move(previous);
    return problem;
}

// `icon` drawn at the given size on a plain `background`, as a static control draws it.
Pixels DrawIconOn(HICON icon, int width, int height, DWORD background) {
    const Canvas canvas(width, height);
    std::fill(canvas.Bits(), canvas.Bits() + canvas.Count(), background);
    DrawIconEx(canvas.Memory(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    return canvas.Read();
}

int ChannelDistance(DWORD a, DWORD b) {
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int ca = static_cast<int>((a >> shift) & 0xFF);
        const int cb = static_cast<int>((b >> shift) & 0xFF);
        worst = std::max(worst, ca > cb ? ca - cb : cb - ca);
    }
    return worst;
}

size_t DifferingPixels(const Pixels& a, const Pixels& b) {
    size_t count = 0;
    for (size_t i = 0; i < a.data.size() && i < b.data.size(); ++i) {
        if (ChannelDistance(a.data[i], b.data[i]) > 8) {
            ++count;
        }
    }
    return count;
}

// Names the standard icon a message box shows, by comparing the screen with each candidate
// drawn here: a foreign process's icon handle cannot be inspected directly.
std::wstring IdentifyIcon(HWND iconControl) {
    if (iconControl == nullptr || !IsWindowVisible(iconControl)) {
        return L"none";
    }
    Pixels shown;
    if (const char* problem = CaptureSettled(iconControl, 3000, shown)) {
        return std::wstring(problem, problem + std::strlen(problem));
    }
    const DWORD background = shown.data.front();
    struct Candidate {
        const wchar_t* name;
        LPCWSTR id;
    };
    const Candidate candidates[] = {{L"information", IDI_INFORMATION},
                                    {L"question", IDI_QUESTION},
                                    {L"exclamation", IDI_EXCLAMATION},
                                    {L"error", IDI_ERROR}};
    std::wstring best = L"unknown";
    size_t bestCount = std::numeric_limits<size_t>::max();
    for (const Candidate& candidate : candidates) {
        const Pixels drawn =
            DrawIconOn(LoadIconW(nullptr, candidate.id), shown.width, shown.height, background);
        const size_t count = DifferingPixels(shown, drawn);
        if (count < bestCount) {
            bestCount = count;
            best = candidate.name;
        }
    }
    // A close match only: anything else is not one of the standard icons.
    return bestCount * 20 <= shown.data.size() ? best : L"unknown";
}

} // namespace

AppDriver::~AppDriver() {
    if (m_process.hProcess != nullptr) {
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process.hProcess, 1);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }
}

bool AppDriver::Start(const std::wstring& exe, const std::wstring& folder, std::string& error) {
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &m_process)) {
        error = "CreateProcessW failed with error " + std::to_string(GetLastError());
        return false;
    }
    const DWORD pid = m_process.dwProcessId;
    // The main dialog: visible, captioned Quillmarsh, of our process, with the Restore button.
    const bool found = PollUntil(20000, [&] {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExW(nullptr, candidate, L"#32770", L"Quillmarsh")) !=
               nullptr) {
            DWORD owner = 0;
            const DWORD thread = GetWindowThreadProcessId(candidate, &owner);
            if (owner == pid && IsWindowVisible(candidate) &&
                GetDlgItem(candidate, 1008) != nullptr) {
                m_dialog = candidate;
                m_thread = thread;
                return true;
            }
        }
        return WaitForSingleObject(m_process.hProcess, 0) != WAIT_TIMEOUT;
    });
    if (!found || m_dialog == nullptr) {
        DWORD exitCode = 0;
        GetExitCodeProcess(m_process.hProcess, &exitCode);
        error = found ? "the program ended without showing its dialog, exit code " +
                            std::to_string(exitCode)
                      : "the dialog did not appear within 20 s";
        return false;
    }
    return true;
}

bool AppDriver::IsChecked(int id) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Item(id), BM_GETCHECK, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
    return result == BST_CHECKED;
}

HWND AppDriver::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(m_thread, &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

bool AppDriver::WaitForFocus(HWND hwnd, DWORD ms) const {
    return PollUntil(ms, [&] { return Focus() == hwnd; });
}

void AppDriver::Click(int id) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Item(id), BM_CLICK, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
}

void AppDriver::PostClick(int id) const {
    PostClick(Item(id));
}

void AppDriver::PostClick(HWND button) const {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void AppDriver::PressKey(UINT vk) const {
    HWND target = Focus();
    if (target == nullptr) {
        target = m_dialog;
    }
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, vk,
                 1 | (static_cast<LPARAM>(scan) << 16) | (1LL << 30) | (1LL << 31));
}

void AppDriver::PostToDialog(UINT message, WPARAM wParam, LPARAM lParam) const {
    PostMessageW(m_dialog, message, wParam, lParam);
}

HWND AppDriver::CurrentPopup(HWND except) const {
    struct Search {
        HWND dialog;
        HWND except;
        HWND found;
    } search{m_dialog, except, nullptr};
    EnumThreadWindows(
        m_thread,
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (hwnd != s->dialog && hwnd != s->except && IsDialogWindow(hwnd) &&
                IsWindowVisible(hwnd)) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND AppDriver::WaitForPopup(DWORD ms, HWND except) const {
    HWND popup = nullptr;
    PollUntil(ms, [&] {
        popup = CurrentPopup(except);
        return popup != nullptr || !Running();
    });
    return popup;
}

Popup AppDriver::ReadPopup(HWND popup) const {
    Popup view;
    view.hwnd = popup;
    view.caption = WindowText(popup);
    for (const ChildControl& child : ChildControls(popup)) {
        const HWND hwnd = GetDlgItem(popup, child.id);
        const LONG kind = child.style & 0x0F;
        if (child.className == L"Button" && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) &&
            hwnd != nullptr && IsWindowVisible(hwnd)) {
            view.buttons.push_back(child.id);
        }
        if (child.className == L"Static") {
            view.statics.push_back(child.text);
        }
    }
    const HWND text = GetDlgItem(popup, 0xFFFF);
    if (text != nullptr) {
        view.text = WindowText(text);
    }
    // The message box's icon control (id 0x440 in the system's message box template).
    view.icon = IdentifyIcon(GetDlgItem(popup, 0x440));
    return view;
}

void AppDriver::Answer(HWND popup, int id) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(popup, id), BM_CLICK, 0, 0, SMTO_NORMAL, kSendTimeoutMs,
                        &result);
}

bool AppDriver::WaitUntilGone(HWND hwnd, DWORD ms) const {
    return PollUntil(ms, [&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); });
}

std::vector<std::wstring> AppDriver::LoadedModules() const {
    HMODULE modules[256] = {};
    DWORD needed = 0;
    std::vector<std::wstring> paths;
    if (!EnumProcessModules(m_process.hProcess, modules, sizeof(modules), &needed)) {
        return paths;
    }
    const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), 256);
    for (DWORD i = 0; i < count; ++i) {
        wchar_t path[MAX_PATH] = {};
        if (GetModuleFileNameExW(m_process.hProcess, modules[i], path, MAX_PATH) > 0) {
            paths.emplace_back(path);
        }
    }
    return paths;
}

bool AppDriver::Running() const {
    return m_process.hProcess != nullptr &&
           WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

bool AppDriver::WaitForExit(DWORD ms) const {
    return m_process.hProcess != nullptr &&
           WaitForSingleObject(m_process.hProcess, ms) == WAIT_OBJECT_0;
}

bool AppDriver::SaveScreenshot(HWND hwnd, const std::wstring& path, std::string& error) const {
    Pixels pixels;
    if (const char* problem = CaptureSettled(hwnd, 5000, pixels)) {
        error = std::string("no settled picture within 5 s: ") + problem;
        return false;
    }
    std::string bytes =
        "P6\n" + std::to_string(pixels.width) + " " + std::to_string(pixels.height) + "\n255\n";
    for (const DWORD pixel : pixels.data) {
        bytes += static_cast<char>((pixel >> 16) & 0xFF);
        bytes += static_cast<char>((pixel >> 8) & 0xFF);
        bytes += static_cast<char>(pixel & 0xFF);
    }
    if (!WriteBytes(path, bytes)) {
        error = "cannot write " + Narrow(path);
        return false;
    }
    return true;
}

namespace {

// An inheritable handle closed at the end of the scope.
class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }
    HANDLE* Out() { return &m_handle; }
    HANDLE Get() const { return m_handle; }
    void Close() {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
        m_handle = nullptr;
    }

private:
    HANDLE m_handle = nullptr;
};

std::string ReadAll(HANDLE pipe) {
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(pipe, chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

std::wstring FromOem(const std::string& bytes) {
    const int length =
        MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        length);
    return text;
}

struct WindowWatch {
    DWORD pid = 0;
    std::vector<HWND> visibleBefore;
    std::vector<HWND> seen;
    ConsoleRun* run = nullptr;
};

BOOL CALLBACK VisitTopLevel(HWND hwnd, LPARAM param) {
    auto& watch = *reinterpret_cast<WindowWatch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    const bool own = owner == watch.pid;
    // The driver's own console may show its window late; it is not the program's.
    const bool newlyVisible = IsWindowVisible(hwnd) && hwnd != GetConsoleWindow() &&
                              std::find(watch.visibleBefore.begin(), watch.visibleBefore.end(),
                                        hwnd) == watch.visibleBefore.end();
    if ((own || newlyVisible) &&
        std::find(watch.seen.begin(), watch.seen.end(), hwnd) == watch.seen.end()) {
        watch.seen.push_back(hwnd);
        const std::wstring shown = ClassOf(hwnd) + L" \"" + WindowText(hwnd) + L"\"";
        (own ? watch.run->ownWindows : watch.run->newVisibleWindows).push_back(shown);
    }
    return TRUE;
}

BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM param) {
    if (IsWindowVisible(hwnd)) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    }
    return TRUE;
}

// For a run that shares the caller's console: an inheritable handle of the console's input.
// Started from Linux without a terminal, the driver is attached under Wine to a console it cannot
// open; it leaves that once and makes one for the rest of the suite (AllocConsole fails while a
// process has a console; Wine's FreeConsole would also end the driver's own output). Made before
// any inheritable handle exists: the console host that AllocConsole starts would inherit them and
// keep the pipes open. AllocConsole hands the driver the console's standard handles; its own
// output stays where it was.
HANDLE ConsoleInput(SECURITY_ATTRIBUTES& inherit) {
    const auto openInput = [&] {
        return CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    };
    const HANDLE input = openInput();
    if (input != INVALID_HANDLE_VALUE) {
        return input;
    }
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE saved[3] = {};
    for (int i = 0; i < 3; ++i) {
        saved[i] = GetStdHandle(kinds[i]);
    }
    FreeConsole();
    if (!AllocConsole()) {
        return INVALID_HANDLE_VALUE;
    }
    for (int i = 0; i < 3; ++i) {
        SetStdHandle(kinds[i], saved[i]);
    }
    return openInput();
}

// The driver's own token with the Administrators group for deny only; null when it cannot be
// made.
HANDLE TokenWithoutAdministrators() {
    HANDLE own = nullptr;
    HANDLE restricted = nullptr;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY,
                         &own) &&
        AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        SID_AND_ATTRIBUTES denyOnly{administrators, 0};
        if (!CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted)) {
            restricted = nullptr;
        }
    }
    if (administrators != nullptr) {
        FreeSid(administrators);
    }
    if (own != nullptr) {
        CloseHandle(own);
    }
    return restricted;
}

} // namespace

ConsoleRun RunConsoleProgram(const std::wstring& exe, const std::wstring& arguments,
                             const std::wstring& cwd, ConsoleStart how, const std::wstring& outFile,
                             ConsoleToken token) {
    ConsoleRun run;
    Handle restricted;
    if (token == ConsoleToken::AdministratorsDenyOnly) {
        *restricted.Out() = TokenWithoutAdministrators();
        if (restricted.Get() == nullptr) {
            run.error = "no restricted token";
        }
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Handle outRead, outWrite, errRead, errWrite, input;
    DWORD flags = CREATE_SUSPENDED;
    if (how == ConsoleStart::NoWindowPipes) {
        flags |= CREATE_NO_WINDOW;
    } else {
        *input.Out() = ConsoleInput(inherit);
        if (input.Get() == INVALID_HANDLE_VALUE) {
            run.error = "no console to share";
        }
        *outWrite.Out() = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // Room for everything the program writes, so that it never waits for this reader.
    const auto pipe = [&](Handle& read, Handle& write) {
        return CreatePipe(read.Out(), write.Out(), &inherit, 1 << 16) &&
               SetHandleInformation(read.Get(), HANDLE_FLAG_INHERIT, 0);
    };
    if (!pipe(errRead, errWrite) ||
        (how == ConsoleStart::NoWindowPipes && !pipe(outRead, outWrite)) ||
        outWrite.Get() == INVALID_HANDLE_VALUE) {
        run.error = "no pipes or no output file";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = errWrite.Get();
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    WindowWatch watch;
    watch.run = &run;
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&watch.visibleBefore));
    const bool started =
        run.error.empty() &&
        (restricted.Get() != nullptr
             ? CreateProcessAsUserW(restricted.Get(), exe.c_str(), command.data(), nullptr, nullptr,
                                    TRUE, flags, nullptr, cwd.c_str(), &startup, &process)
             : CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, flags, nullptr,
                              cwd.c_str(), &startup, &process));
    if (run.error.empty() && !started) {
        run.error = "CreateProcessW failed with error " + std::to_string(GetLastError());
    }
    // Only the child holds the writing ends now: the reads below end when it does.
    outWrite.Close();
    errWrite.Close();
    input.Close();
    if (started) {
        watch.pid = process.dwProcessId;
        ResumeThread(process.hThread);
        // Watched without pause while it runs, then once more after it ended.
        const ULONGLONG deadline = GetTickCount64() + 60000;
        DWORD waited = WAIT_TIMEOUT;
        while (waited == WAIT_TIMEOUT && GetTickCount64() < deadline) {
            EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&watch));
            if (how == ConsoleStart::InheritedConsoleFile && !run.sharedConsole) {
                DWORD attached[16] = {};
                const DWORD count = std::min<DWORD>(GetConsoleProcessList(attached, 16), 16);
                run.sharedConsole =
                    std::find(attached, attached + count, watch.pid) != attached + count;
            }
            waited = WaitForSingleObject(process.hProcess, 0);
        }
        EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&watch));
        if (waited == WAIT_OBJECT_0) {
            run.ended = GetExitCodeProcess(process.hProcess, &run.exitCode) != FALSE;
        } else {
            run.error = "still running after 60 s";
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.err = FromOem(ReadAll(errRead.Get()));
        if (how == ConsoleStart::NoWindowPipes) {
            run.out = ReadAll(outRead.Get());
        } else {
            run.out = ReadBytes(outFile).value_or("");
        }
    }
    return run;
}

std::vector<ChildControl> ChildControls(HWND parent) {
    std::vector<ChildControl> controls;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ChildControl control;
        control.id = GetDlgCtrlID(child);
        control.className = ClassOf(child);
        control.style = static_cast<LONG>(GetWindowLongPtrW(child, GWL_STYLE));
        control.text = WindowText(child);
        controls.push_back(control);
    }
    return controls;
}

} // namespace e2e
