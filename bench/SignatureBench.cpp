// Cost of the installer signature check on a signed file of a real
// installer's size, beside its floor: reading the same bytes once and hashing
// them with the system's SHA-256, the least any check of the file's digest
// has to do. Check and floor alternate in the same run. Prints one figure
// per line and exits 1 when the check takes more than 1.3 times the floor.
//   signature_bench.exe <signed file> [runs]
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/InstallerSignature.h"

namespace {

constexpr DWORD kChunk = 1024 * 1024;
constexpr double kGoal = 1.3;

double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Reads the whole file in chunks of 1 MiB and hands each to `consume`.
template <typename Consume>
bool ReadChunks(const std::wstring& path, std::vector<BYTE>& buffer, Consume consume) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    DWORD read = 0;
    while (ok && ::ReadFile(file, buffer.data(), kChunk, &read, nullptr) && read > 0) ok = consume(read);
    ::CloseHandle(file);
    return ok;
}

// SHA-256 of the file through CryptoAPI, the provider WinVerifyTrust hashes
// with; the provider is acquired beforehand, outside the time.
std::vector<BYTE> CryptoApiSha256(HCRYPTPROV provider, const std::wstring& path, std::vector<BYTE>& buffer) {
    HCRYPTHASH hash = 0;
    if (!::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) return {};
    std::vector<BYTE> digest(32);
    DWORD size = static_cast<DWORD>(digest.size());
    const bool ok = ReadChunks(path, buffer, [&](DWORD read) {
        return ::CryptHashData(hash, buffer.data(), read, 0) != FALSE;
    }) && ::CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &size, 0);
    ::CryptDestroyHash(hash);
    return ok ? digest : std::vector<BYTE>();
}

// The same through CNG.
std::vector<BYTE> BCryptSha256(BCRYPT_ALG_HANDLE algorithm, const std::wstring& path, std::vector<BYTE>& buffer) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return {};
    std::vector<BYTE> digest(32);
    const bool ok = ReadChunks(path, buffer, [&](DWORD read) {
        return BCRYPT_SUCCESS(::BCryptHashData(hash, buffer.data(), read, 0));
    }) && BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    ::BCryptDestroyHash(hash);
    return ok ? digest : std::vector<BYTE>();
}

template <typename Work>
double Seconds(Work work) {
    const double begin = Now();
    work();
    return Now() - begin;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: signature_bench <signed file> [runs]\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 11;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        std::fprintf(stderr, "no file to check\n");
        return 2;
    }
    const double megabytes =
        static_cast<double>((ULONGLONG(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow) / 1e6;

    HCRYPTPROV provider = 0;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        std::fprintf(stderr, "no SHA-256 provider\n");
        return 2;
    }
    std::vector<BYTE> buffer(kChunk);

    // The first check also loads the trust DLLs and reads their registration.
    platform::SignatureCheck check;
    const double cold = Seconds([&] { check = platform::CheckInstallerSignature(path); });
    std::vector<BYTE> cryptoApiDigest, bcryptDigest;
    std::vector<double> checks, cryptoApi, bcrypt;
    for (int i = 0; i < runs; ++i) {
        checks.push_back(Seconds([&] { check = platform::CheckInstallerSignature(path); }));
        cryptoApi.push_back(Seconds([&] { cryptoApiDigest = CryptoApiSha256(provider, path, buffer); }));
        bcrypt.push_back(Seconds([&] { bcryptDigest = BCryptSha256(algorithm, path, buffer); }));
    }
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    ::CryptReleaseContext(provider, 0);

    int failures = 0;
    if (!platform::MayRun(check.verdict)) {
        std::printf("the check refused the signed file: %ls, code 0x%08lX\n", platform::VerdictName(check.verdict),
                    static_cast<unsigned long>(check.code));
        ++failures;
    }
    if (cryptoApiDigest.empty() || cryptoApiDigest != bcryptDigest) {
        std::printf("the two SHA-256 floors disagree or failed\n");
        ++failures;
    }
    const double floor = std::min(Median(cryptoApi), Median(bcrypt));
    const double ratio = Median(checks) / floor;
    std::printf("%-34s %10.1f MB\n", "signed installer", megabytes);
    std::printf("%-34s %10.4f s      (median of %d)\n", "signature check", Median(checks), runs);
    std::printf("%-34s %10.4f s\n", "  first check, DLLs loading", cold);
    std::printf("%-34s %10.4f s\n", "  floor: SHA-256, CryptoAPI", Median(cryptoApi));
    std::printf("%-34s %10.4f s\n", "  floor: SHA-256, CNG", Median(bcrypt));
    const bool met = ratio <= kGoal;
    if (!met) ++failures;
    std::printf("%-34s %10.4f        (goal: <= %g) %s\n", "signature check / faster floor", ratio, kGoal,
                met ? "ok" : "MISSED");
    return failures == 0 ? 0 : 1;
}
