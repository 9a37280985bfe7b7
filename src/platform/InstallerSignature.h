#pragma once
#include <windows.h>
#include <string>

namespace platform {

// What the Authenticode check of an installer file came to.
enum class SignatureVerdict {
    Trusted,         // signature, file digest and certificate chain hold; signed by Microsoft
    UntrustedChain,  // signature and file digest hold, signed by Microsoft, but this machine
                     // cannot trust the certificate chain (no root update offline, expired)
    Unsigned,        // no signature: an unsigned or truncated file, or no program at all
    Corrupted,       // a signature that does not match the file, or any other refusal
    Foreign,         // an intact signature of someone other than Microsoft
    Unverifiable,    // the system's verification could not be loaded
};

struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::Unverifiable;
    // What WinVerifyTrust answered; for Unverifiable, the loader's error as an HRESULT.
    LONG code = 0;
    // The signing certificate's organisation, or its common name when it has
    // none; empty when no signer could be read.
    std::wstring signer;
};

// The organisation that signs both real installers.
inline constexpr wchar_t kInstallerPublisher[] = L"Microsoft Corporation";

// Checks the file's embedded Authenticode signature with WinVerifyTrust:
// no user interface, no revocation check, nothing fetched from the network.
// Loads wintrust.dll and crypt32.dll from System32 for the call only.
SignatureCheck CheckInstallerSignature(const std::wstring& path);

// Whether an installer with this verdict may be started.
inline bool MayRun(SignatureVerdict verdict) {
    return verdict == SignatureVerdict::Trusted || verdict == SignatureVerdict::UntrustedChain;
}

// How one result of WinVerifyTrust reads, before the signer is looked at.
enum class TrustResult {
    Verified,         // everything held
    ChainNotTrusted,  // only the certificate chain failed on this machine
    NoSignature,      // nothing signed to check
    Failed,           // the file or its signature is wrong, or a code not known to be harmless
};
TrustResult ClassifyTrustResult(LONG code);

// A short English name of the verdict, for the run log.
const wchar_t* VerdictName(SignatureVerdict verdict);

}  // namespace platform
