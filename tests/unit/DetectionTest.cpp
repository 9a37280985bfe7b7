// Detection of the two prerequisites against the real registry of the prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegistrySandbox.h"
#include "platform/Seam.h"
#include "prerequisites/Detection.h"

namespace {

const std::wstring kNetKey = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const std::wstring kUserList = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kWowList = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kCode1 = L"{F0C3E5D1-1ADE-321E-8167-68EF0DE699A5}";
const std::wstring kCode2 = L"{196BB40D-1578-3D01-B289-BEFC77A11A1E}";

struct Location {
    HKEY root;
    const std::wstring* list;
    const std::wstring* code;
    const wchar_t* rootName;
};

// The six uninstall entries in the order the detection must probe them.
const Location kProbes[] = {
    {HKEY_CURRENT_USER, &kUserList, &kCode1, L"HKCU\\"},
    {HKEY_LOCAL_MACHINE, &kUserList, &kCode1, L"HKLM\\"},
    {HKEY_LOCAL_MACHINE, &kWowList, &kCode1, L"HKLM\\"},
    {HKEY_CURRENT_USER, &kUserList, &kCode2, L"HKCU\\"},
    {HKEY_LOCAL_MACHINE, &kUserList, &kCode2, L"HKLM\\"},
    {HKEY_LOCAL_MACHINE, &kWowList, &kCode2, L"HKLM\\"},
};

std::wstring EntryPath(const Location& where) { return *where.list + L"\\" + *where.code; }

std::vector<std::pair<HKEY, std::wstring>> TouchedKeys() {
    std::vector<std::pair<HKEY, std::wstring>> keys{{HKEY_LOCAL_MACHINE, kNetKey}};
    for (const auto& probe : kProbes) keys.emplace_back(probe.root, EntryPath(probe));
    return keys;
}

class DetectionTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Seam().openedKeys = &m_opened; }
    void TearDown() override { platform::Seam().openedKeys = nullptr; }

    RegistrySandbox m_sandbox{TouchedKeys()};
    std::vector<std::wstring> m_opened;
};

// ---- .NET Framework 4.6.2: the Release value ----

struct ReleaseCase {
    const char* name;
    bool createKey;
    DWORD type;
    std::vector<BYTE> data;  // empty with createKey and type REG_NONE: no value at all
    bool expected;
};

std::vector<BYTE> Dword(DWORD value) {
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

std::vector<BYTE> WideText(const wchar_t* text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + (wcslen(text) + 1) * sizeof(wchar_t));
}

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class ReleaseTest : public DetectionTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ReleaseTest, AnswersFromTheReleaseValue) {
    const ReleaseCase& c = GetParam();
    if (c.createKey) CreateTestKey(HKEY_LOCAL_MACHINE, kNetKey);
    if (c.type != REG_NONE) {
        SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", c.type, c.data.data(),
                     static_cast<DWORD>(c.data.size()));
    }
    EXPECT_EQ(c.expected, IsNetFramework462Installed());
    EXPECT_EQ(std::vector<std::wstring>{L"HKLM\\" + kNetKey}, m_opened);
}

const std::vector<BYTE> kQword394802 = {0x32, 0x06, 0x06, 0, 0, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Table, ReleaseTest,
    ::testing::Values(
        ReleaseCase{"KeyAbsent", false, REG_NONE, {}, false},
        ReleaseCase{"KeyWithoutValue", true, REG_NONE, {}, false},
        ReleaseCase{"Zero", true, REG_DWORD, Dword(0), false},
        ReleaseCase{"JustBelow", true, REG_DWORD, Dword(394801), false},
        ReleaseCase{"Exactly462", true, REG_DWORD, Dword(394802), true},
        ReleaseCase{"Later", true, REG_DWORD, Dword(394806), true},
        ReleaseCase{"Largest", true, REG_DWORD, Dword(0xFFFFFFFF), true},
        ReleaseCase{"TextValue", true, REG_SZ, WideText(L"394802"), false},
        ReleaseCase{"QwordValue", true, REG_QWORD, kQword394802, false},
        ReleaseCase{"TwoBytes", true, REG_BINARY, {0x32, 0x06}, false},
        ReleaseCase{"EmptyDword", true, REG_DWORD, {}, false},
        // Four bytes of another type are not a release number either.
        ReleaseCase{"FourBinaryBytes", true, REG_BINARY, Dword(394802), false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Visual C++ 2010 x86: the six uninstall probes ----

std::vector<std::wstring> ExpectedProbes(size_t count) {
    std::vector<std::wstring> probes;
    for (size_t i = 0; i < count; ++i) probes.push_back(kProbes[i].rootName + EntryPath(kProbes[i]));
    return probes;
}

class VcRedistTest : public DetectionTest, public ::testing::WithParamInterface<size_t> {};

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

TEST_P(VcRedistTest, EachLocationAloneIsFoundAndProbingStopsThere) {
    const size_t index = GetParam();
    CreateTestKey(kProbes[index].root, EntryPath(kProbes[index]));
    EXPECT_TRUE(IsVcRedist2010Installed());
    size_t probes = index + 1;
    // A 32-bit program on 64-bit Windows reads the machine's uninstall list in
    // the Wow6432Node view already: the Wow6432Node path names the same key,
    // so the probe before it finds the entry.
    const bool wowPath = kProbes[index].list == &kWowList;
    if (wowPath && RunsUnderWow64()) probes = index;
    EXPECT_EQ(ExpectedProbes(probes), m_opened);
}

INSTANTIATE_TEST_SUITE_P(Probes, VcRedistTest, ::testing::Range<size_t>(0, 6),
                         [](const auto& info) { return "Location" + std::to_string(info.param + 1); });

TEST_F(DetectionTest, NeitherCodeAnywhereMakesAllSixProbes) {
    EXPECT_FALSE(IsVcRedist2010Installed());
    EXPECT_EQ(ExpectedProbes(6), m_opened);
}

TEST_F(DetectionTest, EntryWithValuesCountsLikeAnEmptyOne) {
    const DWORD one = 1;
    SetTestValue(HKEY_LOCAL_MACHINE, EntryPath(kProbes[4]), L"Installed", REG_DWORD, &one, 4);
    EXPECT_TRUE(IsVcRedist2010Installed());
}

TEST_F(DetectionTest, UninstallKeyExistsJoinsParentAndCodeWithOneBackslash) {
    EXPECT_FALSE(UninstallKeyExists(HKEY_CURRENT_USER, kUserList.c_str(), kCode1.c_str()));
    CreateTestKey(HKEY_CURRENT_USER, kUserList + L"\\" + kCode1);
    EXPECT_TRUE(UninstallKeyExists(HKEY_CURRENT_USER, kUserList.c_str(), kCode1.c_str()));
    // A code of the same prefix is another key.
    EXPECT_FALSE(UninstallKeyExists(HKEY_CURRENT_USER, kUserList.c_str(),
                                    L"{F0C3E5D1-1ADE-321E-8167-68EF0DE699A}"));
}

TEST_F(DetectionTest, TheTwoAnswersAreIndependent) {
    const DWORD release = 394802;
    SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", REG_DWORD, &release, 4);
    EXPECT_TRUE(IsNetFramework462Installed());
    EXPECT_FALSE(IsVcRedist2010Installed());
    m_sandbox.Clear();
    CreateTestKey(HKEY_CURRENT_USER, EntryPath(kProbes[0]));
    EXPECT_FALSE(IsNetFramework462Installed());
    EXPECT_TRUE(IsVcRedist2010Installed());
}

#if !defined(_WIN64)
// A 32-bit program on 64-bit Windows sees only the 32-bit view of the machine
// keys: what exists only in the 64-bit view is not installed for it.
TEST_F(DetectionTest, KeysOnlyInThe64BitViewAreNotSeen) {
    if (!RunsUnderWow64()) GTEST_SKIP() << "32-bit Windows has a single registry view";
    const DWORD release = 394802;
    SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", REG_DWORD, &release, 4, KEY_WOW64_64KEY);
    CreateTestKey(HKEY_LOCAL_MACHINE, EntryPath(kProbes[1]), KEY_WOW64_64KEY);
    CreateTestKey(HKEY_LOCAL_MACHINE, EntryPath(kProbes[4]), KEY_WOW64_64KEY);
    EXPECT_FALSE(IsNetFramework462Installed());
    EXPECT_FALSE(IsVcRedist2010Installed());
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kNetKey.c_str(), KEY_WOW64_64KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, EntryPath(kProbes[1]).c_str(), KEY_WOW64_64KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, EntryPath(kProbes[4]).c_str(), KEY_WOW64_64KEY, 0);
}
#endif

}  // namespace
