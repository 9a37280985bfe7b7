#include "DialogDriver.h"

#include <algorithm>

namespace driver {

namespace {

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if ((search->processId == 0 || owner == search->processId) && ClassName(window) == L"#32770" &&
        ::IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && ::IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND dialog) {
    std::vector<HWND> children;
    ::EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

bool Filled(HWND dialog, Kind kind) {
    // FindWindow can see a dialog before its initialisation has filled it.
    switch (kind) {
    case Kind::Prerequisites: return ::SendMessageW(::GetDlgItem(dialog, 1000), LB_GETCOUNT, 0, 0) > 0;
    case Kind::Reboot: return !ControlText(dialog, 65535).empty();
    default: return !Text(dialog).empty();
    }
}

}  // namespace

std::vector<HWND> VisibleWindows(DWORD processId) {
    Search search{processId, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring Text(HWND window) {
    const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = ::GetDlgItem(dialog, id);
    return control != nullptr ? Text(control) : std::wstring();
}

std::vector<std::wstring> ListItems(HWND dialog, int id) {
    HWND list = ::GetDlgItem(dialog, id);
    std::vector<std::wstring> items;
    const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, i, 0);
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<size_t>(length));
        items.push_back(item);
    }
    return items;
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    for (HWND child : Children(dialog)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0) continue;
        std::wstring text = Text(child);
        if (!text.empty()) texts.push_back(text);
    }
    return texts;
}

Kind KindOf(HWND dialog) {
    HWND item1000 = ::GetDlgItem(dialog, 1000);
    if (item1000 != nullptr) {
        const std::wstring name = ClassName(item1000);
        if (_wcsicmp(name.c_str(), L"ListBox") == 0) return Kind::Prerequisites;
        if (_wcsicmp(name.c_str(), L"msctls_progress32") == 0) return Kind::Progress;
    }
    if (::GetDlgItem(dialog, 1002) != nullptr && ::GetDlgItem(dialog, 65535) != nullptr) return Kind::Reboot;
    if (::GetDlgItem(dialog, IDOK) != nullptr || ::GetDlgItem(dialog, IDCANCEL) != nullptr) {
        return Kind::MessageBox;
    }
    return Kind::Other;
}

std::vector<HWND> VisibleDialogs(DWORD processId) {
    Search search{processId, {}};
    ::EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Window WaitForDialog(DWORD processId, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        for (HWND window : VisibleDialogs(processId)) {
            const Kind kind = KindOf(window);
            if (Filled(window, kind)) return {window, kind, Text(window)};
        }
        ::Sleep(20);
    } while (::GetTickCount64() < deadline);
    return {};
}

Window WaitForKind(DWORD processId, Kind kind, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        Window window = WaitForDialog(processId, 50);
        if (window.hwnd != nullptr && window.kind == kind) return window;
    } while (::GetTickCount64() < deadline);
    return {};
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(20);
    }
    return true;
}

void Click(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void PressKey(HWND dialog, UINT virtualKey) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    HWND target = dialog;
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus != nullptr) {
        target = info.hwndFocus;
    }
    const UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    ::PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    ::PostMessageW(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

void Close(HWND dialog) { ::PostMessageW(dialog, WM_CLOSE, 0, 0); }

}  // namespace driver
