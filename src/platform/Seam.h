#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace platform {

// The one place where tests change what the program sees of Windows, and only
// for what Wine cannot produce. The shipped program never writes to it, so
// every field keeps its default: the real answer.
struct TestSeam {
    enum class Membership { Real, Member, NotMember };
    Membership administrators = Membership::Real;
    bool refuseThreadCreation = false;
    bool refuseRegistryWrites = false;
    // When set, a restart request goes here instead of to Windows; its answer
    // stands for whether Windows accepted the request.
    bool (*restartRequested)(UINT flags, DWORD reason) = nullptr;
    // When set, receives every registry key opened or created, in order.
    std::vector<std::wstring>* openedKeys = nullptr;
};

TestSeam& Seam();

}  // namespace platform
