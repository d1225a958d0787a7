#!/usr/bin/env python3
"""Checks the resources and imports built into Quillmarsh.exe against the expected values.
An executable named QuillmarshCli.exe is checked as the console twin: no dialogs or strings,
its own names in the version block, a manifest that asks for no elevation, and no MessageBoxW.

Usage: check_resources.py EXE

Reads the image with pefile (Debian: python3-pefile), then checks the two
dialog templates, the string table, the icon group, the version block, the
manifest, the DLLs and functions the image imports and the Windows version its
header asks for. Prints every check; exits 1 and names each mismatch if any
value differs, 2 if the file cannot be read at all.
"""

import os
import struct
import sys
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:
    pefile = None

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
LANG_JA = 0x0411
LANG_EN_US = 0x0409

# Window and control style bits used in the expected tables.
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_SYSMENU, WS_GROUP, WS_TABSTOP = 0x00C00000, 0x00080000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
WS_EX_APPWINDOW = 0x00040000
BS_DEFPUSHBUTTON, BS_AUTORADIOBUTTON, BS_GROUPBOX = 0x1, 0x9, 0x7
SS_ICON, SS_NOPREFIX, SS_SUNKEN = 0x3, 0x80, 0x1000

CHILD = WS_CHILD | WS_VISIBLE
GROUPBOX = ("Button", CHILD | BS_GROUPBOX | WS_GROUP)
DESCRIPTION = ("Static", CHILD | SS_SUNKEN | WS_GROUP)
RADIO = ("Button", CHILD | BS_AUTORADIOBUTTON)
PUSH = ("Button", CHILD | WS_TABSTOP)
DEFPUSH = ("Button", CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP)

PREFETCH_TEXT = "頻繁に使用するファイルやアプリケーションを解析し、\nあらかじめメモリにロードしておく機能"

# (id, (class, full style), text, (x, y, cx, cy)), in template order.
MAIN_CONTROLS = [
    (-1, GROUPBOX, "自動デフラグ", (12, 12, 228, 36)),
    (-1, DESCRIPTION, "OSがアイドル状態のときに、\n自動的に実行されるデフラグ", (24, 24, 138, 18)),
    (1000, RADIO, "ON", (174, 24, 24, 18)),
    (1001, RADIO, "OFF", (210, 24, 24, 18)),
    (-1, GROUPBOX, "インデックスサービス（インデックスファイルの作成）", (12, 54, 228, 36)),
    (-1, DESCRIPTION, "ファイルやフォルダーのインデックスを作成し、\n検索を速くする機能", (24, 66, 138, 18)),
    (1002, RADIO, "ON", (174, 66, 24, 18)),
    (1003, RADIO, "OFF", (210, 66, 24, 18)),
    (-1, GROUPBOX, "スーパーフェッチ（Windows 7/Vista）", (12, 96, 228, 36)),
    (-1, DESCRIPTION, PREFETCH_TEXT, (24, 108, 138, 18)),
    (1004, RADIO, "ON", (174, 108, 24, 18)),
    (1005, RADIO, "OFF", (210, 108, 24, 18)),
    (-1, GROUPBOX, "プリフェッチ（Windows XP）", (12, 138, 228, 36)),
    (-1, DESCRIPTION, PREFETCH_TEXT, (24, 150, 138, 18)),
    (1006, RADIO, "ON", (174, 150, 24, 18)),
    (1007, RADIO, "OFF", (210, 150, 24, 18)),
    (1008, PUSH, "最初の設定に戻す(&D)", (12, 228, 66, 18)),
    (1009, PUSH, "全てOFF(&F)", (84, 228, 42, 18)),
    (1, DEFPUSH, "OK", (132, 228, 54, 18)),
    (2, PUSH, "キャンセル", (186, 228, 54, 18)),
    (-1, GROUPBOX, "Trim機能（Windows 7）", (12, 180, 228, 36)),
    (-1, DESCRIPTION, "OSからSSDに対してTrimコマンドを送信する機能", (24, 192, 138, 18)),
    (1010, RADIO, "ON", (174, 192, 24, 18)),
    (1011, RADIO, "OFF", (210, 192, 24, 18)),
]

# None as text: any non-empty text without a carriage return (our own notice).
ABOUT_CONTROLS = [
    (-1, ("Static", CHILD | SS_ICON), 128, (11, 17, 20, 20)),
    (-1, ("Static", CHILD | SS_NOPREFIX | WS_GROUP), "Quillmarsh Version 1.1.0", (40, 10, 119, 8)),
    (-1, ("Static", CHILD | WS_GROUP), None, (40, 25, 164, 8)),
    (1, ("Button", CHILD | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP), "OK", (180, 36, 50, 16)),
]

DIALOGS = {
    102: dict(style=WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
              exstyle=WS_EX_APPWINDOW, size=(251, 254), controls=MAIN_CONTROLS),
    100: dict(style=WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
              exstyle=0, size=(235, 55), controls=ABOUT_CONTROLS),
}
DIALOG_CAPTION = "Quillmarsh"
DIALOG_FONT = (9, "MS UI Gothic")

STRINGS = {
    101: "バージョン情報(&A)...",
    102: "設定を反映するためには、コンピュータの再起動が必要です。\n今すぐコンピュータを再起動しますか？",
    129: "コンピュータを再起動できませんでした。\n「スタート」メニューから手動で再起動してください。",
    130: "次の設定を変更できませんでした。",
    131: "自動デフラグ",
    132: "インデックスサービス",
    133: "スーパーフェッチ",
    134: "プリフェッチ",
    135: "Trim機能",
    136: "最初の設定を保存できませんでした。\nこのまま変更すると、次回から「最初の設定に戻す」で今の設定に戻せなくなります。\n"
    "Quillmarsh をローカルディスク上の専用のフォルダーに置いて起動すると、保存できます。\n\nこのまま変更しますか？",
}

ICON_GROUP = 128
ICON_SIZES = [256, 48, 32, 24, 16]

VERSION = (1, 1, 0, 0)
VOS__WINDOWS32, VFT_APP = 0x4, 0x1
VERSION_BLOCK = "041103a4"
VERSION_STRINGS = {
    "FileVersion": "1.1.0.0",
    "InternalName": "Quillmarsh.exe",
    "OriginalFilename": "Quillmarsh.exe",
    "ProductName": "Quillmarsh",
    "ProductVersion": "1.1.0.0",
    "CompanyName": None,      # ours; must be present and non-empty
    "LegalCopyright": None,   # ours; must be present and non-empty
}
TRANSLATION = [(0x0411, 0x03A4)]

COMCTL_TOKEN = "6595b64144ccf1df"

# The program runs elevated, so a DLL it imports must never be looked for in the
# executable's folder: only DLLs that Windows always takes from the system directory.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}

# The oldest Windows the program names is NT 5.2 x64 (XP x64, Server 2003 x64). Its loader
# refuses an image that imports a function its DLLs lack, or whose header asks for more.
OLDEST_WINDOWS = (5, 2)
# One file per DLL (nt52-exports/<dll>.txt): the names that DLL exports on NT 5.2 x64.
EXPORTS_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nt52-exports")


CLI = False


class ReadError(Exception):
    pass


# ---- reading resources -----------------------------------------------------

def u16(data, off):
    return struct.unpack_from("<H", data, off)[0]


def read_image(path):
    """Returns the parsed image and {(type, name, lang): bytes} of its resources."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_ENTRY_{d}"]
        for d in ("RESOURCE", "IMPORT", "DELAY_IMPORT")])
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        raise ReadError("the image has no resource section")
    out = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rname in rtype.directory.entries:
            for lang in rname.directory.entries:
                if not hasattr(lang, "data"):
                    raise ReadError("resource tree deeper than three levels")
                key = (rtype.id if rtype.id is not None else str(rtype.name),
                       rname.id if rname.id is not None else str(rname.name), lang.id)
                out[key] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return pe, out


def read_sz_or_ord(data, off):
    """Returns (value, next offset); value is an int ordinal, a str or ''."""
    first = u16(data, off)
    if first == 0xFFFF:
        return u16(data, off + 2), off + 4
    end = off
    while u16(data, end) != 0:
        end += 2
    return data[off:end].decode("utf-16-le"), end + 2


def align4(off):
    return (off + 3) & ~3


# ---- checking ---------------------------------------------------------------

class Checker:
    def __init__(self, pe, res):
        self.pe = pe
        self.res = res
        self.failures = []
        self.passed = 0

    def expect(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
            print(f"ok    {what}: {show(actual)}")
        else:
            self.failures.append(what)
            print(f"FAIL  {what}: got {show(actual)}, expected {show(expected)}")
        return actual == expected

    def expect_true(self, what, cond, detail=""):
        return self.expect(what + (f" ({detail})" if detail else ""), bool(cond), True)

    def single(self, rtype, name, lang):
        """The resource's data, requiring it to exist in exactly the given language."""
        langs = sorted(k[2] for k in self.res if k[0] == rtype and k[1] == name)
        if not self.expect(f"type {rtype} id {name} languages", [f"{l:#06x}" for l in langs],
                           [f"{lang:#06x}"]):
            return None
        return self.res[(rtype, name, lang)]


def show(v):
    if isinstance(v, str):
        return repr(v)
    if isinstance(v, int) and not isinstance(v, bool) and v > 9:
        return f"{v} ({v:#x})"
    return repr(v)


def parse_dialogex(data):
    ver, sig, help_id, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    if (ver, sig) != (1, 0xFFFF):
        raise ReadError("not an extended dialog template")
    off = 26
    menu, off = read_sz_or_ord(data, off)
    cls, off = read_sz_or_ord(data, off)
    title, off = read_sz_or_ord(data, off)
    font = None
    if style & DS_SETFONT:
        size, weight, italic, charset = struct.unpack_from("<HHBB", data, off)
        face, off = read_sz_or_ord(data, off + 6)
        font = (size, face, weight, italic, charset)
    controls = []
    for _ in range(count):
        off = align4(off)
        c_help, c_ex, c_style, c_x, c_y, c_cx, c_cy, c_id = struct.unpack_from("<IIIhhhhi", data, off)
        off += 24
        c_cls, off = read_sz_or_ord(data, off)
        c_text, off = read_sz_or_ord(data, off)
        extra = u16(data, off)
        off += 2 + extra
        if c_id == 0xFFFF:  # some compilers store -1 as a 16-bit value
            c_id = -1
        controls.append(dict(id=c_id, exstyle=c_ex, style=c_style, rect=(c_x, c_y, c_cx, c_cy),
                             cls=CLASS_ORDINALS.get(c_cls, c_cls), text=c_text))
    return dict(exstyle=exstyle, style=style, rect=(x, y, cx, cy), menu=menu, cls=cls,
                title=title, font=font, controls=controls)


CLASS_ORDINALS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
                  0x84: "ScrollBar", 0x85: "ComboBox"}


def check_dialogs(ck):
    for dlg_id, want in DIALOGS.items():
        raw = ck.single(RT_DIALOG, dlg_id, LANG_JA)
        if raw is None:
            continue
        d = parse_dialogex(raw)
        p = f"dialog {dlg_id}"
        ck.expect(f"{p} style", d["style"], want["style"])
        ck.expect(f"{p} exstyle", d["exstyle"], want["exstyle"])
        ck.expect(f"{p} size", d["rect"][2:], want["size"])
        ck.expect(f"{p} menu and class", (d["menu"], d["cls"]), ("", ""))
        ck.expect(f"{p} caption", d["title"], DIALOG_CAPTION)
        ck.expect(f"{p} font", d["font"][:2] if d["font"] else None, DIALOG_FONT)
        ck.expect(f"{p} control count", len(d["controls"]), len(want["controls"]))
        for n, (c, (cid, (cls, style), text, rect)) in enumerate(zip(d["controls"], want["controls"]), 1):
            q = f"{p} control {n}"
            ck.expect(f"{q} id", c["id"], cid)
            ck.expect(f"{q} class", str(c["cls"]).lower(), cls.lower())
            ck.expect(f"{q} style", c["style"], style)
            ck.expect(f"{q} exstyle", c["exstyle"], 0)
            ck.expect(f"{q} rect", c["rect"], rect)
            if text is None:
                ok = isinstance(c["text"], str) and c["text"].strip() != "" and "\r" not in c["text"]
                ck.expect_true(f"{q} text is a non-empty notice", ok, repr(c["text"]))
            else:
                ck.expect(f"{q} text", c["text"], text)


def string_block(pe, block):
    """The non-empty strings of one string-table block, as pefile decoded them."""
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id == RT_STRING:
            for rname in rtype.directory.entries:
                if rname.id == block:
                    return getattr(rname.directory, "strings", {})
    return {}


def check_strings(ck):
    blocks = {}
    for sid in STRINGS:
        blocks.setdefault(sid // 16 + 1, []).append(sid)
    for block, ids in sorted(blocks.items()):
        if ck.single(RT_STRING, block, LANG_JA) is None:
            continue
        table = string_block(ck.pe, block)
        for sid in ids:
            ck.expect(f"string {sid}", table.get(sid), STRINGS[sid])
        others = sorted(k for k, v in table.items() if v and k not in STRINGS)
        ck.expect(f"string block {block} holds no other strings", others, [])


def check_icon(ck):
    raw = ck.single(RT_GROUP_ICON, ICON_GROUP, LANG_JA)
    if raw is None:
        return
    reserved, kind, count = struct.unpack_from("<HHH", raw, 0)
    ck.expect("icon group header (reserved, type)", (reserved, kind), (0, 1))
    entries = [struct.unpack_from("<BBBBHHIH", raw, 6 + 14 * i) for i in range(count)]
    sizes = [e[0] or 256 for e in entries]
    ck.expect("icon group sizes", sizes, ICON_SIZES)
    for w, h, colors, _, planes, bits, nbytes, icon_id in entries:
        size = w or 256
        p = f"icon {size}px"
        ck.expect(f"{p} square, planes, bits per pixel", ((h or 256) == size, planes, bits), (True, 1, 32))
        img = ck.res.get((RT_ICON, icon_id, LANG_JA))
        if not ck.expect_true(f"{p} image {icon_id} present in language 0x0411", img is not None):
            continue
        ck.expect(f"{p} image length matches the group entry", len(img), nbytes)
        is_png = img[:8] == b"\x89PNG\r\n\x1a\n"
        # Only the largest image is PNG-compressed; the rest stay DIBs.
        if not ck.expect(f"{p} storage", "PNG" if is_png else "DIB", "PNG" if size == 256 else "DIB"):
            continue
        if is_png:
            pw, ph, depth, ctype = struct.unpack_from(">IIBB", img, 16)
            ck.expect(f"{p} PNG size, depth, RGBA", (pw, ph, depth, ctype), (size, size, 8, 6))
        else:
            hsize, bw, bh, bplanes, bbits, comp = struct.unpack_from("<IiiHHI", img, 0)
            ck.expect(f"{p} DIB header (size, w, 2h, planes, bits, compression)",
                      (hsize, bw, bh, bplanes, bbits, comp), (40, size, 2 * size, 1, 32, 0))
            stride = ((size + 31) // 32) * 4
            ck.expect(f"{p} DIB length with colour and mask", len(img), 40 + size * size * 4 + stride * size)
            alphas = {img[40 + i * 4 + 3] for i in range(size * size)}
            ck.expect_true(f"{p} has a real alpha channel", len(alphas) > 2 and 0 in alphas and 255 in alphas)


# The console twin: what differs from the dialog program.
CLI_VERSION_NAMES = {"InternalName": "QuillmarshCli.exe", "OriginalFilename": "QuillmarshCli.exe"}


def check_no_windows(ck):
    keys = sorted(k[0] for k in ck.res if k[0] in (RT_DIALOG, RT_STRING))
    ck.expect("dialogs and string tables", keys, [])
    imported = [(d.dll.decode("ascii", "replace").lower(), (i.name or b"").decode("ascii", "replace"))
                for d in getattr(ck.pe, "DIRECTORY_ENTRY_IMPORT", []) for i in d.imports]
    ck.expect("window functions imported", sorted(n for dll, n in imported
                                                  if n in ("MessageBoxW", "MessageBoxA", "CreateWindowExW",
                                                           "DialogBoxParamW")), [])


def check_version(ck):
    if ck.single(RT_VERSION, 1, LANG_JA) is None:
        return
    pe = ck.pe
    if not ck.expect_true("version block parsed", hasattr(pe, "VS_VERSIONINFO")
                          and hasattr(pe, "VS_FIXEDFILEINFO")):
        return
    root = pe.VS_VERSIONINFO[0]
    ck.expect("version root key", root.Key.decode("utf-8"), "VS_VERSION_INFO")
    if not ck.expect("version fixed info length", root.ValueLength, 52):
        return
    f = pe.VS_FIXEDFILEINFO[0]
    ck.expect("version fixed signature", f.Signature, 0xFEEF04BD)
    fv = (f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF, f.FileVersionLS >> 16, f.FileVersionLS & 0xFFFF)
    pv = (f.ProductVersionMS >> 16, f.ProductVersionMS & 0xFFFF,
          f.ProductVersionLS >> 16, f.ProductVersionLS & 0xFFFF)
    ck.expect("FILEVERSION", fv, VERSION)
    ck.expect("PRODUCTVERSION", pv, VERSION)
    ck.expect("FILEFLAGS", f.FileFlags, 0)
    ck.expect("FILEOS", f.FileOS, VOS__WINDOWS32)
    ck.expect("FILETYPE", f.FileType, VFT_APP)

    file_info = pe.FileInfo[0] if getattr(pe, "FileInfo", None) else []
    by_key = {fi.Key.decode("utf-8"): fi for fi in file_info}
    sfi = by_key.get("StringFileInfo")
    blocks = {st.LangID.decode("utf-8"): st for st in getattr(sfi, "StringTable", [])}
    ck.expect("string blocks", sorted(blocks), [VERSION_BLOCK])
    values = {}
    if VERSION_BLOCK in blocks:
        values = {k.decode("utf-8"): v.decode("utf-8")
                  for k, v in blocks[VERSION_BLOCK].entries.items()}
    ck.expect("version string names", sorted(values), sorted(VERSION_STRINGS))
    ck.expect_true("no FileDescription", "FileDescription" not in values)
    for k, want in dict(VERSION_STRINGS, **(CLI_VERSION_NAMES if CLI else {})).items():
        got = values.get(k)
        if want is None:
            ck.expect_true(f"version string {k} non-empty", got, repr(got))
        else:
            ck.expect(f"version string {k}", got, want)

    # pefile shows the first language/code-page pair only; the value length tells how many.
    trans = None
    for var in getattr(by_key.get("VarFileInfo"), "Var", []):
        if b"Translation" in var.entry:
            trans = (tuple(int(x, 16) for x in var.entry[b"Translation"].split()),
                     var.ValueLength // 4)
    ck.expect("Translation (first pair, number of pairs)", trans, (TRANSLATION[0], len(TRANSLATION)))


def nt52_exports(dll):
    """The names `dll` exports on NT 5.2 x64, or None when there is no list for it."""
    path = os.path.join(EXPORTS_DIR, dll.lower().removesuffix(".dll") + ".txt")
    try:
        with open(path, encoding="ascii") as f:
            return {line.strip() for line in f if line.strip()}
    except FileNotFoundError:
        return None


def functions_missing_on_nt52(entries):
    """DLL!function for every imported function that NT 5.2 x64 does not export."""
    missing = []
    for entry in entries:
        dll = entry.dll.decode("ascii", "replace")
        exported = nt52_exports(dll)
        if exported is None:
            missing.append(f"{dll} (no NT 5.2 export list)")
            continue
        for imp in entry.imports:
            if imp.name is None:
                missing.append(f"{dll}!#{imp.ordinal} (by ordinal)")
            elif imp.name.decode("ascii", "replace") not in exported:
                missing.append(f"{dll}!{imp.name.decode('ascii', 'replace')}")
    return missing


def check_imports(ck):
    imported = getattr(ck.pe, "DIRECTORY_ENTRY_IMPORT", [])
    delayed = getattr(ck.pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    dlls = [d.dll.decode("ascii", "replace") for d in imported]
    ck.expect_true("import directory read", "kernel32.dll" in (d.lower() for d in dlls),
                   ", ".join(dlls))
    ck.expect("imported DLLs outside the system-directory list",
              sorted(d for d in dlls if d.lower() not in SYSTEM_DLLS), [])
    # The delay-load helper searches like LoadLibrary, the executable's folder first.
    ck.expect("delay-loaded DLLs outside the system-directory list",
              sorted(d.dll.decode("ascii", "replace") for d in delayed
                     if d.dll.decode("ascii", "replace").lower() not in SYSTEM_DLLS), [])
    ck.expect("imported functions that NT 5.2 x64 does not export",
              functions_missing_on_nt52(imported), [])
    ck.expect("delay-loaded functions that NT 5.2 x64 does not export",
              functions_missing_on_nt52(delayed), [])


def check_header(ck):
    opt = ck.pe.OPTIONAL_HEADER
    for what, version in (
            ("subsystem version", (opt.MajorSubsystemVersion, opt.MinorSubsystemVersion)),
            ("OS version", (opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion))):
        ck.expect_true(f"{what} at most {OLDEST_WINDOWS[0]}.{OLDEST_WINDOWS[1]}",
                       version <= OLDEST_WINDOWS, f"{version[0]}.{version[1]}")


def local(tag):
    return tag.rsplit("}", 1)[-1]


def find_all(elem, name):
    return [e for e in elem.iter() if local(e.tag) == name]


def check_manifest(ck):
    keys = sorted((k[1], k[2]) for k in ck.res if k[0] == RT_MANIFEST)
    ck.expect("manifests (id, language)", keys, [(1, LANG_EN_US)])
    raw = ck.res.get((RT_MANIFEST, 1, LANG_EN_US))
    if raw is None:
        return
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        ck.expect_true("manifest is well-formed XML", False, str(e))
        return
    ck.expect("manifest root", (local(root.tag), root.get("manifestVersion")), ("assembly", "1.0"))
    own = [e for e in root if local(e.tag) == "assemblyIdentity"]
    ident = own[0].attrib if own else {}
    ck.expect("own assemblyIdentity (type, version, processorArchitecture)",
              (ident.get("type"), ident.get("version"), ident.get("processorArchitecture")),
              ("win32", "1.0.0.0", "*"))
    ck.expect_true("own assemblyIdentity has a name", ident.get("name"), repr(ident.get("name")))
    desc = [e.text for e in root if local(e.tag) == "description"]
    # Neither program names a supportedOS: Windows 8 and later report 6.2 to both.
    ck.expect("supportedOS entries", find_all(root, "supportedOS"), [])
    levels = [(e.get("level"), e.get("uiAccess")) for e in find_all(root, "requestedExecutionLevel")]
    if CLI:
        # Elevating would start it in a console of its own, away from its caller.
        ck.expect("description", desc, ["QuillmarshCli"])
        ck.expect("requestedExecutionLevel", levels, [("asInvoker", "false")])
        ck.expect("dependencies", find_all(root, "dependentAssembly"), [])
        return
    ck.expect("description", desc, ["Quillmarsh"])
    ck.expect("requestedExecutionLevel", levels, [("requireAdministrator", "false")])
    dpi = [(e.text or "").strip().lower() for e in find_all(root, "dpiAware")]
    ck.expect("dpiAware", dpi, ["true"])
    deps = sorted(
        tuple(e.get(a) for a in ("type", "name", "version", "processorArchitecture",
                                 "publicKeyToken", "language"))
        for d in find_all(root, "dependentAssembly") for e in d if local(e.tag) == "assemblyIdentity")
    want = sorted(("win32", "Microsoft.Windows.Common-Controls", "6.0.0.0", arch, COMCTL_TOKEN, "*")
                  for arch in ("*", "amd64"))
    ck.expect("dependencies", deps, want)


def main(argv):
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    if pefile is None:
        print("check_resources: needs the Python module pefile (Debian: python3-pefile)",
              file=sys.stderr)
        return 2
    try:
        pe, res = read_image(argv[0])
    except (OSError, ReadError, pefile.PEFormatError) as e:
        print(f"check_resources: cannot read resources of {argv[0]}: {e}", file=sys.stderr)
        return 2
    global CLI
    CLI = os.path.basename(argv[0]).lower() == "quillmarshcli.exe"
    print(f"checking resources of {argv[0]} ({len(res)} resources)")
    ck = Checker(pe, res)
    windows = (check_no_windows,) if CLI else (check_dialogs, check_strings)
    for step in windows + (check_icon, check_version, check_manifest, check_imports, check_header):
        try:
            step(ck)
        except (ReadError, struct.error, IndexError, UnicodeDecodeError) as e:
            ck.failures.append(step.__name__)
            print(f"FAIL  {step.__name__}: malformed resource data ({e})")
    print(f"{ck.passed} passed, {len(ck.failures)} failed")
    if ck.failures:
        print("check_resources: resource mismatch: " + "; ".join(ck.failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
