// The real Quillmarsh.exe under Wine, driven from outside like a person would: each scenario
// prepares the registry, the Windows generation and the files, works the dialog, and checks what
// the program showed, wrote to the registry and did to the files and tools.
#include "app_driver.h"
#include "prefix_setup.h"

#include "res/resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <memory>

namespace e2e {
namespace {

const std::wstring kProduct = FromUnixPath(QM_E2E_PRODUCT);
const std::wstring kCli = FromUnixPath(QM_E2E_CLI);
const std::wstring kRecorder = FromUnixPath(QM_E2E_RECORDER);
const std::wstring kMarkerDll = FromUnixPath(QM_E2E_MARKER_DLL);

const wchar_t* const kRestartPrompt = L"設定を反映するためには、コンピュータの再起動が必要です。\n"
                                      L"今すぐコンピュータを再起動しますか？";

const wchar_t* const kNotChanged = L"次の設定を変更できませんでした。\n";

// A layout file of several copy chunks, with every byte value, so that a lost or reordered
// chunk shows.
std::string LayoutContent() {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) {
        bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

// Values stored in HKLM before a start, in this order; -1 leaves a value absent.
struct Stored {
    int autoLayout = -1, searchStart = -1, superfetch = -1, sysMainStart = -1, prefetcher = -1,
        deleteNotification = -1, cisvcStart = -1;
};

void Store(const Stored& s) {
    const auto put = [](const wchar_t* key, const wchar_t* name, int value) {
        if (value >= 0) {
            PutDword(key, name, static_cast<DWORD>(value));
        }
    };
    put(kOptimalLayout, L"EnableAutoLayout", s.autoLayout);
    put(kWSearch, L"Start", s.searchStart);
    put(kCisvc, L"Start", s.cisvcStart);
    put(kPrefetchParameters, L"EnableSuperfetch", s.superfetch);
    put(kSysMain, L"Start", s.sysMainStart);
    put(kPrefetchParameters, L"EnablePrefetcher", s.prefetcher);
    put(kFileSystem, L"DisableDeleteNotification", s.deleteNotification);
}

// The profile file exactly as a first run leaves it, values in the file's section order.
std::string ProfileBytes(int autoDefrag, int index, int superFetch, int sysMain, int preFetch,
                         int trim) {
    const auto section = [](const char* name, int value) {
        return std::string("[") + name + "]\r\nDefValue=" + std::to_string(value) + "\r\n";
    };
    return section("AutoDefrag", autoDefrag) + section("Index", index) +
           section("SuperFetch", superFetch) + section("SysMain", sysMain) +
           section("PreFetch", preFetch) + section("Trim", trim);
}

std::string DwordText(const wchar_t* key, const wchar_t* name) {
    const auto value = ReadDword(key, name);
    if (value) {
        return std::to_string(*value);
    }
    return ValueExists(key, name) ? "not a DWORD" : "absent";
}

// Values expected in HKLM, as DwordText shows them, in the order of Stored; the last two are
// checked only when given.
struct Written {
    std::string autoLayout, searchStart, superfetch, sysMainStart, prefetcher,
        deleteNotification = {}, cisvcStart = {};
};

void ExpectWritten(const Written& want) {
    EXPECT_EQ(DwordText(kOptimalLayout, L"EnableAutoLayout"), want.autoLayout);
    EXPECT_EQ(DwordText(kWSearch, L"Start"), want.searchStart);
    EXPECT_EQ(DwordText(kPrefetchParameters, L"EnableSuperfetch"), want.superfetch);
    EXPECT_EQ(DwordText(kSysMain, L"Start"), want.sysMainStart);
    EXPECT_EQ(DwordText(kPrefetchParameters, L"EnablePrefetcher"), want.prefetcher);
    if (!want.deleteNotification.empty()) {
        EXPECT_EQ(DwordText(kFileSystem, L"DisableDeleteNotification"), want.deleteNotification);
    }
    if (!want.cisvcStart.empty()) {
        EXPECT_EQ(DwordText(kCisvc, L"Start"), want.cisvcStart);
    }
}

// The lines the fsutil stand-in logs for TRIM set OFF (1) or ON (0), one a run, in order.
std::vector<std::string> TrimRuns(std::initializer_list<int> disable) {
    std::vector<std::string> lines;
    for (const int value : disable) {
        lines.push_back("show=0 behavior set DisableDeleteNotify " + std::to_string(value));
    }
    return lines;
}

// The layout file still holds its bytes, and is read-only or not.
void ExpectLayout(const std::wstring& layout, bool readOnly) {
    EXPECT_EQ(ReadBytes(layout), LayoutContent());
    EXPECT_EQ(IsReadOnly(layout), readOnly);
}

std::wstring ProfilePath(const std::wstring& folder) {
    return folder + L"\\Quillmarsh.ini";
}

class E2e : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProgramValues();
        ClearToolRuns();
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = std::wstring(kRoot) + L"\\" + std::wstring(name_.begin(), name_.end());
        ResetFolder(folder_);
    }
    void TearDown() override {
        app_.reset();
        ClearProgramValues();
        ClearWindowsVersion();
    }

    // A folder of its own for one start of the program, with its copy of the program.
    std::wstring Install(const std::wstring& sub) {
        const std::wstring folder = folder_ + L"\\" + sub;
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(kProduct.c_str(), (folder + L"\\Quillmarsh.exe").c_str(), FALSE))
            << "cannot copy " << Narrow(kProduct);
        return folder;
    }

    // The prefetch layout file, named by LayoutFilePath.
    std::wstring MakeLayoutFile() {
        const std::wstring path = folder_ + L"\\Layout.ini";
        EXPECT_TRUE(WriteBytes(path, LayoutContent()));
        PutString(kOptimalLayout, L"LayoutFilePath", path);
        return path;
    }

    // Starts the program installed in `folder`; the current directory is `cwd` or the folder.
    AppDriver& Launch(const std::wstring& folder, const std::wstring& cwd = L"") {
        app_ = std::make_unique<AppDriver>();
        std::string error;
        const bool started =
            app_->Start(folder + L"\\Quillmarsh.exe", cwd.empty() ? folder : cwd, error);
        EXPECT_TRUE(started) << error;
        return *app_;
    }

    // The five pairs, e.g. "ON OFF [OFF] [ON] ON": brackets mark a disabled pair; a pair whose
    // radios disagree shows as BOTH or NONE.
    std::string Pairs() const {
        static const int kPairs[5][2] = {{IDC_AUTODEFRAG_ON, IDC_AUTODEFRAG_OFF},
                                         {IDC_INDEX_ON, IDC_INDEX_OFF},
                                         {IDC_SUPERFETCH_ON, IDC_SUPERFETCH_OFF},
                                         {IDC_PREFETCH_ON, IDC_PREFETCH_OFF},
                                         {IDC_TRIM_ON, IDC_TRIM_OFF}};
        std::string shown;
        for (const auto& pair : kPairs) {
            const bool on = app_->IsChecked(pair[0]);
            const bool off = app_->IsChecked(pair[1]);
            std::string state = on && !off ? "ON" : !on && off ? "OFF" : on ? "BOTH" : "NONE";
            const bool enabled = app_->IsEnabled(pair[0]);
            if (enabled != app_->IsEnabled(pair[1])) {
                state += "(partly enabled)";
            } else if (!enabled) {
                state = "[" + state + "]";
            }
            shown += (shown.empty() ? "" : " ") + state;
        }
        return shown;
    }

    // Cancel: the program must end.
    void Cancel() {
        app_->Click(IDCANCEL);
        EXPECT_TRUE(app_->WaitForExit());
    }

    // The program's registry values are as `before`, and the fsutil stand-in never ran.
    static void ExpectNothingApplied(const RegSnapshot& before = {}) {
        EXPECT_EQ(Describe(SnapshotProgramValues()), Describe(before));
        EXPECT_TRUE(ToolRuns(Tool::Fsutil).empty());
    }

    // Presses OK and returns the restart question (or whatever box came instead).
    Popup PressOk() {
        app_->PostClick(IDOK);
        return NextBoxOfOk("no message box after OK");
    }

    // The next box OK shows. While it is up the dialog must be disabled: a second OK or a
    // Cancel would otherwise run inside the first.
    Popup NextBoxOfOk(const char* missing) {
        const HWND box = app_->WaitForPopup();
        EXPECT_NE(box, nullptr) << missing;
        if (box == nullptr) {
            return {};
        }
        EXPECT_FALSE(IsWindowEnabled(app_->Dialog())) << "the dialog is usable under a box";
        return app_->ReadPopup(box);
    }

    // Checks that `box` is the restart question, answers it and waits for the program to end
    // without showing anything else.
    void AnswerRestartQuestion(const Popup& box, int answer) {
        ExpectRestartQuestion(box);
        if (box.hwnd == nullptr) {
            return;
        }
        app_->Answer(box.hwnd, answer);
        ExpectEndsWithoutMessage();
    }

    // All OFF, OK, and Yes to the restart question: the program must end without another box.
    void AllOffOkAndYes() {
        app_->Click(IDC_ALL_OFF);
        const Popup question = PressOk();
        ExpectRestartQuestion(question);
        ASSERT_NE(question.hwnd, nullptr);
        app_->Answer(question.hwnd, IDYES);
        ExpectEndsWithoutMessage();
    }

    // Checks that `box` names the features that could not be changed (one per line), closes it
    // and returns the box that follows, the restart question.
    Popup ExpectNotChanged(const Popup& box, const wchar_t* features) {
        EXPECT_EQ(Narrow(box.caption), "Quillmarsh");
        EXPECT_EQ(Narrow(box.text), Narrow(std::wstring(kNotChanged) + features));
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
        EXPECT_EQ(Narrow(box.icon), "exclamation");
        if (box.hwnd == nullptr) {
            return {};
        }
        app_->Answer(box.hwnd, IDOK);
        EXPECT_TRUE(app_->WaitUntilGone(box.hwnd));
        return NextBoxOfOk("no restart question after the message");
    }

    static void ExpectRestartQuestion(const Popup& box) {
        EXPECT_EQ(Narrow(box.caption), "Quillmarsh");
        EXPECT_EQ(Narrow(box.text), Narrow(kRestartPrompt));
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(Narrow(box.icon), "information");
    }

    // The program must close by itself; any box it shows on the way is a failure.
    void ExpectEndsWithoutMessage() {
        HWND box = nullptr;
        const ULONGLONG deadline = GetTickCount64() + 20000;
        while (!app_->WaitForExit(20) && GetTickCount64() < deadline) {
            box = app_->CurrentPopup();
            if (box != nullptr) {
                const Popup shown = app_->ReadPopup(box);
                ADD_FAILURE() << "unexpected box \"" << Narrow(shown.caption)
                              << "\": " << Narrow(shown.text);
                app_->Answer(box, shown.buttons.empty() ? IDOK : shown.buttons.front());
            }
        }
        EXPECT_FALSE(app_->Running()) << "the dialog did not close";
    }

    // A picture of `window` (the main dialog or a box of the program), when the run asks for them.
    void Screenshot(const wchar_t* name, HWND window) {
        const std::wstring folder = EnvPath("QM_E2E_SHOT_DIR");
        if (folder.empty()) {
            return;
        }
        std::string error;
        EXPECT_TRUE(app_->SaveScreenshot(window, folder + L"\\" + name + L".ppm", error))
            << Narrow(name) << ": " << error;
    }

    std::string name_;
    std::wstring folder_;
    std::unique_ptr<AppDriver> app_;
};

// --- 1. The dialog as it opens, the About box and Cancel.

// `window` is centred on `area`, give or take a pixel of rounding.
void ExpectCentredOn(HWND window, const RECT& area) {
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(window, &rect));
    EXPECT_NEAR(rect.left, (area.left + area.right) / 2 - (rect.right - rect.left) / 2, 1);
    EXPECT_NEAR(rect.top, (area.top + area.bottom) / 2 - (rect.bottom - rect.top) / 2, 1);
}

struct ExpectedControl {
    int id;
    const wchar_t* className;
    LONG kind; // low style bits: button kind; SS_SUNKEN for the descriptions
    const wchar_t* text;
};

const wchar_t* const kPrefetchText =
    L"頻繁に使用するファイルやアプリケーションを解析し、\nあらかじめメモリにロードしておく機能";

const ExpectedControl kControls[24] = {
    {-1, L"Button", BS_GROUPBOX, L"自動デフラグ"},
    {-1, L"Static", SS_SUNKEN, L"OSがアイドル状態のときに、\n自動的に実行されるデフラグ"},
    {1000, L"Button", BS_AUTORADIOBUTTON, L"ON"},
    {1001, L"Button", BS_AUTORADIOBUTTON, L"OFF"},
    {-1, L"Button", BS_GROUPBOX, L"インデックスサービス（インデックスファイルの作成）"},
    {-1, L"Static", SS_SUNKEN, L"ファイルやフォルダーのインデックスを作成し、\n検索を速くする機能"},
    {1002, L"Button", BS_AUTORADIOBUTTON, L"ON"},
    {1003, L"Button", BS_AUTORADIOBUTTON, L"OFF"},
    {-1, L"Button", BS_GROUPBOX, L"スーパーフェッチ（Windows 7/Vista）"},
    {-1, L"Static", SS_SUNKEN, kPrefetchText},
    {1004, L"Button", BS_AUTORADIOBUTTON, L"ON"},
    {1005, L"Button", BS_AUTORADIOBUTTON, L"OFF"},
    {-1, L"Button", BS_GROUPBOX, L"プリフェッチ（Windows XP）"},
    {-1, L"Static", SS_SUNKEN, kPrefetchText},
    {1006, L"Button", BS_AUTORADIOBUTTON, L"ON"},
    {1007, L"Button", BS_AUTORADIOBUTTON, L"OFF"},
    {1008, L"Button", BS_PUSHBUTTON, L"最初の設定に戻す(&D)"},
    {1009, L"Button", BS_PUSHBUTTON, L"全てOFF(&F)"},
    {1, L"Button", BS_PUSHBUTTON, L"OK"},
    {2, L"Button", BS_PUSHBUTTON, L"キャンセル"},
    {-1, L"Button", BS_GROUPBOX, L"Trim機能（Windows 7）"},
    {-1, L"Static", SS_SUNKEN, L"OSからSSDに対してTrimコマンドを送信する機能"},
    {1010, L"Button", BS_AUTORADIOBUTTON, L"ON"},
    {1011, L"Button", BS_AUTORADIOBUTTON, L"OFF"},
};

TEST_F(E2e, DialogOpensWithItsControlsFocusAndAboutBox) {
    SetWindowsVersion(L"win7");
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);

    const std::vector<ChildControl> controls = ChildControls(app.Dialog());
    ASSERT_EQ(controls.size(), 24u);
    for (size_t i = 0; i < controls.size(); ++i) {
        const ExpectedControl& want = kControls[i];
        const ChildControl& got = controls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(static_cast<WORD>(got.id), static_cast<WORD>(want.id));
        EXPECT_EQ(Narrow(got.className), Narrow(want.className));
        EXPECT_EQ(Narrow(got.text), Narrow(want.text));
        if (want.kind == SS_SUNKEN) {
            EXPECT_NE(got.style & SS_SUNKEN, 0);
            EXPECT_NE(got.style & WS_GROUP, 0);
        } else if (want.kind == BS_PUSHBUTTON) {
            // The dialog manager moves BS_DEFPUSHBUTTON to the focused push button.
            EXPECT_TRUE((got.style & 0x0F) == BS_PUSHBUTTON ||
                        (got.style & 0x0F) == BS_DEFPUSHBUTTON);
            EXPECT_NE(got.style & WS_TABSTOP, 0);
        } else {
            EXPECT_EQ(got.style & 0x0F, want.kind);
        }
        if (want.kind == BS_GROUPBOX) {
            EXPECT_NE(got.style & WS_GROUP, 0);
        }
        if (want.kind == BS_AUTORADIOBUTTON) {
            EXPECT_EQ(got.style & WS_TABSTOP, 0) << "radios stay out of the tab order";
        }
    }
    wchar_t caption[64] = {};
    GetWindowTextW(app.Dialog(), caption, 64);
    EXPECT_EQ(Narrow(caption), "Quillmarsh");
    DWORD_PTR defId = 0;
    SendMessageTimeoutW(app.Dialog(), DM_GETDEFID, 0, 0, SMTO_NORMAL, 5000, &defId);
    EXPECT_EQ(defId, static_cast<DWORD_PTR>(MAKELONG(IDOK, DC_HASDEFID)));

    // Empty registry on 7: the fallbacks.
    EXPECT_EQ(Pairs(), "OFF ON ON [ON] OFF");
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(
        GetMonitorInfoW(MonitorFromWindow(app.Dialog(), MONITOR_DEFAULTTONEAREST), &monitor));
    ExpectCentredOn(app.Dialog(), monitor.rcWork);

    // Focus on Restore at open; Tab walks the four push buttons only.
    EXPECT_TRUE(app.WaitForFocus(app.Item(IDC_RESTORE_INITIAL)))
        << "focus is on control " << GetDlgCtrlID(app.Focus());
    for (const int next : {IDC_ALL_OFF, IDOK, IDCANCEL, IDC_RESTORE_INITIAL}) {
        app.PressKey(VK_TAB);
        EXPECT_TRUE(app.WaitForFocus(app.Item(next)))
            << "after Tab expected " << next << ", focus is on " << GetDlgCtrlID(app.Focus());
    }
    Screenshot(L"dialog-win7", app.Dialog());

    // The About box, from the system menu command and from one with low bits set.
    for (const WPARAM command : {WPARAM{IDM_ABOUTBOX}, WPARAM{IDM_ABOUTBOX | 0x3}}) {
        SCOPED_TRACE("system command " + std::to_string(command));
        app.PostToDialog(WM_SYSCOMMAND, command, 0);
        const HWND about = app.WaitForPopup(10000);
        ASSERT_NE(about, nullptr) << "no About box";
        const Popup shown = app.ReadPopup(about);
        EXPECT_EQ(Narrow(shown.caption), "Quillmarsh");
        EXPECT_NE(
            std::find(shown.statics.begin(), shown.statics.end(), L"Quillmarsh Version 1.1.0"),
            shown.statics.end());
        EXPECT_EQ(shown.buttons, std::vector<int>{IDOK});
        RECT dialog{};
        GetWindowRect(app.Dialog(), &dialog);
        ExpectCentredOn(about, dialog);
        if (command == IDM_ABOUTBOX) {
            Screenshot(L"about", about);
        }
        app.Answer(about, IDOK);
        EXPECT_TRUE(app.WaitUntilGone(about));
        EXPECT_TRUE(app.Running());
        EXPECT_TRUE(IsWindowVisible(app.Dialog()));
    }

    // Cancel ends the program and writes nothing.
    Cancel();
    ExpectNothingApplied();
}

// --- 2. First run on 7: the profile file, and Cancel.

TEST_F(E2e, FirstRunWritesTheProfileAndCancelWritesNothing) {
    SetWindowsVersion(L"win7");
    Store({1, 3, 0, 4, 2, 0});
    const RegSnapshot before = SnapshotProgramValues();
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "ON ON OFF [ON] ON");
    EXPECT_EQ(ReadBytes(ProfilePath(folder)), ProfileBytes(1, 3, 0, 4, 2, 0));
    EXPECT_FALSE(Exists(folder + L"\\Quillmarsh.tmp"));

    Cancel();
    ExpectNothingApplied(before);
    EXPECT_TRUE(ToolRuns(Tool::Wineboot).empty());

    // Started from a zip in Explorer, the program runs from a folder in the temporary folder,
    // which keeps no snapshot.
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring extracted = std::wstring(temp) + L"Temp1_Quillmarsh-e2e.zip";
    ResetFolder(extracted);
    ASSERT_TRUE(CopyFileW(kProduct.c_str(), (extracted + L"\\Quillmarsh.exe").c_str(), FALSE));
    ASSERT_NE(Launch(extracted).Dialog(), nullptr);
    EXPECT_FALSE(Exists(ProfilePath(extracted)));
    EXPECT_FALSE(Exists(extracted + L"\\Quillmarsh.tmp"));
    Cancel();
    RemoveTree(extracted);
}

// --- 3. Everything OFF on 7, OK, No.

TEST_F(E2e, AllOffOnWindows7WritesEverythingAndRunsTheTool) {
    SetWindowsVersion(L"win7");
    Store({1, 2, 3, 2, 3, 0});
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "ON ON ON [ON] ON");
    app.Click(IDC_ALL_OFF);
    EXPECT_EQ(Pairs(), "OFF OFF OFF [OFF] OFF");

    const Popup question = PressOk();
    if (question.hwnd != nullptr) {
        Screenshot(L"restart", question.hwnd);
    }
    AnswerRestartQuestion(question, IDNO);

    // DisableDeleteNotification as the tool stored it.
    ExpectWritten({"0", "4", "0", "4", "0", "1", "absent"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
    ExpectLayout(layout, true);
    EXPECT_FALSE(Exists(folder + L"\\Layout_back.ini"));
    EXPECT_TRUE(ToolRuns(Tool::Wineboot).empty()) << "a restart was requested";
}

// --- 4. The same on the XP generation: only its three values, no tool.

TEST_F(E2e, AllOffOnXpWritesOnlyItsValues) {
    SetWindowsVersion(L"winxp64");
    // NT 6 values that XP must neither show nor touch.
    Store({-1, 2, 3, 2, 3, 0, 3});
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "ON ON [OFF] ON [OFF]");
    EXPECT_EQ(ReadBytes(ProfilePath(folder)), ProfileBytes(1, 3, 0, -1, 3, 1));
    Screenshot(L"dialog-winxp64", app.Dialog());
    app.Click(IDC_ALL_OFF);
    EXPECT_EQ(Pairs(), "OFF OFF [OFF] OFF [OFF]");

    AnswerRestartQuestion(PressOk(), IDNO);

    // Auto layout, Index (cisvc) and Prefetch OFF; the NT 6 values as they were.
    ExpectWritten({"0", "2", "3", "2", "0", "0", "4"});
    EXPECT_TRUE(ToolRuns(Tool::Fsutil).empty());
    ExpectLayout(layout, true);
    EXPECT_FALSE(Exists(folder + L"\\Layout_back.ini"));
}

// --- 5. Vista: the disabled Prefetch pair follows the last SuperFetch click; no tool.

TEST_F(E2e, VistaPrefetchFollowsSuperFetchAndNoToolRuns) {
    SetWindowsVersion(L"vista");
    Store({-1, -1, -1, 3});
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "OFF ON ON [ON] [OFF]");
    app.Click(IDC_ALL_OFF);
    EXPECT_EQ(Pairs(), "OFF OFF OFF [OFF] [OFF]");
    app.Click(IDC_SUPERFETCH_ON);
    EXPECT_EQ(Pairs(), "OFF OFF ON [ON] [OFF]");
    app.Click(IDC_SUPERFETCH_OFF);
    EXPECT_EQ(Pairs(), "OFF OFF OFF [OFF] [OFF]");
    app.Click(IDC_SUPERFETCH_ON);
    EXPECT_EQ(Pairs(), "OFF OFF ON [ON] [OFF]");

    AnswerRestartQuestion(PressOk(), IDNO);

    // SysMain: the first run's start type (3) comes back.
    ExpectWritten({"0", "4", "3", "3", "3", "absent", "absent"});
    EXPECT_TRUE(ToolRuns(Tool::Fsutil).empty());
    // Prefetch ON and a writable file: left as it is.
    ExpectLayout(layout, false);
}

// --- 6. Restore brings back the first run's states, also in a later run.

TEST_F(E2e, RestoreShowsTheFirstRunInThisAndLaterRuns) {
    SetWindowsVersion(L"win7");
    Store({1, 3, 3, 3, 0, 0});
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    const std::string firstRun = ProfileBytes(1, 3, 3, 3, 0, 0);
    {
        AppDriver& app = Launch(folder);
        ASSERT_NE(app.Dialog(), nullptr);
        EXPECT_EQ(Pairs(), "ON ON ON [OFF] ON");
        app.Click(IDC_ALL_OFF);
        app.Click(IDC_RESTORE_INITIAL);
        EXPECT_EQ(Pairs(), "ON ON ON [OFF] ON");
        app.Click(IDC_ALL_OFF);
        AnswerRestartQuestion(PressOk(), IDNO);
    }
    EXPECT_EQ(DwordText(kWSearch, L"Start"), "4");
    EXPECT_EQ(DwordText(kSysMain, L"Start"), "4");
    EXPECT_EQ(ReadBytes(ProfilePath(folder)), firstRun);

    // Second run: the registry says OFF, the profile still holds the first run.
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "OFF OFF OFF [OFF] OFF");
    app.Click(IDC_ALL_OFF);
    app.Click(IDC_RESTORE_INITIAL);
    EXPECT_EQ(Pairs(), "ON ON ON [OFF] ON");
    AnswerRestartQuestion(PressOk(), IDNO);

    EXPECT_EQ(ReadBytes(ProfilePath(folder)), firstRun);
    // Search: the first run's start type (3) comes back.
    ExpectWritten({"1", "3", "3", "3", "0", "0"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1, 0}));
    ExpectLayout(layout, true);
}

// --- 7. Absent and odd values take the fallbacks of the generation.

TEST_F(E2e, AbsentValuesTakeTheFallbacksOfTheGeneration) {
    struct Case {
        const wchar_t* version;
        std::string pairs;
        std::string profile;
    };
    const Case cases[] = {
        {L"win7", "OFF ON ON [ON] OFF", ProfileBytes(0, 2, 3, 2, 3, 1)},
        {L"winxp64", "ON ON [OFF] ON [OFF]", ProfileBytes(1, 2, 0, -1, 3, 1)},
        {L"vista", "OFF ON ON [ON] [OFF]", ProfileBytes(0, 2, 3, 2, 3, 1)},
        // 6.2 counts as 7, TRIM included.
        {L"win10", "OFF ON ON [ON] OFF", ProfileBytes(0, 2, 3, 2, 3, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.version));
        SetWindowsVersion(c.version);
        const std::wstring folder = Install(c.version);
        AppDriver& app = Launch(folder);
        ASSERT_NE(app.Dialog(), nullptr);
        EXPECT_EQ(Pairs(), c.pairs);
        EXPECT_EQ(ReadBytes(ProfilePath(folder)), c.profile);
        if (std::wstring(c.version) == L"win10") {
            EXPECT_TRUE(app.IsEnabled(IDC_TRIM_ON));
        }
        Cancel();
    }
    EXPECT_EQ(Describe(SnapshotProgramValues()), "");

    // Values of another type, and a DWORD of -1, count as absent.
    SetWindowsVersion(L"win7");
    PutString(kWSearch, L"Start", L"4");
    PutString(kSysMain, L"Start", L"4");
    PutDword(kOptimalLayout, L"EnableAutoLayout", 0xFFFFFFFFu);
    PutString(kPrefetchParameters, L"EnableSuperfetch", L"0");
    PutDword(kFileSystem, L"DisableDeleteNotification", 0xFFFFFFFFu);
    const std::wstring folder = Install(L"odd");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "OFF ON ON [ON] OFF");
    EXPECT_EQ(ReadBytes(ProfilePath(folder)), ProfileBytes(0, 2, 3, 2, 3, 1));
    Cancel();
}

// --- 8. Keys and the close box.

TEST_F(E2e, EscapeAndTheCloseBoxApplyNothing) {
    SetWindowsVersion(L"win7");
    const struct {
        const char* how;
        UINT message;
        WPARAM wParam;
    } ways[] = {{"Escape", 0, 0}, {"WM_CLOSE", WM_CLOSE, 0}, {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        const std::wstring folder = Install(std::wstring(way.how, way.how + strlen(way.how)));
        AppDriver& app = Launch(folder);
        ASSERT_NE(app.Dialog(), nullptr);
        app.Click(IDC_ALL_OFF);
        if (way.message == 0) {
            app.PressKey(VK_ESCAPE);
        } else {
            app.PostToDialog(way.message, way.wParam, 0);
        }
        EXPECT_TRUE(app.WaitForExit(10000)) << "the dialog stayed open";
        ExpectNothingApplied();
    }
}

TEST_F(E2e, EnterRightAfterOpeningPressesRestoreAndAppliesNothing) {
    SetWindowsVersion(L"win7");
    Store({0, 4, 0, 4, 0, 1});
    const RegSnapshot before = SnapshotProgramValues();
    const std::wstring folder = Install(L"run");
    // A profile from an earlier run with everything ON.
    ASSERT_TRUE(WriteBytes(ProfilePath(folder), ProfileBytes(1, 2, 3, 2, 3, 0)));
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_EQ(Pairs(), "OFF OFF OFF [OFF] OFF");
    ASSERT_TRUE(app.WaitForFocus(app.Item(IDC_RESTORE_INITIAL)));
    // Enter goes to the focused push button only when the dialog manager has made it the
    // default one (BS_DEFPUSHBUTTON, DLGC_DEFPUSHBUTTON); otherwise it goes to OK.
    EXPECT_EQ(GetWindowLongPtrW(app.Item(IDC_RESTORE_INITIAL), GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON)
        << "the focused Restore button is not the default button";
    EXPECT_EQ(GetWindowLongPtrW(app.Item(IDOK), GWL_STYLE) & 0x0F, BS_PUSHBUTTON);

    app.PressKey(VK_RETURN);
    std::string pairs;
    for (int i = 0; i < 250 && (pairs = Pairs()) != "ON ON ON [ON] ON"; ++i) {
        Sleep(20);
    }
    EXPECT_EQ(pairs, "ON ON ON [ON] ON") << "Enter did not press Restore";
    if (const HWND wrong = app.CurrentPopup()) {
        const Popup shown = app.ReadPopup(wrong);
        ADD_FAILURE() << "Enter at open showed \"" << Narrow(shown.text) << "\"";
        app.Answer(wrong, IDNO);
        return;
    }
    EXPECT_TRUE(app.Running());
    EXPECT_EQ(Describe(SnapshotProgramValues()), Describe(before));
    Cancel();
}

TEST_F(E2e, EnterAfterARadioClickApplies) {
    SetWindowsVersion(L"win7");
    Store({0, 4, 0, 4, 0, 1});
    const std::wstring folder = Install(L"run");
    ASSERT_TRUE(WriteBytes(ProfilePath(folder), ProfileBytes(1, 2, 3, 2, 3, 0)));
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    app.Click(IDC_RESTORE_INITIAL);
    EXPECT_EQ(Pairs(), "ON ON ON [ON] ON");

    // After a radio click the focus is on the radio, and Enter means OK.
    app.Click(IDC_INDEX_OFF);
    ASSERT_TRUE(app.WaitForFocus(app.Item(IDC_INDEX_OFF)));
    app.PressKey(VK_RETURN);
    const HWND box = app.WaitForPopup();
    ASSERT_NE(box, nullptr) << "Enter did not apply";
    AnswerRestartQuestion(app.ReadPopup(box), IDNO);
    ExpectWritten({"1", "4", "3", "2", "3"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({0}));
}

// --- 9. A layout file held open elsewhere, or no room for its copy: left alone, and said so.

TEST_F(E2e, UnprotectedLayoutFileIsNamedAndTheRestApplies) {
    SetWindowsVersion(L"win7");
    const std::wstring layout = MakeLayoutFile();
    const HANDLE held = CreateFileW(layout.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder);
    ASSERT_NE(app.Dialog(), nullptr);
    app.Click(IDC_ALL_OFF);
    AnswerRestartQuestion(ExpectNotChanged(PressOk(), L"プリフェッチ"), IDNO);
    CloseHandle(held);

    ExpectWritten({"0", "4", "0", "4", "0"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
    ExpectLayout(layout, false);
    EXPECT_FALSE(Exists(folder + L"\\Layout_back.ini"));

    // A current directory in which the copy cannot be created.
    const std::wstring readOnly = EnvPath("QM_E2E_READONLY_DIR");
    ASSERT_FALSE(readOnly.empty()) << "tests/e2e/run-e2e.sh gives the driver that folder";
    Launch(folder, readOnly);
    ASSERT_NE(app_->Dialog(), nullptr);
    app_->Click(IDC_ALL_OFF);
    AnswerRestartQuestion(ExpectNotChanged(PressOk(), L"プリフェッチ"), IDNO);
    ExpectLayout(layout, false);
    EXPECT_EQ(DwordText(kPrefetchParameters, L"EnablePrefetcher"), "0");

    // A brief hold, as a scanner's (sharing read and write), that ends 0.3 s after OK is
    // waited out: nothing to name.
    Launch(folder);
    ASSERT_NE(app_->Dialog(), nullptr);
    app_->Click(IDC_ALL_OFF);
    const HANDLE brief =
        CreateFileW(layout.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(brief, INVALID_HANDLE_VALUE);
    const auto release = [](LPVOID file) -> DWORD {
        Sleep(300);
        return CloseHandle(static_cast<HANDLE>(file));
    };
    const HANDLE releaser = CreateThread(nullptr, 0, release, brief, 0, nullptr);
    ASSERT_NE(releaser, nullptr);
    AnswerRestartQuestion(PressOk(), IDNO);
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    ExpectLayout(layout, true);
    EXPECT_FALSE(Exists(folder + L"\\Layout_back.ini"));
}

// --- 9b. A folder that refuses the snapshot: OK asks before it changes anything.

TEST_F(E2e, WithoutASnapshotOkAsksFirstAndNoChangesNothing) {
    const std::wstring locked = EnvPath("QM_E2E_LOCKED_DIR");
    ASSERT_FALSE(locked.empty()) << "tests/e2e/run-e2e.sh gives the driver that folder";
    SetWindowsVersion(L"win7");
    Store({1, 2, 3, 2, 3, 0});
    const RegSnapshot before = SnapshotProgramValues();
    AppDriver& app = Launch(locked, folder_);
    ASSERT_NE(app.Dialog(), nullptr);
    EXPECT_FALSE(Exists(ProfilePath(locked)));
    EXPECT_FALSE(Exists(locked + L"\\Quillmarsh.tmp"));
    app.Click(IDC_ALL_OFF);

    for (const int answer : {IDNO, IDYES}) {
        const Popup ask = PressOk();
        EXPECT_EQ(Narrow(ask.caption), "Quillmarsh");
        EXPECT_EQ(Narrow(ask.text).rfind(Narrow(L"最初の設定を保存できませんでした。\n"), 0), 0u)
            << Narrow(ask.text);
        EXPECT_EQ(ask.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(Narrow(ask.icon), "exclamation");
        ASSERT_NE(ask.hwnd, nullptr);
        const auto style = [&](int id) {
            return GetWindowLongW(GetDlgItem(ask.hwnd, id), GWL_STYLE) & BS_TYPEMASK;
        };
        EXPECT_EQ(style(IDNO), BS_DEFPUSHBUTTON) << "No is the default";
        EXPECT_EQ(style(IDYES), BS_PUSHBUTTON);
        EXPECT_FALSE(IsWindowEnabled(app.Dialog())) << "the question belongs to the dialog";
        if (answer == IDNO) {
            Screenshot(L"no-snapshot", ask.hwnd);
        }
        app.Answer(ask.hwnd, answer);
        EXPECT_TRUE(app.WaitUntilGone(ask.hwnd));
        if (answer == IDNO) {
            EXPECT_TRUE(app.Running()) << "the dialog stays open";
            ExpectNothingApplied(before);
        }
    }
    // Yes goes on as OK always does.
    const HWND question = app.WaitForPopup();
    ASSERT_NE(question, nullptr);
    AnswerRestartQuestion(app.ReadPopup(question), IDNO);
    ExpectWritten({"0", "4", "0", "4", "0", "1"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
}

// --- 10. A full disk while copying the layout file.

TEST_F(E2e, FullDiskDuringTheLayoutCopyKeepsTheDialogOpen) {
    const std::wstring full = EnvPath("QM_E2E_FULL_DIR");
    if (full.empty()) {
        GTEST_SKIP() << "needs the small file system that tests/e2e/run-e2e.sh mounts as root "
                        "(QM_E2E_FULL_DIR)";
    }
    SetWindowsVersion(L"win7");
    RemoveTree(full + L"\\qm");
    ASSERT_TRUE(CreateDirectoryW((full + L"\\qm").c_str(), nullptr));
    const std::wstring cwd = full + L"\\qm";
    // Fill the file system to the last page.
    const std::wstring filler = cwd + L"\\filler.bin";
    {
        const HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const std::string chunk(4096, 'x');
        DWORD error = 0;
        for (int i = 0; i < 1024 && error == 0; ++i) {
            DWORD written = 0;
            if (!WriteFile(file, chunk.data(), 4096, &written, nullptr)) {
                error = GetLastError();
            } else if (written < 4096) {
                error = ERROR_DISK_FULL;
            }
        }
        CloseHandle(file);
        ASSERT_EQ(error, static_cast<DWORD>(ERROR_DISK_FULL)) << "the file system did not fill";
    }
    Store({-1, -1, -1, -1, 3});
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    AppDriver& app = Launch(folder, cwd);
    ASSERT_NE(app.Dialog(), nullptr);
    app.Click(IDC_ALL_OFF);

    const Popup error = PressOk();
    EXPECT_EQ(Narrow(error.caption), "Quillmarsh");
    EXPECT_FALSE(error.text.empty());
    EXPECT_EQ(error.buttons, std::vector<int>{IDOK}) << Narrow(error.text);
    ASSERT_NE(error.hwnd, nullptr);
    app.Answer(error.hwnd, IDOK);
    EXPECT_TRUE(app.WaitUntilGone(error.hwnd));
    EXPECT_EQ(app.WaitForPopup(300), nullptr) << "another box followed the error";
    EXPECT_TRUE(app.Running());
    EXPECT_TRUE(IsWindowVisible(app.Dialog()));
    EXPECT_EQ(DwordText(kOptimalLayout, L"EnableAutoLayout"), "0");
    EXPECT_EQ(DwordText(kPrefetchParameters, L"EnablePrefetcher"), "3") << "written after all";
    EXPECT_TRUE(ToolRuns(Tool::Fsutil).empty());
    ExpectLayout(layout, false);

    // Room again: a second OK completes.
    ASSERT_TRUE(DeleteFileW(filler.c_str()));
    AnswerRestartQuestion(PressOk(), IDNO);
    EXPECT_EQ(DwordText(kPrefetchParameters, L"EnablePrefetcher"), "0");
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
    ExpectLayout(layout, true);
    EXPECT_FALSE(Exists(cwd + L"\\Layout_back.ini"));
    RemoveTree(cwd);
}

// --- 11. Yes: a restart like Windows' own, which asks the other programs first.

TEST_F(E2e, YesRestartsAfterAskingTheOtherProgramsAndWithoutAFailureMessage) {
    SetWindowsVersion(L"win7");
    const std::wstring folder = Install(L"run");
    // Another program the user has open, which could hold unsaved work.
    const std::wstring other = folder_ + L"\\other.exe";
    const std::wstring otherLog = std::wstring(kRoot) + L"\\other.log";
    DeleteFileW(otherLog.c_str());
    ASSERT_TRUE(CopyFileW(kRecorder.c_str(), other.c_str(), FALSE));
    std::wstring commandLine = L"\"" + other + L"\" --window";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(other.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    for (int i = 0; i < 200 && !ReadBytes(otherLog); ++i) {
        Sleep(50);
    }
    // Wine's own wineboot ends the session as Windows does; the stand-in would only log it.
    UseStandIn(Tool::Wineboot, false);
    AppDriver& app = Launch(folder);
    if (app.Dialog() != nullptr) {
        AllOffOkAndYes();
    }
    UseStandIn(Tool::Wineboot, true);

    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0)
        << "the other program was not told that the session ends";
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    EXPECT_EQ(ReadBytes(otherLog), "open\nWM_QUERYENDSESSION\nWM_ENDSESSION 1\n");
    EXPECT_EQ(DwordText(kPrefetchParameters, L"EnablePrefetcher"), "0");
}

// --- 12. What did not take is named before the question: a key that refuses values, a TRIM
// setting that does not read back, a TRIM tool that cannot start (named by our box alone). The
// tool's exit code counts for nothing, and a key that allows only querying and storing values
// takes the value.

TEST_F(E2e, SettingsThatDidNotTakeAreNamedBeforeTheRestartQuestion) {
    SetWindowsVersion(L"win7");
    const struct {
        const wchar_t* what;
        void (*prepare)();
        const wchar_t* named; // null: the restart question comes at once
        Written written;
        bool toolStarts = true;
    } rows[] = {
        {L"refused",
         [] {
             RefuseValues(kSysMain);
             MakeFsutilStoreNothing();
         },
         L"スーパーフェッチ\nTrim機能",
         {"0", "4", "0", "2", "0", "0"}},
        {L"tool-exits-1",
         [] { SetToolExitCode(Tool::Fsutil, 1); },
         nullptr,
         {"0", "4", "0", "4", "0", "1"}},
        {L"query-and-set-only",
         [] { AllowOnlyQueryAndSetValue(kWSearch); },
         nullptr,
         {"0", "4", "0", "4", "0", "1"}},
        {L"no-tool", TakeAwayFsutil, L"Trim機能", {"0", "4", "0", "4", "0", "0"}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.what));
        ClearProgramValues();
        ClearToolRuns();
        Store({1, 2, 3, 2, 3, 0});
        row.prepare();
        AppDriver& app = Launch(Install(row.what));
        ASSERT_NE(app.Dialog(), nullptr);
        app.Click(IDC_ALL_OFF);

        Popup box = PressOk();
        if (row.named != nullptr) {
            if (box.hwnd != nullptr && &row == rows) { // the picture names two features
                Screenshot(L"not-changed", box.hwnd);
            }
            box = ExpectNotChanged(box, row.named);
        }
        AnswerRestartQuestion(box, IDNO);
        ExpectWritten(row.written);
        EXPECT_EQ(ToolRuns(Tool::Fsutil), row.toolStarts ? TrimRuns({1}) : TrimRuns({}));
    }
}

// --- 13. Elevated from a folder others can write to.

// Every DLL the program has been seen to load under Wine (start-up, the About box, OK with the
// tool, the restart), and the ones Windows is known to search the program's folder for.
const wchar_t* const kPlantedNames[] = {
    L"advapi32", L"combase",    L"comctl32", L"cryptbase",     L"dwmapi",  L"gdi32",    L"imm32",
    L"kernel32", L"kernelbase", L"msimg32",  L"msvcrt",        L"ole32",   L"profapi",  L"propsys",
    L"rpcrt4",   L"sechost",    L"shcore",   L"shell32",       L"shlwapi", L"ucrtbase", L"user32",
    L"uxtheme",  L"version",    L"win32u",   L"windowscodecs", L"zlib1"};

TEST_F(E2e, DllsPlantedBesideTheProgramOrInItsCurrentFolderAreNeverLoaded) {
    SetWindowsVersion(L"win7");
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    const std::wstring cwd = folder_ + L"\\cwd";
    ASSERT_TRUE(CreateDirectoryW(cwd.c_str(), nullptr));
    std::vector<std::wstring> planted;
    for (const wchar_t* name : kPlantedNames) {
        for (const std::wstring& where : {folder, cwd}) {
            planted.push_back(where + L"\\" + name + L".dll");
            ASSERT_TRUE(CopyFileW(kMarkerDll.c_str(), planted.back().c_str(), FALSE));
        }
    }
    const auto expectNoneLoaded = [&] {
        for (const std::wstring& dll : planted) {
            EXPECT_FALSE(Exists(dll + L".fired")) << Narrow(dll) << " was loaded";
        }
    };
    AppDriver& app = Launch(folder, cwd);
    if (app.Dialog() == nullptr) {
        expectNoneLoaded();
        return;
    }

    // The common controls the manifest asks for: version 6 from the side-by-side store.
    std::vector<std::string> comctl32;
    for (const std::wstring& module : app.LoadedModules()) {
        std::wstring lower = module;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
        if (lower.size() >= 12 && lower.compare(lower.size() - 12, 12, L"comctl32.dll") == 0) {
            comctl32.push_back(Narrow(lower));
        }
    }
    ASSERT_EQ(comctl32.size(), 1u);
    EXPECT_NE(comctl32[0].find("\\winsxs\\amd64_microsoft.windows.common-controls_"),
              std::string::npos)
        << comctl32[0];
    EXPECT_NE(comctl32[0].find("_6.0."), std::string::npos) << comctl32[0];

    app.PostToDialog(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    const HWND about = app.WaitForPopup(10000);
    ASSERT_NE(about, nullptr) << "no About box";
    app.Answer(about, IDOK);
    EXPECT_TRUE(app.WaitUntilGone(about));
    AllOffOkAndYes();

    expectNoneLoaded();
    ExpectWritten({"0", "4", "0", "4", "0"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
    EXPECT_EQ(ToolRuns(Tool::Wineboot).size(), 1u) << "restart requests";
    ExpectLayout(layout, true);
}

// A hard link only: Wine 8's CreateSymbolicLinkW reports success and makes nothing; symbolic
// links are covered on the simulated machine.
TEST_F(E2e, HardLinkNamedLikeTheTemporaryCopyIsNotWrittenThrough) {
    SetWindowsVersion(L"win7");
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = Install(L"run");
    const std::wstring cwd = folder_ + L"\\cwd";
    const std::wstring own = folder_ + L"\\own.txt";
    const std::string ownBytes(3000, 'o');
    ASSERT_TRUE(CreateDirectoryW(cwd.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(own, ownBytes));
    ASSERT_TRUE(CreateHardLinkW((cwd + L"\\Layout_back.ini").c_str(), own.c_str(), nullptr));
    AppDriver& app = Launch(folder, cwd);
    ASSERT_NE(app.Dialog(), nullptr);
    app.Click(IDC_ALL_OFF);
    AnswerRestartQuestion(PressOk(), IDNO);

    const auto ownNow = ReadBytes(own);
    EXPECT_TRUE(ownNow == ownBytes)
        << "the linked file now has " << (ownNow ? ownNow->size() : 0) << " bytes";
    ExpectLayout(layout, true);
    ExpectWritten({"0", "4", "0", "4", "0"});
    EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
}

// --- 14. The console program, started as a deployment system (no console, CREATE_NO_WINDOW,
// pipes) and as a command prompt with `> file` (the caller's console) starts it: the exit code
// straight from GetExitCodeProcess (a shell under Wine passes on only its low byte: 3010 comes
// as 194), the output in CR LF lines, no window of any kind, and nothing written by a bad line.

// Output lines as the program must write them: each ended by CR LF.
std::string Crlf(std::initializer_list<const char*> lines) {
    std::string bytes;
    for (const char* line : lines) {
        bytes += std::string(line) + "\r\n";
    }
    return bytes;
}

TEST_F(E2e, ConsoleProgramGivesItsExitCodesAndLinesAndNeverAWindow) {
    SetWindowsVersion(L"win7");
    Store({1, 2, 3, 2, 3, 0});
    const std::wstring layout = MakeLayoutFile();
    const std::wstring folder = folder_ + L"\\cli";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring exe = folder + L"\\QuillmarshCli.exe";
    ASSERT_TRUE(CopyFileW(kCli.c_str(), exe.c_str(), FALSE)) << "cannot copy " << Narrow(kCli);
    const std::wstring outFile = folder_ + L"\\out.txt";
    const auto run = [&](const wchar_t* arguments, ConsoleStart how) {
        const ConsoleRun ran = RunConsoleProgram(exe, arguments, folder_, how, outFile);
        EXPECT_TRUE(ran.ended) << ran.error;
        EXPECT_EQ(ran.sharedConsole, how == ConsoleStart::InheritedConsoleFile);
        for (const std::wstring& window : ran.ownWindows) {
            ADD_FAILURE() << "a window of its own: " << Narrow(window);
        }
        for (const std::wstring& window : ran.newVisibleWindows) {
            ADD_FAILURE() << "a window appeared: " << Narrow(window);
        }
        return ran;
    };
    const RegSnapshot untouched = SnapshotProgramValues();

    {
        SCOPED_TRACE("a bad line");
        const ConsoleRun bad = run(L"/AutoDefrag:on /Index:maybe", ConsoleStart::NoWindowPipes);
        EXPECT_EQ(bad.exitCode, 87u);
        EXPECT_EQ(bad.out, "");
        EXPECT_NE(bad.err.find(L"コマンドラインが正しくありません。"), std::wstring::npos)
            << Narrow(bad.err);
        ExpectNothingApplied(untouched);
    }
    const auto settings = L"/AutoDefrag:off /Index:off /Trim:off";
    {
        SCOPED_TRACE("settings, first");
        const ConsoleRun first = run(settings, ConsoleStart::NoWindowPipes);
        EXPECT_EQ(first.exitCode, 3010u);
        EXPECT_EQ(first.out, Crlf({"AutoDefrag=changed", "Index=changed", "Trim=changed",
                                   "RestartNeeded=yes", "ExitCode=3010"}));
        EXPECT_EQ(first.err, L"");
        // SuperFetch and Prefetch not named: neither their values nor the layout file touched.
        ExpectWritten({"0", "4", "3", "2", "3", "1"});
        ExpectLayout(layout, false);
        EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1}));
        // The PC's first settings, as they were before the run.
        const std::pair<const wchar_t*, DWORD> saved[] = {
            {L"AutoDefrag", 1}, {L"Index", 2}, {L"SuperFetch", 3}, {L"SysMain", 2},
            {L"PreFetch", 3},   {L"Trim", 0},  {L"Complete", 1}};
        for (const auto& [name, value] : saved) {
            EXPECT_EQ(ReadDword(kSnapshotKey, name), value) << Narrow(name);
        }
    }
    const RegSnapshot applied = SnapshotProgramValues();
    {
        SCOPED_TRACE("settings, again");
        const ConsoleRun again = run(settings, ConsoleStart::InheritedConsoleFile);
        EXPECT_EQ(again.exitCode, 0u);
        EXPECT_EQ(again.out, Crlf({"AutoDefrag=unchanged", "Index=unchanged", "Trim=unchanged",
                                   "RestartNeeded=no", "ExitCode=0"}));
        EXPECT_EQ(Describe(SnapshotProgramValues()), Describe(applied));
        EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1})) << "the tool ran for a TRIM as asked";
    }
    {
        SCOPED_TRACE("/status");
        const ConsoleRun status = run(L"/status", ConsoleStart::InheritedConsoleFile);
        EXPECT_EQ(status.exitCode, 0u);
        EXPECT_EQ(status.out, Crlf({"AutoDefrag=off", "Index=off", "SuperFetch=on", "PreFetch=on",
                                    "Trim=off", "FirstSettings=saved", "ExitCode=0"}));
        EXPECT_EQ(Describe(SnapshotProgramValues()), Describe(applied));
    }
    for (const DWORD expected : {3010u, 0u}) {
        SCOPED_TRACE("/restore, expecting " + std::to_string(expected));
        const ConsoleRun restore = run(L"/restore", ConsoleStart::NoWindowPipes);
        EXPECT_EQ(restore.exitCode, expected);
        EXPECT_EQ(
            restore.out,
            expected == 3010u
                ? Crlf({"AutoDefrag=changed", "Index=changed", "SuperFetch=unchanged",
                        "PreFetch=unchanged", "Trim=changed", "RestartNeeded=yes", "ExitCode=3010"})
                : Crlf({"AutoDefrag=unchanged", "Index=unchanged", "SuperFetch=unchanged",
                        "PreFetch=unchanged", "Trim=unchanged", "RestartNeeded=no", "ExitCode=0"}));
        ExpectWritten({"1", "2", "3", "2", "3", "0"});
        EXPECT_EQ(ToolRuns(Tool::Fsutil), TrimRuns({1, 0}));
    }

    // The Windows version Wine reports to the console program: XP, where SuperFetch is not to be
    // had and rights are judged by the Administrators group; without it nothing changes.
    SetWindowsVersion(L"winxp64");
    {
        SCOPED_TRACE("XP");
        const ConsoleRun xp = run(L"/AutoDefrag:on /SuperFetch:off", ConsoleStart::NoWindowPipes);
        EXPECT_EQ(xp.exitCode, 0u);
        EXPECT_EQ(xp.out, Crlf({"AutoDefrag=unchanged", "SuperFetch=unavailable",
                                "RestartNeeded=no", "ExitCode=0"}));
    }
    {
        SCOPED_TRACE("XP, Administrators for deny only");
        const RegSnapshot before = SnapshotProgramValues();
        const ConsoleRun refused =
            RunConsoleProgram(exe, L"/AutoDefrag:off", folder_, ConsoleStart::NoWindowPipes,
                              outFile, ConsoleToken::AdministratorsDenyOnly);
        EXPECT_TRUE(refused.ended) << refused.error;
        EXPECT_EQ(refused.exitCode, 740u);
        EXPECT_EQ(refused.out, Crlf({"AutoDefrag=failed (740, checking administrator rights)",
                                     "RestartNeeded=no", "ExitCode=740"}));
        EXPECT_NE(refused.err.find(L"管理者として実行してください。"), std::wstring::npos)
            << Narrow(refused.err);
        EXPECT_EQ(Describe(SnapshotProgramValues()), Describe(before));
    }
    // Nothing beside the program: its folder holds the program alone.
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do {
        names.push_back(Narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "QuillmarshCli.exe"}));
}

// Installs the tool stand-ins for the whole suite and puts the prefix back afterwards.
class PrefixEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        if (!ToolStandIns::Install(kRecorder, error)) {
            FAIL() << error;
        }
    }
    void TearDown() override {
        ToolStandIns::Restore();
        ClearProgramValues();
        ClearWindowsVersion();
        RemoveTree(kRoot);
    }
};

} // namespace
} // namespace e2e

int main(int argc, char** argv) {
    // --restore-prefix only undoes what an interrupted run left behind.
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--restore-prefix") {
            e2e::ToolStandIns::RestoreLeftovers();
            return 0;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new e2e::PrefixEnvironment);
    return RUN_ALL_TESTS();
}
