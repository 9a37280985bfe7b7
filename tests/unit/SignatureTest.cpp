// The signature check of installer files, against Wine's real WinVerifyTrust.
// The build signs the stand-in installer with self-signed test certificates
// (tests/CMakeLists.txt); each case here starts from one of those files and
// damages or replaces it at test time, then asserts the verdict, the code
// WinVerifyTrust gave and the signer read.
//
// What Wine's WinVerifyTrust does that Windows does not: it judges the
// certificate chain only when it can read the certificate's signature hash as
// 20 bytes, so a chain whose certificate is signed with SHA-256 counts as
// trusted (code 0) even with an unknown root. Windows answers
// CERT_E_UNTRUSTEDROOT for those. The stand-ins signed by SHA-1 certificates
// get the Windows answer under Wine too, and so exercise the path of an
// intact signature whose chain this machine cannot trust.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "HandleCount.h"
#include "InstallerFixtures.h"
#include "StagedFiles.h"
#include "platform/InstallerSignature.h"

namespace platform {

void PrintTo(SignatureVerdict verdict, std::ostream* out) {
    const std::wstring name = VerdictName(verdict);
    *out << std::string(name.begin(), name.end());
}

void PrintTo(TrustResult result, std::ostream* out) {
    static const char* const names[] = {"Verified", "ChainNotTrusted", "NoSignature", "Failed"};
    *out << names[static_cast<int>(result)];
}

}  // namespace platform

namespace {

using platform::SignatureVerdict;
using platform::TrustResult;

std::string Hex(LONG code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

std::optional<std::string> ReadBytes(const std::wstring& path) {
    HANDLE file = ::CreateFileW(staged::Unlimited(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(staged::Unlimited(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

// What the case puts at the installer's place, made from a built stand-in.
enum class Fixture {
    Copy,                // the built file as it is
    CodeByteChanged,     // one byte in the middle of the code section
    CutInTheMiddle,      // the first half of the file
    CutBeforeSignature,  // everything up to where the signature begins
    SignatureByteChanged,  // one byte of the signer's RSA signature value
    Empty,               // a file of zero bytes
    Folder,              // a folder of the installer's name
    Nothing,             // no file at all
};

struct Case {
    const char* name;
    const wchar_t* source;  // a stand-in in the test program's folder
    Fixture fixture;
    LONG code;  // what Wine's WinVerifyTrust answers
    SignatureVerdict verdict;
    const wchar_t* signer;
    bool runs;
};

const wchar_t kSigned[] = L"StandInInstaller.exe";
const wchar_t kSignedSha1Cert[] = L"StandInInstallerSha1Cert.exe";
const wchar_t kUnsigned[] = L"StandInInstallerUnsigned.exe";
const wchar_t kForeign[] = L"StandInInstallerForeign.exe";
const wchar_t kForeignSha1Cert[] = L"StandInInstallerForeignSha1Cert.exe";
const wchar_t kCommonNameOnly[] = L"StandInInstallerCommonNameOnly.exe";     // CN=Microsoft Corporation
const wchar_t kOtherOrganisation[] = L"StandInInstallerOtherOrganisation.exe";  // O=Contoso, CN=Microsoft
const wchar_t kMicrosoft[] = L"Microsoft Corporation";
const wchar_t kContoso[] = L"Contoso Test Ltd";

const Case kCases[] = {
    // Intact and signed by the publisher: runs. Code 0 is Wine's answer for
    // a SHA-256 certificate (see above); Windows gives CERT_E_UNTRUSTEDROOT.
    {"SignedAndIntact", kSigned, Fixture::Copy, ERROR_SUCCESS, SignatureVerdict::Trusted, kMicrosoft, true},
    {"SignedAndIntactRootNotTrusted", kSignedSha1Cert, Fixture::Copy, CERT_E_UNTRUSTEDROOT,
     SignatureVerdict::UntrustedChain, kMicrosoft, true},
    {"Unsigned", kUnsigned, Fixture::Copy, TRUST_E_NOSIGNATURE, SignatureVerdict::Unsigned, L"", false},
    // The digest is compared before the chain is judged: a changed byte is
    // caught whether or not the chain could be trusted.
    {"CodeByteChanged", kSigned, Fixture::CodeByteChanged, TRUST_E_BAD_DIGEST, SignatureVerdict::Corrupted, L"",
     false},
    {"CodeByteChangedRootNotTrusted", kSignedSha1Cert, Fixture::CodeByteChanged, TRUST_E_BAD_DIGEST,
     SignatureVerdict::Corrupted, L"", false},
    {"SignatureByteChanged", kSigned, Fixture::SignatureByteChanged, TRUST_E_CERT_SIGNATURE,
     SignatureVerdict::Corrupted, L"", false},
    {"CutInTheMiddle", kSigned, Fixture::CutInTheMiddle, TRUST_E_NOSIGNATURE, SignatureVerdict::Unsigned, L"",
     false},
    {"CutBeforeSignature", kSigned, Fixture::CutBeforeSignature, TRUST_E_NOSIGNATURE, SignatureVerdict::Unsigned,
     L"", false},
    {"SignedByAnotherOrganisation", kForeign, Fixture::Copy, ERROR_SUCCESS, SignatureVerdict::Foreign, kContoso,
     false},
    {"SignedByAnotherOrganisationRootNotTrusted", kForeignSha1Cert, Fixture::Copy, CERT_E_UNTRUSTEDROOT,
     SignatureVerdict::Foreign, kContoso, false},
    // The organisation names the signer; the common name only where there is none.
    {"SignedWithCommonNameOnly", kCommonNameOnly, Fixture::Copy, ERROR_SUCCESS, SignatureVerdict::Trusted,
     kMicrosoft, true},
    {"OtherOrganisationWithMicrosoftsCommonName", kOtherOrganisation, Fixture::Copy, ERROR_SUCCESS,
     SignatureVerdict::Foreign, kContoso, false},
    {"EmptyFile", kSigned, Fixture::Empty, TRUST_E_SUBJECT_FORM_UNKNOWN, SignatureVerdict::Unsigned, L"", false},
    {"FolderInPlaceOfTheInstaller", kSigned, Fixture::Folder, ERROR_ACCESS_DENIED, SignatureVerdict::Corrupted,
     L"", false},
    {"NoFile", kSigned, Fixture::Nothing, ERROR_FILE_NOT_FOUND, SignatureVerdict::Corrupted, L"", false},
};

void PrintTo(const Case& value, std::ostream* out) { *out << value.name; }

std::optional<installer_fixtures::Spoiling> SpoilingOf(Fixture fixture) {
    using installer_fixtures::Spoiling;
    switch (fixture) {
    case Fixture::CodeByteChanged: return Spoiling::CodeByteChanged;
    case Fixture::CutInTheMiddle: return Spoiling::CutInTheMiddle;
    case Fixture::CutBeforeSignature: return Spoiling::CutBeforeSignature;
    case Fixture::SignatureByteChanged: return Spoiling::SignatureByteChanged;
    case Fixture::Empty: return Spoiling::Emptied;
    default: return std::nullopt;
    }
}

// Puts the case's fixture at `path`; false with a reason when it cannot.
testing::AssertionResult Make(staged::Stage& stage, const Case& row, const std::wstring& path) {
    if (!stage.Folder(staged::FolderOf(path))) return testing::AssertionFailure() << "no folder for the fixture";
    if (row.fixture == Fixture::Nothing) return testing::AssertionSuccess();
    if (row.fixture == Fixture::Folder) {
        return stage.Folder(path) ? testing::AssertionSuccess() : testing::AssertionFailure() << "no folder";
    }
    const auto built = ReadBytes(staged::OwnFolder() + L"\\" + row.source);
    if (!built) return testing::AssertionFailure() << "the build made no " << testing::PrintToString(row.source);
    std::string bytes = *built;
    if (const auto spoiling = SpoilingOf(row.fixture)) {
        const std::string why = installer_fixtures::Spoil(bytes, *spoiling);
        if (!why.empty()) return testing::AssertionFailure() << testing::PrintToString(row.source) << ": " << why;
    }
    stage.Remember(path);
    return WriteBytes(path, bytes) ? testing::AssertionSuccess() : testing::AssertionFailure() << "not written";
}

class SignatureCaseTest : public testing::TestWithParam<Case> {};

TEST_P(SignatureCaseTest, GivesTheVerdictCodeAndSigner) {
    const Case& row = GetParam();
    // One folder per case: the cases may run side by side.
    const std::wstring path = staged::OwnFolder() + L"\\signature " + Wide(row.name) + L"\\vcredist_x86.exe";
    staged::Stage stage;
    ASSERT_TRUE(Make(stage, row, path));

    const platform::SignatureCheck check = platform::CheckInstallerSignature(path);

    EXPECT_EQ(Hex(row.code), Hex(check.code));
    EXPECT_EQ(row.verdict, check.verdict);
    EXPECT_EQ(std::wstring(row.signer), check.signer);
    EXPECT_EQ(row.runs, platform::MayRun(check.verdict));
    if (row.fixture != Fixture::Folder && row.fixture != Fixture::Nothing) {
        // The check has let go of the file: nothing keeps it open.
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << "still open after the check, error " << ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureCaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Every check gives back what it opened (the file, registry keys, the trust
// state), whatever its verdict. The first round lets the system open what it
// keeps for the whole process.
TEST(SignatureCheck, LeavesNoHandleOpen) {
    staged::Stage stage;
    std::vector<std::wstring> paths;
    for (const Case& row : kCases) {
        paths.push_back(staged::OwnFolder() + L"\\signature handles\\" + Wide(row.name) + L".exe");
        ASSERT_TRUE(Make(stage, row, paths.back())) << row.name;
    }
    const auto checkAll = [&paths] {
        for (const std::wstring& path : paths) platform::CheckInstallerSignature(path);
    };
    checkAll();
    const auto settled = OpenHandleCount();
    ASSERT_TRUE(settled.has_value()) << "the system's handle list is not available";
    for (int round = 0; round < 3; ++round) checkAll();
    EXPECT_EQ(settled, OpenHandleCount()) << "handles or keys stay open after three rounds";
}

// Which results of WinVerifyTrust leave the file and its signature intact
// (only the chain failed here), which mean there is nothing signed, and that
// everything else is refused, unknown codes included.
TEST(TrustResults, ReadAsTheyShould) {
    const struct {
        LONG code;
        TrustResult result;
    } rows[] = {
        {ERROR_SUCCESS, TrustResult::Verified},
        {CERT_E_UNTRUSTEDROOT, TrustResult::ChainNotTrusted},
        {CERT_E_UNTRUSTEDTESTROOT, TrustResult::ChainNotTrusted},
        {CERT_E_UNTRUSTEDCA, TrustResult::ChainNotTrusted},
        {CERT_E_CHAINING, TrustResult::ChainNotTrusted},
        {CERT_E_EXPIRED, TrustResult::ChainNotTrusted},
        {CERT_E_VALIDITYPERIODNESTING, TrustResult::ChainNotTrusted},
        {CERT_E_REVOCATION_FAILURE, TrustResult::ChainNotTrusted},
        {CRYPT_E_REVOCATION_OFFLINE, TrustResult::ChainNotTrusted},
        {CRYPT_E_NO_REVOCATION_CHECK, TrustResult::ChainNotTrusted},
        {TRUST_E_NOSIGNATURE, TrustResult::NoSignature},
        {TRUST_E_SUBJECT_FORM_UNKNOWN, TrustResult::NoSignature},
        {TRUST_E_BAD_DIGEST, TrustResult::Failed},
        {TRUST_E_CERT_SIGNATURE, TrustResult::Failed},
        {TRUST_E_NO_SIGNER_CERT, TrustResult::Failed},
        {TRUST_E_TIME_STAMP, TrustResult::Failed},
        {CERT_E_REVOKED, TrustResult::Failed},
        {TRUST_E_EXPLICIT_DISTRUST, TrustResult::Failed},
        {TRUST_E_SUBJECT_NOT_TRUSTED, TrustResult::Failed},
        {CERT_E_WRONG_USAGE, TrustResult::Failed},
        {TRUST_E_PROVIDER_UNKNOWN, TrustResult::Failed},
        {CRYPT_E_FILE_ERROR, TrustResult::Failed},
        {ERROR_ACCESS_DENIED, TrustResult::Failed},
        {E_FAIL, TrustResult::Failed},
        {static_cast<LONG>(0x800B01FF), TrustResult::Failed},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.result, platform::ClassifyTrustResult(row.code)) << Hex(row.code);
    }
}

// The check must not make this program import wintrust.dll or crypt32.dll:
// a static import is resolved before the process restricts where DLLs come
// from. This test program calls the check, so its import table shows it.
TEST(TrustDlls, AreNotImported) {
    const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, imports.VirtualAddress);
    std::vector<std::string> names;
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "kernel32.dll")) << "no imports read";
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "wintrust.dll"));
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "crypt32.dll"));
}

}  // namespace
