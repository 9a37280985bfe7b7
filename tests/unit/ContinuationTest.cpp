// Continuation across a restart: the RunOnce value that starts set-up again at
// the next logon, the server's InstallerPath marker, and the restart request.
// Everything in Wine's real registry; the user's RunOnce key is copied away
// before each test and put back after it.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ChildRun.h"
#include "KeyBackup.h"
#include "ModuleNameOverride.h"
#include "RegistrySandbox.h"
#include "StagedFiles.h"
#include "app/RestartContinuation.h"
#include "platform/Seam.h"

namespace {

const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"Norvalis setup";
const wchar_t kServerKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvalis Server";
const wchar_t kServerValue[] = L"InstallerPath";
const wchar_t kEarlierPath[] = L"C:\\Earlier Run\\Setup.exe";

void SetString(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text) {
    SetTestValue(root, path, name, REG_SZ, text.c_str(),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::optional<std::wstring> ReadString(HKEY root, const wchar_t* path, const wchar_t* name,
                                       DWORD* bytes = nullptr) {
    std::wstring value;
    if (!ReadTestString(root, path, name, value, bytes)) return std::nullopt;
    return value;
}

bool ValueExists(HKEY root, const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const bool exists = ::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return exists;
}

std::optional<DWORD> ValueCount(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD values = 0;
    const LONG result = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           &values, nullptr, nullptr, nullptr, nullptr);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    return values;
}

// Puts the test seam back as it was, whatever the test changed.
class SeamGuard {
public:
    SeamGuard() : m_saved(platform::Seam()) {}
    ~SeamGuard() { platform::Seam() = m_saved; }

private:
    platform::TestSeam m_saved;
};

// ---------------------------------------------------------------------------
// RegisterRunOnce

enum class RunOnceBefore { KeyMissing, EarlierValue, KeyWithoutValue };
enum class RunOnceAfter { QuotedProgramPath, EarlierValue, NoValue };

struct RunOnceRow {
    const char* name;
    RunOnceBefore before;
    bool refuseWrites;
    bool programPathTooLong;
    bool result = false;
    RunOnceAfter after;
};

const RunOnceRow kRunOnceRows[] = {
    {"CreatesTheMissingKey", RunOnceBefore::KeyMissing, false, false, true, RunOnceAfter::QuotedProgramPath},
    {"OverwritesTheValueOfAnEarlierRun", RunOnceBefore::EarlierValue, false, false, true,
     RunOnceAfter::QuotedProgramPath},
    {"WritesIntoTheKeyWithoutTheValue", RunOnceBefore::KeyWithoutValue, false, false, true,
     RunOnceAfter::QuotedProgramPath},
    {"RefusedWriteKeepsTheEarlierValue", RunOnceBefore::EarlierValue, true, false, false,
     RunOnceAfter::EarlierValue},
    {"RefusedWriteStoresNothing", RunOnceBefore::KeyWithoutValue, true, false, false, RunOnceAfter::NoValue},
    {"ProgramPathTooLongKeepsTheEarlierValue", RunOnceBefore::EarlierValue, false, true, false,
     RunOnceAfter::EarlierValue},
    {"ProgramPathTooLongStoresNothing", RunOnceBefore::KeyMissing, false, true, false, RunOnceAfter::NoValue},
};

class RegisterRunOnceTest : public testing::TestWithParam<RunOnceRow> {
protected:
    KeyBackup m_runOnce{HKEY_CURRENT_USER, kRunOnceKey};
    SeamGuard m_seam;
};

TEST_P(RegisterRunOnceTest, StoresTheQuotedProgramPathOrNothing) {
    const RunOnceRow& row = GetParam();
    KeyBackup::DeleteTree(HKEY_CURRENT_USER, kRunOnceKey);
    // Another program's entry, which must stay as it is.
    const wchar_t kOther[] = L"Other program";
    if (row.before != RunOnceBefore::KeyMissing) {
        CreateTestKey(HKEY_CURRENT_USER, kRunOnceKey);
        SetString(HKEY_CURRENT_USER, kRunOnceKey, kOther, L"other.exe /run");
    }
    if (row.before == RunOnceBefore::EarlierValue) {
        SetString(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue, kEarlierPath);
    }
    ASSERT_EQ(row.before != RunOnceBefore::KeyMissing, TestKeyExists(HKEY_CURRENT_USER, kRunOnceKey));

    platform::Seam().refuseRegistryWrites = row.refuseWrites;
    bool result = false;
    if (row.programPathTooLong) {
        ModuleNameOverride name(ProgramNameOfLength(staged::OwnFolder(), 300));
        ASSERT_TRUE(name.Applied());
        result = RegisterRunOnce();
    } else {
        result = RegisterRunOnce();
    }
    platform::Seam().refuseRegistryWrites = false;

    EXPECT_EQ(row.result, result);
    DWORD bytes = 0;
    const auto value = ReadString(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue, &bytes);
    switch (row.after) {
    case RunOnceAfter::QuotedProgramPath: {
        const std::wstring expected = L"\"" + staged::OwnPath() + L"\"";
        EXPECT_EQ(std::optional<std::wstring>(expected), value);
        EXPECT_EQ((expected.size() + 1) * 2, bytes) << "the size is not (characters + 1) x 2";
        break;
    }
    case RunOnceAfter::EarlierValue:
        EXPECT_EQ(std::optional<std::wstring>(kEarlierPath), value);
        break;
    case RunOnceAfter::NoValue:
        EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue));
        break;
    }
    if (row.result) {
        EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, kRunOnceKey));
    }
    if (row.before != RunOnceBefore::KeyMissing) {
        EXPECT_EQ(std::optional<std::wstring>(L"other.exe /run"),
                  ReadString(HKEY_CURRENT_USER, kRunOnceKey, kOther));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RegisterRunOnceTest, testing::ValuesIn(kRunOnceRows),
                         [](const testing::TestParamInfo<RunOnceRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// MarkServerInstallerPath

enum class ServerBefore { KeyAbsent, KeyWithOtherValues };
enum class ServerAfter { BareProgramPath, EarlierValue, NoValue, NoKey };

struct ServerRow {
    const char* name;
    ServerBefore before;
    bool refuseWrites;
    bool programPathTooLong;
    ServerAfter after;
    DWORD values;  // how many values the key holds afterwards
};

const ServerRow kServerRows[] = {
    {"CreatesTheKeyWithItsSingleValue", ServerBefore::KeyAbsent, false, false, ServerAfter::BareProgramPath, 1},
    {"SetsOnlyInstallerPathBesideOtherValues", ServerBefore::KeyWithOtherValues, false, false,
     ServerAfter::BareProgramPath, 3},
    {"RefusedWriteStoresNoValue", ServerBefore::KeyAbsent, true, false, ServerAfter::NoValue, 0},
    {"ProgramPathTooLongCreatesNothing", ServerBefore::KeyAbsent, false, true, ServerAfter::NoKey, 0},
    {"ProgramPathTooLongKeepsTheEarlierValue", ServerBefore::KeyWithOtherValues, false, true,
     ServerAfter::EarlierValue, 3},
};

class MarkServerInstallerPathTest : public testing::TestWithParam<ServerRow> {
protected:
    RegistrySandbox m_sandbox{{{HKEY_LOCAL_MACHINE, kServerKey}}};
    SeamGuard m_seam;
};

TEST_P(MarkServerInstallerPathTest, StoresTheBareProgramPathAndLeavesOtherValues) {
    const ServerRow& row = GetParam();
    if (row.before == ServerBefore::KeyWithOtherValues) {
        SetString(HKEY_LOCAL_MACHINE, kServerKey, L"DisplayName", L"Norvalis Server");
        SetString(HKEY_LOCAL_MACHINE, kServerKey, L"UninstallString", L"C:\\Norvalis\\uninstall.exe");
        SetString(HKEY_LOCAL_MACHINE, kServerKey, kServerValue, kEarlierPath);
    }
    ASSERT_EQ(row.before == ServerBefore::KeyWithOtherValues, TestKeyExists(HKEY_LOCAL_MACHINE, kServerKey));

    platform::Seam().refuseRegistryWrites = row.refuseWrites;
    if (row.programPathTooLong) {
        ModuleNameOverride name(ProgramNameOfLength(staged::OwnFolder(), 300));
        ASSERT_TRUE(name.Applied());
        MarkServerInstallerPath();
    } else {
        MarkServerInstallerPath();
    }
    platform::Seam().refuseRegistryWrites = false;

    DWORD bytes = 0;
    const auto value = ReadString(HKEY_LOCAL_MACHINE, kServerKey, kServerValue, &bytes);
    switch (row.after) {
    case ServerAfter::BareProgramPath:
        EXPECT_EQ(std::optional<std::wstring>(staged::OwnPath()), value);
        EXPECT_EQ((staged::OwnPath().size() + 1) * 2, bytes);
        break;
    case ServerAfter::EarlierValue:
        EXPECT_EQ(std::optional<std::wstring>(kEarlierPath), value);
        break;
    case ServerAfter::NoValue:
        EXPECT_TRUE(TestKeyExists(HKEY_LOCAL_MACHINE, kServerKey));
        EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kServerKey, kServerValue));
        break;
    case ServerAfter::NoKey:
        EXPECT_FALSE(TestKeyExists(HKEY_LOCAL_MACHINE, kServerKey)) << "an empty server entry was made";
        break;
    }
    if (row.after != ServerAfter::NoKey) {
        EXPECT_EQ(std::optional<DWORD>(row.values), ValueCount(HKEY_LOCAL_MACHINE, kServerKey));
    }
    if (row.before == ServerBefore::KeyWithOtherValues) {
        EXPECT_EQ(std::optional<std::wstring>(L"Norvalis Server"),
                  ReadString(HKEY_LOCAL_MACHINE, kServerKey, L"DisplayName"));
        EXPECT_EQ(std::optional<std::wstring>(L"C:\\Norvalis\\uninstall.exe"),
                  ReadString(HKEY_LOCAL_MACHINE, kServerKey, L"UninstallString"));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MarkServerInstallerPathTest, testing::ValuesIn(kServerRows),
                         [](const testing::TestParamInfo<ServerRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Both entries seen from the 64-bit view of the registry. The shipped program
// is a 32-bit one: on 64-bit Windows its machine keys live below Wow6432Node,
// and that is where the server's installation reads the marker. A 64-bit build
// of the same sources writes to the machine's own uninstall list instead. The
// user's RunOnce key is one key in both views.

const wchar_t kUninstallList[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kWowUninstallList[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kWowRunOnceKey[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

#if !defined(_WIN64)
bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}
#endif

// A REG_SZ value read in the 64-bit view, or nothing.
std::optional<std::wstring> Read64(HKEY root, const std::wstring& path, const wchar_t* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = REG_NONE;
    const LONG result = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    return std::wstring(data);
}

// Removes a machine key in the 64-bit view, before and after the test, so a
// marker left by another run cannot pass for this one's.
class Sandbox64 {
public:
    explicit Sandbox64(std::wstring path) : m_path(std::move(path)) { Clear(); }
    ~Sandbox64() { Clear(); }

private:
    void Clear() const {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) ==
            ERROR_SUCCESS) {
            ::RegDeleteTreeW(key, nullptr);
            ::RegCloseKey(key);
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), KEY_WOW64_64KEY, 0);
        }
    }
    std::wstring m_path;
};

TEST(RegistryViewTest, TheMarkerLandsInTheUninstallListOfTheProgramsOwnKind) {
    const std::wstring own = std::wstring(kUninstallList) + L"\\Norvalis Server";
    const std::wstring wow = std::wstring(kWowUninstallList) + L"\\Norvalis Server";
    Sandbox64 ownKey(own);
    Sandbox64 wowKey(wow);
    RegistrySandbox server({{HKEY_LOCAL_MACHINE, kServerKey}});

    MarkServerInstallerPath();

    const std::optional<std::wstring> program(staged::OwnPath());
#if defined(_WIN64)
    EXPECT_EQ(program, Read64(HKEY_LOCAL_MACHINE, own, kServerValue));
    EXPECT_FALSE(TestKeyExists(HKEY_LOCAL_MACHINE, wow, KEY_WOW64_64KEY)) << "a 64-bit program wrote below Wow6432Node";
#else
    if (!RunsUnderWow64()) GTEST_SKIP() << "32-bit Windows has a single registry view";
    EXPECT_EQ(program, Read64(HKEY_LOCAL_MACHINE, wow, kServerValue)) << "the marker is not below Wow6432Node";
    EXPECT_FALSE(TestKeyExists(HKEY_LOCAL_MACHINE, own, KEY_WOW64_64KEY))
        << "the marker is in the 64-bit uninstall list, where the server's installation does not look";
#endif
    // The program itself finds it where it wrote it.
    EXPECT_EQ(program, ReadString(HKEY_LOCAL_MACHINE, kServerKey, kServerValue));
}

TEST(RegistryViewTest, RunOnceIsTheSameKeyInBothViews) {
    KeyBackup runOnce(HKEY_CURRENT_USER, kRunOnceKey);
    ASSERT_TRUE(RegisterRunOnce());
    const std::optional<std::wstring> command(L"\"" + staged::OwnPath() + L"\"");
    EXPECT_EQ(command, Read64(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue));
    EXPECT_EQ(command, ReadString(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue));
    EXPECT_FALSE(Read64(HKEY_CURRENT_USER, kWowRunOnceKey, kRunOnceValue).has_value());
}

// ---------------------------------------------------------------------------
// Both writers for a set-up program in a folder whose name has blanks: a copy
// of this test program there writes them.

const wchar_t kChildVariable[] = L"NORVALIS_CONTINUATION_CHILD";

TEST(ProgramFolderWithBlanksTest, RunOnceHoldsTheQuotedPathAndTheMarkerTheBarePath) {
    KeyBackup runOnce(HKEY_CURRENT_USER, kRunOnceKey);
    RegistrySandbox server({{HKEY_LOCAL_MACHINE, kServerKey}});
    staged::Stage stage;
    const std::wstring folder = staged::OwnFolder() + L"\\Norvalis Setup With Blanks";
    const std::wstring program = folder + L"\\Setup.exe";
    const std::wstring result = folder + L"\\child result.txt";
    ASSERT_TRUE(stage.Copy(staged::OwnPath(), program));
    stage.Remember(result);
    SetString(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue, kEarlierPath);

    const ChildRun child = RunChild(program, L"ContinuationChildTest.WritesBothEntries", kChildVariable, result);
    ASSERT_TRUE(child.started);
    ASSERT_TRUE(child.ended);
    EXPECT_EQ(0u, child.exitCode);
    EXPECT_EQ(std::optional<std::wstring>(L"registered"), staged::ReadText(result))
        << "the child did not register";

    const auto command = ReadString(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(L"\"" + program + L"\"", *command);
    // Read the way Windows reads it at logon: one program, no arguments.
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(command->c_str(), &count);
    ASSERT_NE(nullptr, arguments);
    EXPECT_EQ(1, count);
    EXPECT_EQ(program, std::wstring(arguments[0]));
    ::LocalFree(arguments);

    EXPECT_EQ(std::optional<std::wstring>(program), ReadString(HKEY_LOCAL_MACHINE, kServerKey, kServerValue));
}

// Runs only as the child of ProgramFolderWithBlanksTest.
TEST(ContinuationChildTest, WritesBothEntries) {
    const std::wstring result = ChildInstruction(kChildVariable);
    if (result.empty()) GTEST_SKIP() << "runs only as the child of ProgramFolderWithBlanksTest";
    const bool registered = RegisterRunOnce();
    MarkServerInstallerPath();
    staged::WriteText(result, registered ? L"registered" : L"not registered");
}

// ---------------------------------------------------------------------------
// RestartSystem

std::vector<std::pair<UINT, DWORD>> restartRequests;

bool acceptRestart = true;
bool NoteRestart(UINT flags, DWORD reason) {
    restartRequests.push_back({flags, reason});
    return acceptRestart;
}

// The shutdown privilege's state in this process's token, or nothing when the
// token does not list it.
std::optional<bool> ShutdownPrivilegeEnabled() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
    LUID shutdown{};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    std::optional<bool> enabled;
    if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown) && size > 0 &&
        ::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
            if (entry.Luid.LowPart == shutdown.LowPart && entry.Luid.HighPart == shutdown.HighPart) {
                enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            }
        }
    }
    ::CloseHandle(token);
    return enabled;
}

void SetShutdownPrivilege(bool enabled) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    ::CloseHandle(token);
}

TEST(RestartSystemTest, EnablesTheShutdownPrivilegeAndAsksForAPlannedRestart) {
    SeamGuard seam;
    const auto initially = ShutdownPrivilegeEnabled();
    ASSERT_TRUE(initially.has_value()) << "the token does not list SeShutdownPrivilege";
    // Start from a disabled privilege, so that its state afterwards shows
    // what RestartSystem did.
    SetShutdownPrivilege(false);
    ASSERT_EQ(std::optional<bool>(false), ShutdownPrivilegeEnabled());

    restartRequests.clear();
    platform::Seam().restartRequested = NoteRestart;
    // Never a real restart: it would end the Wine session of every test.
    ASSERT_NE(nullptr, platform::Seam().restartRequested);
    EXPECT_TRUE(RestartSystem()) << "the request was accepted";

    ASSERT_EQ(1u, restartRequests.size());
    EXPECT_EQ(0x2u, restartRequests[0].first) << "not EWX_REBOOT alone";
    // SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION
    EXPECT_EQ(0x80040002u, restartRequests[0].second);
    EXPECT_EQ(std::optional<bool>(true), ShutdownPrivilegeEnabled());

    // A refusal reaches the caller, which then reports the restart as still due.
    acceptRestart = false;
    EXPECT_FALSE(RestartSystem());
    acceptRestart = true;
    EXPECT_EQ(2u, restartRequests.size());
    SetShutdownPrivilege(*initially);
}

}  // namespace
