#pragma once
// Spoils a signed installer the ways a download or a copy goes wrong, for
// the signature tests and the whole-run tests. Header only.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

namespace installer_fixtures {

template <typename T>
inline std::optional<T> At(const std::string& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Where a signed program keeps its code and its signature, as file offsets.
struct Layout {
    size_t codeOffset = 0;
    size_t codeSize = 0;
    size_t signatureOffset = 0;  // the WIN_CERTIFICATE, from the security directory
    size_t signatureSize = 0;    // its dwLength: header and PKCS#7 data
};

inline std::optional<Layout> ReadLayout(const std::string& image) {
    const auto dos = At<IMAGE_DOS_HEADER>(image, 0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
    const size_t nt = static_cast<size_t>(dos->e_lfanew);
    const auto fileHeader = At<IMAGE_FILE_HEADER>(image, nt + sizeof(DWORD));
    const size_t optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    const auto magic = At<WORD>(image, optional);
    if (!fileHeader || !magic) return std::nullopt;
    // The data directories sit at another offset in a 32-bit and a 64-bit header.
    size_t directories = 0;
    if (*magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    } else if (*magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    } else {
        return std::nullopt;
    }
    const auto security = At<IMAGE_DATA_DIRECTORY>(
        image, directories + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY));
    if (!security) return std::nullopt;

    Layout layout;
    const size_t sections = optional + fileHeader->SizeOfOptionalHeader;
    for (WORD i = 0; i < fileHeader->NumberOfSections; ++i) {
        const auto section = At<IMAGE_SECTION_HEADER>(image, sections + i * sizeof(IMAGE_SECTION_HEADER));
        if (!section) return std::nullopt;
        if (section->Characteristics & IMAGE_SCN_CNT_CODE) {
            layout.codeOffset = section->PointerToRawData;
            layout.codeSize = section->SizeOfRawData;
            break;
        }
    }
    layout.signatureOffset = security->VirtualAddress;
    const auto length = At<DWORD>(image, layout.signatureOffset);
    if (layout.codeSize == 0 || layout.signatureOffset == 0 || !length) return std::nullopt;
    layout.signatureSize = *length;
    return layout;
}

enum class Spoiling {
    CodeByteChanged,       // one byte in the middle of the code section
    CutInTheMiddle,        // the first half of the file
    CutBeforeSignature,    // everything up to where the signature begins
    SignatureByteChanged,  // one byte of the signer's RSA signature value
    Emptied,               // zero bytes
};

// Spoils the bytes of a signed program; empty on success, else why not.
inline std::string Spoil(std::string& bytes, Spoiling spoiling) {
    const auto layout = ReadLayout(bytes);
    if (!layout && spoiling != Spoiling::CutInTheMiddle && spoiling != Spoiling::Emptied) {
        return "not a signed program";
    }
    switch (spoiling) {
    case Spoiling::CodeByteChanged:
        bytes[layout->codeOffset + layout->codeSize / 2] ^= 0x01;
        break;
    case Spoiling::CutInTheMiddle:
        bytes.resize(bytes.size() / 2);
        break;
    case Spoiling::CutBeforeSignature:
        bytes.resize(layout->signatureOffset);
        break;
    case Spoiling::SignatureByteChanged: {
        // The PKCS#7 data after the 8-byte WIN_CERTIFICATE header ends with the
        // signer's RSA signature value (256 bytes for the test keys), then at
        // most 7 bytes of padding: 32 bytes before the end lie inside it.
        const size_t end = layout->signatureOffset + layout->signatureSize;
        if (layout->signatureSize < 512 || end > bytes.size()) return "signature too short";
        bytes[end - 32] ^= 0x01;
        break;
    }
    case Spoiling::Emptied:
        bytes.clear();
        break;
    }
    return {};
}

}  // namespace installer_fixtures
