#include "platform/InstallerSignature.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "platform/SystemLibrary.h"

namespace platform {

namespace {

// The functions of the check, looked up in DLLs loaded from System32 (see
// SystemLibrary for why they are not imported).
struct TrustFunctions {
    SystemLibrary wintrust{L"wintrust.dll"};
    SystemLibrary crypt32{L"crypt32.dll"};
    decltype(::WinVerifyTrust)* verify = wintrust.Find<decltype(::WinVerifyTrust)>("WinVerifyTrust");
    decltype(::WTHelperProvDataFromStateData)* providerData =
        wintrust.Find<decltype(::WTHelperProvDataFromStateData)>("WTHelperProvDataFromStateData");
    decltype(::WTHelperGetProvSignerFromChain)* signer =
        wintrust.Find<decltype(::WTHelperGetProvSignerFromChain)>("WTHelperGetProvSignerFromChain");
    decltype(::WTHelperGetProvCertFromChain)* certificate =
        wintrust.Find<decltype(::WTHelperGetProvCertFromChain)>("WTHelperGetProvCertFromChain");
    decltype(::CertGetNameStringW)* nameOf = crypt32.Find<decltype(::CertGetNameStringW)>("CertGetNameStringW");

    // ERROR_SUCCESS when every function was found; else why not.
    DWORD Missing() const {
        if (!wintrust) return wintrust.LoadError();
        if (!crypt32) return crypt32.LoadError();
        const bool complete = verify != nullptr && providerData != nullptr && signer != nullptr &&
                              certificate != nullptr && nameOf != nullptr;
        return complete ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
    }
};

// One verification of one file. The state that WinVerifyTrust keeps for the
// signer lookup is released when this ends, whatever the result was.
class Verification {
public:
    Verification(const TrustFunctions& functions, const std::wstring& path) : m_functions(functions) {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = path.c_str();
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        // Whatever the chain lacks stays missing: no certificate, list or
        // root is fetched over the network.
        m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    }
    ~Verification() {
        if (!m_verified) return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        m_functions.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    Verification(const Verification&) = delete;
    Verification& operator=(const Verification&) = delete;

    // The window handle INVALID_HANDLE_VALUE: no interactive user to ask.
    LONG Verify() {
        m_verified = true;
        return m_functions.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }

    CRYPT_PROVIDER_DATA* ProviderData() const { return m_functions.providerData(m_data.hWVTStateData); }

private:
    const TrustFunctions& m_functions;
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file{};
    WINTRUST_DATA m_data{};
    bool m_verified = false;
};

// Whether every step up to and including the one that reads the signature
// and compares the file's digest with it passed. Only then does a failed
// chain say nothing against the file itself.
bool FileAndSignatureHold(const CRYPT_PROVIDER_DATA* provider) {
    if (provider == nullptr || provider->padwTrustStepErrors == nullptr ||
        provider->cdwTrustStepErrors <= TRUSTERROR_STEP_FINAL_SIGPROV) {
        return false;
    }
    for (DWORD step = TRUSTERROR_STEP_FINAL_WVTINIT; step <= TRUSTERROR_STEP_FINAL_SIGPROV; ++step) {
        if (provider->padwTrustStepErrors[step] != ERROR_SUCCESS) return false;
    }
    return true;
}

std::wstring CertificateName(const TrustFunctions& functions, PCCERT_CONTEXT certificate, DWORD type,
                             void* typeParameter) {
    const DWORD length = functions.nameOf(certificate, type, 0, typeParameter, nullptr, 0);
    if (length <= 1) return {};  // only the terminating NUL: no such name
    std::wstring name(length, L'\0');
    const DWORD written = functions.nameOf(certificate, type, 0, typeParameter, name.data(), length);
    name.resize(written > 0 ? written - 1 : 0);
    return name;
}

// The leaf certificate of the first signer, named by its organisation or,
// without one, by its common name. Empty when there is no such certificate.
std::wstring SignerName(const TrustFunctions& functions, CRYPT_PROVIDER_DATA* provider) {
    CRYPT_PROVIDER_SGNR* signer = functions.signer(provider, 0, FALSE, 0);
    if (signer == nullptr) return {};
    CRYPT_PROVIDER_CERT* leaf = functions.certificate(signer, 0);
    if (leaf == nullptr || leaf->pCert == nullptr) return {};
    char organisation[] = szOID_ORGANIZATION_NAME;
    std::wstring name = CertificateName(functions, leaf->pCert, CERT_NAME_ATTR_TYPE, organisation);
    if (name.empty()) name = CertificateName(functions, leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr);
    return name;
}

}  // namespace

TrustResult ClassifyTrustResult(LONG code) {
    switch (code) {
    case ERROR_SUCCESS:
        return TrustResult::Verified;
    // The chain cannot be trusted on this machine, which says nothing about
    // the file: a root the machine has never been updated with, an expired
    // certificate without a time stamp, revocation that cannot be checked.
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_UNTRUSTEDCA:
    case CERT_E_CHAINING:
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
    case CERT_E_REVOCATION_FAILURE:
    case CRYPT_E_REVOCATION_OFFLINE:
    case CRYPT_E_NO_REVOCATION_CHECK:
        return TrustResult::ChainNotTrusted;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
        return TrustResult::NoSignature;
    // A digest that does not match, a damaged signature, a revoked or
    // distrusted certificate, an unreadable file, and every code not listed.
    default:
        return TrustResult::Failed;
    }
}

SignatureCheck CheckInstallerSignature(const std::wstring& path) {
    SignatureCheck check;
    const TrustFunctions functions;
    if (const DWORD missing = functions.Missing()) {
        check.code = HRESULT_FROM_WIN32(missing);
        return check;
    }
    Verification verification(functions, path);
    check.code = verification.Verify();
    switch (ClassifyTrustResult(check.code)) {
    case TrustResult::NoSignature:
        check.verdict = SignatureVerdict::Unsigned;
        return check;
    case TrustResult::Failed:
        check.verdict = SignatureVerdict::Corrupted;
        return check;
    case TrustResult::Verified:
    case TrustResult::ChainNotTrusted:
        break;
    }
    CRYPT_PROVIDER_DATA* provider = verification.ProviderData();
    if (FileAndSignatureHold(provider)) check.signer = SignerName(functions, provider);
    if (check.signer.empty()) {
        check.verdict = SignatureVerdict::Corrupted;
    } else if (check.signer != kInstallerPublisher) {
        check.verdict = SignatureVerdict::Foreign;
    } else {
        check.verdict = check.code == ERROR_SUCCESS ? SignatureVerdict::Trusted : SignatureVerdict::UntrustedChain;
    }
    return check;
}

const wchar_t* VerdictName(SignatureVerdict verdict) {
    switch (verdict) {
    case SignatureVerdict::Trusted: return L"trusted";
    case SignatureVerdict::UntrustedChain: return L"intact, certificate chain not trusted here";
    case SignatureVerdict::Unsigned: return L"not signed";
    case SignatureVerdict::Corrupted: return L"corrupted";
    case SignatureVerdict::Foreign: return L"signed by another publisher";
    case SignatureVerdict::Unverifiable: return L"cannot be verified";
    }
    return L"?";
}

}  // namespace platform
