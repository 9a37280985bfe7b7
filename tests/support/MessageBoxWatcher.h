#pragma once
// Answers the message boxes that this process shows while a test runs, the
// way a user would: from a thread of its own, it waits for each box, notes its
// caption and texts, and presses OK. Any thread of the process may show the
// boxes (the worker thread, or the test thread itself inside a modal call).
// Header only.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.h"

class MessageBoxWatcher {
public:
    struct Box {
        std::wstring caption;
        std::vector<std::wstring> texts;  // the static texts: the message among them
    };

    MessageBoxWatcher()
        : m_stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_started(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_thread([this] { Run(); }) {
        // The watch has begun when the test goes on, and no thread of the test
        // starts while this one does: two threads of a 32-bit Wine process
        // that start at the same time can crash it under QEMU.
        ::WaitForSingleObject(m_started, 10000);
    }
    ~MessageBoxWatcher() { Stop(); }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Ends the watch and gives every box seen, in order. Call it only once the
    // calls that show boxes have returned: each of them waited for its box to
    // be answered, so none is left open.
    const std::vector<Box>& Stop() {
        if (m_thread.joinable()) {
            ::SetEvent(m_stop);
            m_thread.join();
            ::CloseHandle(m_stop);
            ::CloseHandle(m_started);
            m_stop = nullptr;
            m_started = nullptr;
        }
        return m_boxes;
    }

private:
    void Run() {
        ::SetEvent(m_started);
        while (::WaitForSingleObject(m_stop, 0) == WAIT_TIMEOUT) {
            const driver::Window box =
                driver::WaitForKind(::GetCurrentProcessId(), driver::Kind::MessageBox, 100);
            if (box.hwnd == nullptr) continue;
            m_boxes.push_back({box.caption, driver::StaticTexts(box.hwnd)});
            driver::Click(box.hwnd, IDOK);
            driver::WaitUntilGone(box.hwnd, 10000);
        }
    }

    HANDLE m_stop;
    HANDLE m_started;
    std::vector<Box> m_boxes;
    std::thread m_thread;
};
