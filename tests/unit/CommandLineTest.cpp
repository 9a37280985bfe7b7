// The command line: how it is split into arguments and which switches it holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct SplitRow {
    const char* name;
    const wchar_t* commandLine;
    std::vector<std::wstring> arguments;
};

const SplitRow kSplitRows[] = {
    {"ProgramOnly", L"\"C:\\My Dist\\Setup.exe\"", {}},
    {"UnquotedProgram", L"C:\\Dist\\Setup.exe /quiet", {L"/quiet"}},
    {"QuotedProgramWithBlanks", L"\"C:\\My Dist\\Setup.exe\" /quiet  /log x.log", {L"/quiet", L"/log", L"x.log"}},
    {"QuotedArgumentKeepsBlanks", L"Setup.exe /log \"C:\\Log Files\\a b.log\"", {L"/log", L"C:\\Log Files\\a b.log"}},
    {"BackslashesBeforeAQuoteEscape", L"Setup.exe \"a\\\\\" b \\\"c", {L"a\\", L"b", L"\"c"}},
    {"BackslashesElsewhereStay", L"Setup.exe C:\\path\\ \\\\server\\share", {L"C:\\path\\", L"\\\\server\\share"}},
    {"TwoQuotesInsideAQuoteAreOne", L"Setup.exe \"say \"\"hi\"\"\"", {L"say \"hi\""}},
    {"EmptyQuotedArgument", L"Setup.exe \"\" /quiet", {L"", L"/quiet"}},
    {"TabsSeparate", L"Setup.exe\t/quiet\t/?", {L"/quiet", L"/?"}},
};

class SplitArgumentsTest : public testing::TestWithParam<SplitRow> {};

TEST_P(SplitArgumentsTest, SplitsAsTheRuntimeDoes) {
    EXPECT_EQ(GetParam().arguments, SplitArguments(GetParam().commandLine));
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitArgumentsTest, testing::ValuesIn(kSplitRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct ParseRow {
    const char* name;
    const wchar_t* commandLine;
    bool quiet;
    bool help;
    std::wstring logPath;
    std::wstring problem;
};

const ParseRow kParseRows[] = {
    {"Nothing", L"Setup.exe", false, false, L"", L""},
    {"Quiet", L"Setup.exe /quiet", true, false, L"", L""},
    {"AnyCaseEitherPrefix", L"Setup.exe -QUIET", true, false, L"", L""},
    {"TwiceCountsOnce", L"Setup.exe /quiet /Quiet -quiet", true, false, L"", L""},
    {"Help", L"Setup.exe /?", false, true, L"", L""},
    {"LogWithPath", L"Setup.exe /LOG \"C:\\a b.log\" /quiet", true, false, L"C:\\a b.log", L""},
    {"FirstLogHolds", L"Setup.exe /log a.log /log b.log", false, false, L"a.log", L""},
    {"LogWithoutPath", L"Setup.exe /log", false, false, L"", L"/log"},
    {"LogFollowedByASwitch", L"Setup.exe /log /quiet", true, false, L"", L"/log"},
    {"LogWithEmptyPath", L"Setup.exe /log \"\"", false, false, L"", L"/log"},
    {"UnknownSwitch", L"Setup.exe /quiet /passive", true, false, L"", L"/passive"},
    {"BareWord", L"Setup.exe install", false, false, L"", L"install"},
    {"SwitchWithoutName", L"Setup.exe /", false, false, L"", L"/"},
    {"FirstProblemIsNamed", L"Setup.exe /x /y", false, false, L"", L"/x"},
    {"PrefixOfASwitch", L"Setup.exe /qui", false, false, L"", L"/qui"},
};

class ParseCommandLineTest : public testing::TestWithParam<ParseRow> {};

TEST_P(ParseCommandLineTest, FindsTheSwitchesOrTheFirstProblem) {
    const ParseRow& row = GetParam();
    const CommandLine parsed = ParseCommandLine(row.commandLine);
    EXPECT_EQ(row.quiet, parsed.quiet);
    EXPECT_EQ(row.help, parsed.help);
    EXPECT_EQ(row.logPath, parsed.logPath);
    EXPECT_EQ(row.problem, parsed.problem);
    EXPECT_EQ(row.problem.empty(), parsed.valid());
}

INSTANTIATE_TEST_SUITE_P(Rows, ParseCommandLineTest, testing::ValuesIn(kParseRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
