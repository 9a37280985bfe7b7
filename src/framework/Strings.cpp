#include "framework/Strings.h"

#include "framework/WinApp.h"

std::wstring LoadResourceString(UINT id) {
    // With a zero buffer size LoadStringW hands out a pointer into the
    // resource itself, so no string is ever cut at a buffer's end.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(AfxGetResourceHandle(), id,
                                     reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return {};
    return std::wstring(text, static_cast<size_t>(length));
}

int AfxMessageBox(const wchar_t* text, UINT type) {
    const CWinApp* app = AfxGetApp();
    const wchar_t* caption = app != nullptr && !app->AppTitle().empty()
                                 ? app->AppTitle().c_str() : nullptr;
    return ::MessageBoxW(nullptr, text, caption, type);
}

int AfxMessageBox(UINT stringId, UINT type) {
    return AfxMessageBox(LoadResourceString(stringId).c_str(), type);
}
