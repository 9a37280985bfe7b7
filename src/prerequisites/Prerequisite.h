#pragma once
#include <string>

#include "platform/Log.h"

// One component the product needs before its own installer can run.
struct Prerequisite {
    using DetectFunction = bool (*)(const platform::Log&);

    Prerequisite(const wchar_t* displayName, const wchar_t* installerPath,
                 const wchar_t* arguments, DetectFunction detect)
        : displayName(displayName), installerPath(installerPath), arguments(arguments),
          detect(detect) {}

    std::wstring displayName;    // shown as is in every language
    std::wstring installerPath;  // below the Packages folder, starts with a backslash
    std::wstring arguments;      // silent switches, start with a blank
    DetectFunction detect;       // true when the component is already installed; logs each probe
    bool installed = false;      // the answer of detect, set once per run
};
