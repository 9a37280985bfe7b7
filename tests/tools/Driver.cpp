// Command-line dialog driver for scripts (the demo):
//   driver wait [kind] [seconds]   wait for a dialog, print its kind, caption and texts
//   driver press <id>              press button <id> of the current dialog
//   driver key enter|escape        press a key in the current dialog
// kind: prerequisites, progress, reboot, message. Exit code 1 on time-out.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DialogDriver.h"

namespace {

const wchar_t* KindName(driver::Kind kind) {
    switch (kind) {
    case driver::Kind::Prerequisites: return L"prerequisites";
    case driver::Kind::Progress: return L"progress";
    case driver::Kind::Reboot: return L"reboot";
    case driver::Kind::MessageBox: return L"message";
    default: return L"other";
    }
}

void PrintUtf8(const std::wstring& text) {
    std::string bytes(text.size() * 4 + 1, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr));
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring command = argv[1];
    if (command == L"wait") {
        const std::wstring wanted = argc > 2 ? argv[2] : L"any";
        const DWORD seconds = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : 30;
        const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ull;
        do {
            driver::Window window = driver::WaitForDialog(0, 200);
            if (window.hwnd != nullptr && (wanted == L"any" || wanted == KindName(window.kind))) {
                PrintUtf8(std::wstring(KindName(window.kind)) + L": " + window.caption + L"\n");
                for (const auto& text : driver::StaticTexts(window.hwnd)) PrintUtf8(L"  " + text + L"\n");
                if (window.kind == driver::Kind::Prerequisites) {
                    for (const auto& item : driver::ListItems(window.hwnd, 1000)) PrintUtf8(L"  * " + item + L"\n");
                }
                std::fflush(stdout);
                return 0;
            }
        } while (::GetTickCount64() < deadline);
        return 1;
    }
    driver::Window window = driver::WaitForDialog(0, 10000);
    if (window.hwnd == nullptr) return 1;
    if (command == L"press" && argc > 2) {
        driver::Click(window.hwnd, static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
        return 0;
    }
    if (command == L"key" && argc > 2) {
        driver::PressKey(window.hwnd, std::wstring(argv[2]) == L"escape" ? VK_ESCAPE : VK_RETURN);
        return 0;
    }
    return 2;
}
