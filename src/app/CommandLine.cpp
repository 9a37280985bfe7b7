#include "app/CommandLine.h"

#include <windows.h>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsSwitch(const std::wstring& argument, const wchar_t* name) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return false;
    return ::CompareStringOrdinal(argument.c_str() + 1, static_cast<int>(argument.size() - 1), name,
                                  -1, TRUE) == CSTR_EQUAL;
}

bool LooksLikeSwitch(const std::wstring& argument) {
    return !argument.empty() && (argument[0] == L'/' || argument[0] == L'-');
}

}  // namespace

std::vector<std::wstring> SplitArguments(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    if (commandLine == nullptr) return arguments;
    const wchar_t* at = commandLine;
    // The program name: quoted, or up to the first blank; no escapes in it.
    if (*at == L'"') {
        ++at;
        while (*at != L'\0' && *at != L'"') ++at;
        if (*at == L'"') ++at;
    } else {
        while (*at != L'\0' && !IsBlank(*at)) ++at;
    }
    for (;;) {
        while (IsBlank(*at)) ++at;
        if (*at == L'\0') break;
        std::wstring argument;
        bool quoted = false;
        while (*at != L'\0' && (quoted || !IsBlank(*at))) {
            if (*at == L'\\') {
                size_t backslashes = 0;
                while (*at == L'\\') {
                    ++backslashes;
                    ++at;
                }
                if (*at == L'"') {
                    argument.append(backslashes / 2, L'\\');
                    if (backslashes % 2 == 1) {
                        argument += L'"';
                        ++at;
                    }
                } else {
                    argument.append(backslashes, L'\\');
                }
            } else if (*at == L'"') {
                if (quoted && at[1] == L'"') {
                    argument += L'"';
                    at += 2;
                } else {
                    quoted = !quoted;
                    ++at;
                }
            } else {
                argument += *at++;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

CommandLine ParseCommandLine(const wchar_t* commandLine) {
    CommandLine result;
    const std::vector<std::wstring> arguments = SplitArguments(commandLine);
    // Every argument is read, so that /quiet holds even beside a mistake: an
    // unattended run never stops at a message box.
    auto problem = [&result](const std::wstring& argument) {
        if (result.problem.empty()) result.problem = argument.empty() ? L"\"\"" : argument;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (IsSwitch(argument, L"quiet")) {
            result.quiet = true;
        } else if (IsSwitch(argument, L"?")) {
            result.help = true;
        } else if (IsSwitch(argument, L"log")) {
            // A switch in the place of the path means the path was left out.
            if (i + 1 >= arguments.size() || arguments[i + 1].empty() ||
                LooksLikeSwitch(arguments[i + 1])) {
                problem(argument);
            } else if (result.logPath.empty()) {
                result.logPath = arguments[++i];
            } else {
                ++i;  // the first /log holds
            }
        } else {
            problem(argument);
        }
    }
    return result;
}
