#pragma once
#include <windows.h>
#include <commctrl.h>

class CDialog;

// One line of a message map: which message (or command, or notification) goes
// to which handler of the dialog class.
struct MessageMapEntry {
    enum class Kind { Message, Command, Notify };
    Kind kind;
    UINT message;  // Message: the window message
    UINT code;     // Command: notification code (BN_CLICKED); Notify: NMHDR code
    UINT id;       // Command and Notify: control id
    LRESULT (CDialog::*onMessage)(WPARAM, LPARAM);
    void (CDialog::*onCommand)();
    void (CDialog::*onNotify)(NMHDR*, LRESULT*);
};

// A class's own entries and the map of its base class, searched after them.
struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
    size_t count;
};

template <class T>
MessageMapEntry OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
    return {MessageMapEntry::Kind::Message, message, 0, 0,
            static_cast<LRESULT (CDialog::*)(WPARAM, LPARAM)>(handler), nullptr, nullptr};
}

template <class T>
MessageMapEntry OnCommand(UINT code, UINT id, void (T::*handler)()) {
    return {MessageMapEntry::Kind::Command, WM_COMMAND, code, id, nullptr,
            static_cast<void (CDialog::*)()>(handler), nullptr};
}

template <class T>
MessageMapEntry OnNotify(UINT code, UINT id, void (T::*handler)(NMHDR*, LRESULT*)) {
    return {MessageMapEntry::Kind::Notify, WM_NOTIFY, code, id, nullptr, nullptr,
            static_cast<void (CDialog::*)(NMHDR*, LRESULT*)>(handler)};
}

template <size_t N>
constexpr MessageMap MakeMessageMap(const MessageMap* base, const MessageMapEntry (&entries)[N]) {
    return {base, entries, N};
}
