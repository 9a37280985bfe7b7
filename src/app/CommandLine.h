#pragma once
#include <string>
#include <vector>

// What the command line asks for. Switches start with "/" or "-" and are
// matched without regard to case; one given twice counts once.
//   /quiet        no window and no message; the exit code and the log tell
//   /log <path>   the log goes to this file (appended) instead of %TEMP%
//   /?            the usage message
struct CommandLine {
    bool quiet = false;
    bool help = false;
    std::wstring logPath;  // empty: the default log file
    // The first argument that was not understood, or a /log without a path;
    // empty when the command line is valid.
    std::wstring problem;

    bool valid() const { return problem.empty(); }
};

CommandLine ParseCommandLine(const wchar_t* commandLine);

// The arguments after the program name, split the way the C runtime splits
// them: blanks separate, quotes group, backslashes escape only quotes.
std::vector<std::wstring> SplitArguments(const wchar_t* commandLine);
