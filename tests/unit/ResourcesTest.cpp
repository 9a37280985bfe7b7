// The resources of Setup.exe, read back from the built executable language by
// language: the inventory, every text, the three dialog templates, the icon,
// the version block and the manifest.
//
// The executable is opened as a resource image and every lookup names its
// language, so what is checked is what the resource loader of each user
// interface language will find, independent of the language of the machine
// that runs the test. Expected values are written out here, never taken from
// the resource script.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ExpectedTexts.h"

namespace {

constexpr WORD kRussian = 0x0419;
constexpr WORD kGerman = 0x0407;
constexpr WORD kEnglish = 0x0409;

const char* LanguageName(WORD language) {
    switch (language) {
    case kRussian: return "Russian";
    case kGerman: return "German";
    case kEnglish: return "English";
    default: return "Other";
    }
}

// ---------------------------------------------------------------------------
// Access to Setup.exe

std::wstring SetupExePath() {
    // A file named by NORVALIS_SETUP_EXE: the 32-bit tier reads the shipped
    // release build itself.
    std::vector<wchar_t> buffer(MAX_PATH);
    const DWORD named = ::GetEnvironmentVariableW(L"NORVALIS_SETUP_EXE", buffer.data(),
                                                  static_cast<DWORD>(buffer.size()));
    if (named > 0 && named < buffer.size()) return std::wstring(buffer.data(), named);
    // Otherwise the Setup.exe that is built next to the test programs.
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            const size_t slash = path.find_last_of(L"\\/");
            return path.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"Setup.exe";
        }
        // Truncated: try again with room for the whole path.
        buffer.resize(buffer.size() * 2);
    }
}

HMODULE SetupModule() {
    // Loaded once as a resource image: no code of it runs, no imports are
    // resolved, and the handle stays valid for the life of the test process.
    static const HMODULE module = ::LoadLibraryExW(
        SetupExePath().c_str(), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return module;
}

std::optional<std::vector<BYTE>> ReadResource(LPCWSTR type, LPCWSTR name, WORD language) {
    const HMODULE module = SetupModule();
    if (module == nullptr) return std::nullopt;
    const HRSRC info = ::FindResourceExW(module, type, name, language);
    if (info == nullptr) return std::nullopt;
    const HGLOBAL loaded = ::LoadResource(module, info);
    if (loaded == nullptr) return std::nullopt;
    const auto* data = static_cast<const BYTE*>(::LockResource(loaded));
    const DWORD size = ::SizeofResource(module, info);
    if (data == nullptr) return std::nullopt;
    return std::vector<BYTE>(data, data + size);
}

std::optional<std::vector<BYTE>> ReadResource(LPCWSTR type, WORD id, WORD language) {
    return ReadResource(type, MAKEINTRESOURCEW(id), language);
}

// Little-endian reader over a resource's bytes. Reading past the end sets
// failed instead of touching memory beyond the resource.
class Reader {
public:
    explicit Reader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}

    size_t Position() const { return m_position; }
    size_t Size() const { return m_bytes.size(); }
    bool Failed() const { return m_failed; }
    void Seek(size_t position) {
        if (position > m_bytes.size()) m_failed = true;
        else m_position = position;
    }

    BYTE Byte() { return static_cast<BYTE>(Take(1)); }
    WORD Word() { return static_cast<WORD>(Take(2)); }
    DWORD Dword() { return static_cast<DWORD>(Take(4)); }
    short Short() { return static_cast<short>(Word()); }

    // A NUL-terminated UTF-16 string.
    std::wstring String() {
        std::wstring text;
        for (;;) {
            const WORD unit = Word();
            if (m_failed || unit == 0) return text;
            text.push_back(static_cast<wchar_t>(unit));
        }
    }

    // Exactly count UTF-16 units, with no terminator.
    std::wstring Counted(size_t count) {
        std::wstring text;
        for (size_t i = 0; i < count && !m_failed; ++i)
            text.push_back(static_cast<wchar_t>(Word()));
        return text;
    }

    void AlignToDword() { Seek((m_position + 3) & ~size_t{3}); }

private:
    DWORD Take(size_t count) {
        if (m_failed || m_bytes.size() - m_position < count) {
            m_failed = true;
            return 0;
        }
        DWORD value = 0;
        for (size_t i = 0; i < count; ++i)
            value |= static_cast<DWORD>(m_bytes[m_position + i]) << (8 * i);
        m_position += count;
        return value;
    }

    const std::vector<BYTE>& m_bytes;
    size_t m_position = 0;
    bool m_failed = false;
};

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                          result.data(), size, nullptr, nullptr);
    return result;
}

TEST(ResourcesTest, SetupExeOpensAsResourceImage) {
    RecordProperty("setup_exe", Narrow(SetupExePath()));
    ASSERT_NE(nullptr, SetupModule()) << "cannot open " << Narrow(SetupExePath())
                                      << ", error " << ::GetLastError();
}

// ---------------------------------------------------------------------------
// Inventory

std::string IdText(LPCWSTR id) {
    if (IS_INTRESOURCE(id)) return std::to_string(reinterpret_cast<ULONG_PTR>(id));
    return "\"" + Narrow(id) + "\"";
}

std::string TypeText(LPCWSTR type) {
    if (IS_INTRESOURCE(type)) {
        switch (reinterpret_cast<ULONG_PTR>(type)) {
        case 3: return "RT_ICON";
        case 5: return "RT_DIALOG";
        case 6: return "RT_STRING";
        case 14: return "RT_GROUP_ICON";
        case 16: return "RT_VERSION";
        case 24: return "RT_MANIFEST";
        default: break;
        }
    }
    return "type " + IdText(type);
}

std::string LanguageText(WORD language) {
    if (language == kRussian || language == kGerman || language == kEnglish)
        return LanguageName(language);
    char text[24];
    std::snprintf(text, sizeof text, "language 0x%04X", language);
    return text;
}

std::string Entry(const std::string& type, const std::string& name, WORD language) {
    return type + " " + name + " " + LanguageText(language);
}

std::string Entry(const std::string& type, unsigned name, WORD language) {
    return Entry(type, std::to_string(name), language);
}

struct Enumeration {
    std::set<std::string> entries;
    bool failed = false;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR context) {
    auto* found = reinterpret_cast<Enumeration*>(context);
    try {
        found->entries.insert(Entry(TypeText(type), IdText(name), language));
    } catch (...) {
        // No exception may cross the system's enumeration.
        found->failed = true;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    ::EnumResourceLanguagesW(module, type, name, OnLanguage, context);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR context) {
    ::EnumResourceNamesW(module, type, OnName, context);
    return TRUE;
}

TEST(ResourcesTest, ExecutableCarriesExactlyTheListedResources) {
    ASSERT_NE(nullptr, SetupModule());
    Enumeration found;
    ASSERT_TRUE(::EnumResourceTypesW(SetupModule(), OnType, reinterpret_cast<LONG_PTR>(&found)));
    ASSERT_FALSE(found.failed);

    std::set<std::string> expected;
    for (WORD language : {kRussian, kGerman, kEnglish}) {
        for (unsigned dialog : {102u, 133u, 135u}) expected.insert(Entry("RT_DIALOG", dialog, language));
        expected.insert(Entry("RT_STRING", 9, language));
        expected.insert(Entry("RT_STRING", 3585, language));
        expected.insert(Entry("RT_GROUP_ICON", 128, language));
        expected.insert(Entry("RT_VERSION", 1, language));
    }
    for (unsigned image = 1; image <= 8; ++image) expected.insert(Entry("RT_ICON", image, kRussian));
    for (unsigned image = 9; image <= 16; ++image) expected.insert(Entry("RT_ICON", image, kGerman));
    for (unsigned image = 17; image <= 24; ++image) expected.insert(Entry("RT_ICON", image, kEnglish));
    expected.insert(Entry("RT_MANIFEST", 1, kEnglish));

    // Differences both ways, so a failure names exactly what is extra or lacking.
    std::vector<std::string> missing;
    std::vector<std::string> unexpected;
    std::set_difference(expected.begin(), expected.end(), found.entries.begin(),
                        found.entries.end(), std::back_inserter(missing));
    std::set_difference(found.entries.begin(), found.entries.end(), expected.begin(),
                        expected.end(), std::back_inserter(unexpected));
    EXPECT_EQ(std::vector<std::string>{}, missing);
    EXPECT_EQ(std::vector<std::string>{}, unexpected);
}

// ---------------------------------------------------------------------------
// String tables

struct StringBlock {
    std::vector<std::wstring> strings;  // the 16 entries, empty where absent
    bool complete = false;              // parsed without overrun
    size_t consumed = 0;
    size_t size = 0;
};

std::optional<StringBlock> ReadStringBlock(WORD block, WORD language) {
    const auto bytes = ReadResource(MAKEINTRESOURCEW(6), block, language);
    if (!bytes) return std::nullopt;
    Reader reader(*bytes);
    StringBlock result;
    for (int i = 0; i < 16; ++i) result.strings.push_back(reader.Counted(reader.Word()));
    result.complete = !reader.Failed();
    result.consumed = reader.Position();
    result.size = reader.Size();
    return result;
}

// The string with this id in this language, read from its block (16 ids per
// block, block number id / 16 + 1) as the resource loader reads it.
std::optional<std::wstring> ReadString(UINT id, WORD language) {
    const auto block = ReadStringBlock(static_cast<WORD>(id / 16 + 1), language);
    if (!block || !block->complete) return std::nullopt;
    return block->strings[id % 16];
}

struct StringCase {
    UINT id;
    WORD language;
    std::wstring text;
};

// The string table of every language, from the texts the user must see.
std::vector<StringCase> StringCases() {
    const std::pair<UINT, std::wstring texts::Texts::*> ids[] = {
        {130, &texts::Texts::installFailed},   {131, &texts::Texts::launchFailed},
        {132, &texts::Texts::adminRequired},   {133, &texts::Texts::packagesMissing},
        {134, &texts::Texts::serverContinues}, {136, &texts::Texts::restartRequired},
        {137, &texts::Texts::usage},           {57344, &texts::Texts::title},
    };
    std::vector<StringCase> cases;
    for (const texts::Texts* language : {&texts::kEnglishTexts, &texts::kGermanTexts, &texts::kRussianTexts}) {
        for (const auto& [id, member] : ids) cases.push_back({id, language->language, language->*member});
    }
    return cases;
}

class StringTableTest : public testing::TestWithParam<StringCase> {};

void PrintTo(const StringCase& value, std::ostream* out) {
    *out << LanguageName(value.language) << " " << value.id;
}

TEST_P(StringTableTest, TextMatchesCharacterForCharacter) {
    const StringCase& expected = GetParam();
    const auto text = ReadString(expected.id, expected.language);
    ASSERT_TRUE(text.has_value()) << "no string block holds " << expected.id;
    EXPECT_EQ(expected.text, *text);
}

INSTANTIATE_TEST_SUITE_P(
    ResourcesTest, StringTableTest, testing::ValuesIn(StringCases()),
    [](const testing::TestParamInfo<StringCase>& info) {
        return std::string(LanguageName(info.param.language)) + "_" + std::to_string(info.param.id);
    });

TEST(ResourcesTest, StringBlocksHoldOnlyTheListedIds) {
    // Block 9 covers ids 128-143, block 3585 ids 57344-57359. The loader finds
    // an absent id as an entry of length 0; 135 is a dialog id, not a string.
    const std::set<UINT> present = {130, 131, 132, 133, 134, 136, 137, 57344};
    for (WORD language : {kRussian, kGerman, kEnglish}) {
        for (WORD block : {WORD{9}, WORD{3585}}) {
            SCOPED_TRACE(std::string(LanguageName(language)) + " block " + std::to_string(block));
            const auto strings = ReadStringBlock(block, language);
            ASSERT_TRUE(strings.has_value());
            ASSERT_TRUE(strings->complete);
            // Nothing follows the sixteenth entry.
            EXPECT_EQ(strings->size, strings->consumed);
            for (UINT index = 0; index < 16; ++index) {
                const UINT id = (block - 1u) * 16u + index;
                if (present.count(id) != 0)
                    EXPECT_FALSE(strings->strings[index].empty()) << "id " << id;
                else
                    EXPECT_TRUE(strings->strings[index].empty()) << "id " << id << " should be absent";
            }
        }
    }
}

TEST(ResourcesTest, NoOtherStringBlockExists) {
    // The blocks on either side of the two that hold strings.
    for (WORD language : {kRussian, kGerman, kEnglish}) {
        for (WORD block : {WORD{8}, WORD{10}, WORD{3584}, WORD{3586}})
            EXPECT_FALSE(ReadStringBlock(block, language).has_value())
                << LanguageName(language) << " block " << block;
    }
}

// ---------------------------------------------------------------------------
// Dialog templates

// A class, menu or text field of a template: an ordinal (0xFFFF, then the
// number) or a string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring text;

    bool operator==(const NameOrOrdinal&) const = default;
};

void PrintTo(const NameOrOrdinal& value, std::ostream* out) {
    if (value.isOrdinal) {
        char text[16];
        std::snprintf(text, sizeof text, "#0x%04X", value.ordinal);
        *out << text;
    } else {
        *out << "\"" << Narrow(value.text) << "\"";
    }
}

NameOrOrdinal Ordinal(WORD ordinal) { return {true, ordinal, {}}; }
NameOrOrdinal Text(const wchar_t* text) { return {false, 0, text}; }

NameOrOrdinal ReadNameOrOrdinal(Reader& reader) {
    const size_t start = reader.Position();
    if (reader.Word() == 0xFFFF) return Ordinal(reader.Word());
    reader.Seek(start);
    return {false, 0, reader.String()};
}

struct DialogItem {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    NameOrOrdinal windowClass, title;
    WORD extraCount;
};

struct DialogTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    WORD itemCount;
    short x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::wstring title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring typeface;
    std::vector<DialogItem> items;
    size_t end;  // offset after the last item
};

std::optional<DialogTemplate> ParseDialog(const std::vector<BYTE>& bytes) {
    Reader reader(bytes);
    DialogTemplate dialog{};
    dialog.version = reader.Word();
    dialog.signature = reader.Word();
    dialog.helpId = reader.Dword();
    dialog.exStyle = reader.Dword();
    dialog.style = reader.Dword();
    dialog.itemCount = reader.Word();
    dialog.x = reader.Short();
    dialog.y = reader.Short();
    dialog.cx = reader.Short();
    dialog.cy = reader.Short();
    dialog.menu = ReadNameOrOrdinal(reader);
    dialog.windowClass = ReadNameOrOrdinal(reader);
    dialog.title = reader.String();
    dialog.pointSize = reader.Word();
    dialog.weight = reader.Word();
    dialog.italic = reader.Byte();
    dialog.charset = reader.Byte();
    dialog.typeface = reader.String();
    for (WORD i = 0; i < dialog.itemCount && !reader.Failed(); ++i) {
        reader.AlignToDword();
        DialogItem item{};
        item.helpId = reader.Dword();
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.x = reader.Short();
        item.y = reader.Short();
        item.cx = reader.Short();
        item.cy = reader.Short();
        item.id = reader.Dword();
        item.windowClass = ReadNameOrOrdinal(reader);
        item.title = ReadNameOrOrdinal(reader);
        item.extraCount = reader.Word();
        // Creation data would follow here; it is skipped so the next item is
        // still found, and extraCount shows that it was there.
        reader.Seek(reader.Position() + item.extraCount);
        dialog.items.push_back(item);
    }
    if (reader.Failed()) return std::nullopt;
    dialog.end = reader.Position();
    return dialog;
}

constexpr WORD kButton = 0x0080;
constexpr WORD kStatic = 0x0082;
constexpr WORD kListBox = 0x0083;
constexpr DWORD kStaticId = 0xFFFFFFFF;  // IDC_STATIC, -1 as a 32-bit id

struct ControlSpec {
    DWORD id;
    NameOrOrdinal windowClass;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t* text;
};

struct DialogSpec {
    WORD templateId;
    WORD language;
    DWORD style;
    DWORD exStyle;
    short cx, cy;
    WORD weight;
    const wchar_t* caption;
    std::vector<ControlSpec> controls;
};

std::vector<DialogSpec> DialogSpecs() {
    const NameOrOrdinal button = Ordinal(kButton);
    const NameOrOrdinal label = Ordinal(kStatic);
    const NameOrOrdinal list = Ordinal(kListBox);
    const NameOrOrdinal progress = Text(L"msctls_progress32");
    const texts::Texts& en = texts::kEnglishTexts;
    const texts::Texts& de = texts::kGermanTexts;
    const texts::Texts& ru = texts::kRussianTexts;
    return {
        {102, kEnglish, 0x90C00048, 0x00040000, 335, 149, 0, en.title.c_str(), {
            {1, button, 0x50010001, 209, 121, 53, 14, en.continueButton.c_str()},
            {2, button, 0x50010000, 270, 121, 52, 14, en.cancelButton.c_str()},
            {kStaticId, label, 0x50020000, 18, 22, 287, 10, en.explanation[0].c_str()},
            {kStaticId, label, 0x50020000, 19, 33, 105, 8, L""},
            {1000, list, 0x50A10101, 18, 48, 304, 64, L""},
        }},
        {102, kGerman, 0x90C00048, 0x00040000, 335, 149, 0, de.title.c_str(), {
            {1, button, 0x50010001, 209, 121, 53, 14, de.continueButton.c_str()},
            {2, button, 0x50010000, 270, 121, 52, 14, de.cancelButton.c_str()},
            {kStaticId, label, 0x50020000, 19, 22, 287, 8, de.explanation[0].c_str()},
            {kStaticId, label, 0x50020000, 19, 33, 141, 8, de.explanation[1].c_str()},
            {1000, list, 0x50A10101, 18, 48, 304, 64, L""},
        }},
        {102, kRussian, 0x90C00048, 0x00040000, 335, 149, 0, ru.title.c_str(), {
            {1, button, 0x50010001, 209, 121, 53, 14, ru.continueButton.c_str()},
            {2, button, 0x50010000, 270, 121, 52, 14, ru.cancelButton.c_str()},
            {kStaticId, label, 0x50020000, 18, 22, 287, 10, ru.explanation[0].c_str()},
            {kStaticId, label, 0x50020000, 19, 33, 105, 8, ru.explanation[1].c_str()},
            {1000, list, 0x50A10101, 18, 48, 304, 64, L""},
        }},
        {133, kEnglish, 0x80C000C8, 0, 341, 74, 400, en.title.c_str(), {
            {kStaticId, label, 0x50020000, 13, 15, 208, 8, en.installingHeading.c_str()},
            {1000, progress, 0x50800008, 13, 46, 315, 11, L""},
            {1001, label, 0x50020000, 13, 31, 208, 8, L" "},
        }},
        {133, kGerman, 0x80C000C8, 0, 341, 74, 400, de.title.c_str(), {
            {kStaticId, label, 0x50020000, 13, 15, 208, 8, de.installingHeading.c_str()},
            {1000, progress, 0x50800008, 13, 46, 315, 11, L""},
            {1001, label, 0x50020000, 13, 31, 208, 8, L" "},
        }},
        {133, kRussian, 0x80C000C8, 0, 341, 74, 400, ru.title.c_str(), {
            {kStaticId, label, 0x50020000, 13, 15, 208, 8, ru.installingHeading.c_str()},
            {1000, progress, 0x50800008, 13, 46, 315, 11, L""},
            {1001, label, 0x50020000, 13, 31, 208, 8, L" "},
        }},
        {135, kEnglish, 0x90C00048, 0x00040000, 315, 66, 0, en.title.c_str(), {
            {2, button, 0x50010000, 240, 41, 62, 14, en.restartButton.c_str()},
            {0x0000FFFF, label, 0x50020000, 37, 12, 265, 26, L""},
            {1002, label, 0x50000003, 13, 6, 21, 20, L""},
        }},
        {135, kGerman, 0x90C00048, 0x00040000, 315, 66, 0, de.title.c_str(), {
            {2, button, 0x50010000, 240, 41, 62, 14, de.restartButton.c_str()},
            {0x0000FFFF, label, 0x50020000, 37, 12, 265, 26, L""},
            {1002, label, 0x50000003, 13, 6, 21, 20, L""},
        }},
        {135, kRussian, 0x90C00048, 0x00040000, 315, 66, 0, ru.title.c_str(), {
            {2, button, 0x50010000, 240, 41, 62, 14, ru.restartButton.c_str()},
            {0x0000FFFF, label, 0x50020000, 37, 12, 265, 26, L""},
            {1002, label, 0x50000003, 13, 6, 21, 20, L""},
        }},
    };
}

class DialogTemplateTest : public testing::TestWithParam<DialogSpec> {};

void PrintTo(const DialogSpec& value, std::ostream* out) {
    *out << LanguageName(value.language) << " " << value.templateId;
}

TEST_P(DialogTemplateTest, TemplateMatchesFieldForField) {
    const DialogSpec& expected = GetParam();
    const auto bytes = ReadResource(MAKEINTRESOURCEW(5), expected.templateId, expected.language);
    ASSERT_TRUE(bytes.has_value());
    const auto dialog = ParseDialog(*bytes);
    ASSERT_TRUE(dialog.has_value()) << "the template ends before its last item";

    EXPECT_EQ(1, dialog->version);
    EXPECT_EQ(0xFFFF, dialog->signature);
    EXPECT_EQ(0u, dialog->helpId);
    EXPECT_EQ(expected.exStyle, dialog->exStyle);
    EXPECT_EQ(expected.style, dialog->style);
    EXPECT_EQ(0, dialog->x);
    EXPECT_EQ(0, dialog->y);
    EXPECT_EQ(expected.cx, dialog->cx);
    EXPECT_EQ(expected.cy, dialog->cy);
    EXPECT_EQ(Text(L""), dialog->menu);
    EXPECT_EQ(Text(L""), dialog->windowClass);
    EXPECT_EQ(std::wstring(expected.caption), dialog->title);
    EXPECT_EQ(8, dialog->pointSize);
    EXPECT_EQ(expected.weight, dialog->weight);
    EXPECT_EQ(0, dialog->italic);
    EXPECT_EQ(1, dialog->charset);
    EXPECT_EQ(L"MS Shell Dlg", dialog->typeface);
    // Nothing after the last control: no creation data, no stray bytes.
    EXPECT_EQ(bytes->size(), dialog->end);

    ASSERT_EQ(expected.controls.size(), dialog->itemCount);
    ASSERT_EQ(expected.controls.size(), dialog->items.size());
    for (size_t i = 0; i < expected.controls.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const ControlSpec& want = expected.controls[i];
        const DialogItem& item = dialog->items[i];
        EXPECT_EQ(want.id, item.id);
        EXPECT_EQ(want.windowClass, item.windowClass);
        EXPECT_EQ(want.style, item.style);
        EXPECT_EQ(want.x, item.x);
        EXPECT_EQ(want.y, item.y);
        EXPECT_EQ(want.cx, item.cx);
        EXPECT_EQ(want.cy, item.cy);
        EXPECT_EQ(Text(want.text), item.title);
        EXPECT_EQ(0u, item.helpId);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(0, item.extraCount);
    }
}

TEST_P(DialogTemplateTest, CaptionIsTheApplicationTitle) {
    const DialogSpec& expected = GetParam();
    const auto bytes = ReadResource(MAKEINTRESOURCEW(5), expected.templateId, expected.language);
    ASSERT_TRUE(bytes.has_value());
    const auto dialog = ParseDialog(*bytes);
    ASSERT_TRUE(dialog.has_value());
    const auto title = ReadString(57344, expected.language);
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(*title, dialog->title);
}

INSTANTIATE_TEST_SUITE_P(
    ResourcesTest, DialogTemplateTest, testing::ValuesIn(DialogSpecs()),
    [](const testing::TestParamInfo<DialogSpec>& info) {
        return std::string(LanguageName(info.param.language)) + "_" +
               std::to_string(info.param.templateId);
    });

// ---------------------------------------------------------------------------
// Icon group 128

struct IconEntry {
    BYTE width, height, colorCount;
    WORD bitCount;
    DWORD bytes;
};

const IconEntry kIconEntries[] = {
    {32, 32, 16, 4, 744},  {16, 16, 16, 4, 296},  {48, 48, 0, 8, 3752}, {32, 32, 0, 8, 2216},
    {16, 16, 0, 8, 1384},  {48, 48, 0, 32, 9640}, {32, 32, 0, 32, 4264}, {16, 16, 0, 32, 1128},
};

struct IconGroupCase {
    WORD language;
    WORD firstImage;
};

const IconGroupCase kIconGroups[] = {{kRussian, 1}, {kGerman, 9}, {kEnglish, 17}};

class IconGroupTest : public testing::TestWithParam<IconGroupCase> {};

void PrintTo(const IconGroupCase& value, std::ostream* out) {
    *out << LanguageName(value.language);
}

TEST_P(IconGroupTest, GroupListsItsEightImages) {
    const IconGroupCase& group = GetParam();
    const auto bytes = ReadResource(MAKEINTRESOURCEW(14), 128, group.language);
    ASSERT_TRUE(bytes.has_value());
    Reader reader(*bytes);
    EXPECT_EQ(0, reader.Word());  // reserved
    EXPECT_EQ(1, reader.Word());  // icon, not cursor
    ASSERT_EQ(8, reader.Word());
    for (WORD i = 0; i < 8; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i + 1));
        const IconEntry& want = kIconEntries[i];
        EXPECT_EQ(want.width, reader.Byte());
        EXPECT_EQ(want.height, reader.Byte());
        EXPECT_EQ(want.colorCount, reader.Byte());
        EXPECT_EQ(0, reader.Byte());  // reserved
        EXPECT_EQ(1, reader.Word());  // planes
        EXPECT_EQ(want.bitCount, reader.Word());
        EXPECT_EQ(want.bytes, reader.Dword());
        EXPECT_EQ(group.firstImage + i, reader.Word());
    }
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(bytes->size(), reader.Position());
}

TEST_P(IconGroupTest, ImagesAreBitmapsWithMask) {
    const IconGroupCase& group = GetParam();
    for (WORD i = 0; i < 8; ++i) {
        SCOPED_TRACE("image " + std::to_string(group.firstImage + i));
        const IconEntry& want = kIconEntries[i];
        const auto image = ReadResource(MAKEINTRESOURCEW(3), group.firstImage + i, group.language);
        ASSERT_TRUE(image.has_value());
        ASSERT_EQ(want.bytes, image->size());
        static const BYTE png[] = {0x89, 'P', 'N', 'G'};
        EXPECT_NE(0, std::memcmp(image->data(), png, sizeof png));
        Reader header(*image);
        EXPECT_EQ(40u, header.Dword());  // BITMAPINFOHEADER
        EXPECT_EQ(want.width, static_cast<LONG>(header.Dword()));
        // The height counts the colour image and the AND mask.
        EXPECT_EQ(2 * want.height, static_cast<LONG>(header.Dword()));
        EXPECT_EQ(1, header.Word());
        EXPECT_EQ(want.bitCount, header.Word());
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.Dword());
    }
}

TEST_P(IconGroupTest, ImagesEqualTheEnglishOnesByteForByte) {
    const IconGroupCase& group = GetParam();
    for (WORD i = 0; i < 8; ++i) {
        SCOPED_TRACE("image " + std::to_string(group.firstImage + i));
        const auto image = ReadResource(MAKEINTRESOURCEW(3), group.firstImage + i, group.language);
        const auto english = ReadResource(MAKEINTRESOURCEW(3), 17 + i, kEnglish);
        ASSERT_TRUE(image.has_value());
        ASSERT_TRUE(english.has_value());
        EXPECT_TRUE(*image == *english);
    }
}

INSTANTIATE_TEST_SUITE_P(ResourcesTest, IconGroupTest, testing::ValuesIn(kIconGroups),
                         [](const testing::TestParamInfo<IconGroupCase>& info) {
                             return std::string(LanguageName(info.param.language));
                         });

// ---------------------------------------------------------------------------
// Version block

struct VersionNode {
    std::wstring key;
    WORD type = 0;        // 1 text, 0 binary
    WORD valueLength = 0;
    std::vector<BYTE> value;
    std::wstring text;    // the value of a text node, up to its NUL
    std::vector<VersionNode> children;
};

// One node of the version block: length, value length, type, key, then the
// value and the children, each on a DWORD boundary.
bool ParseVersionNode(const std::vector<BYTE>& bytes, size_t offset, VersionNode& node, size_t& next) {
    Reader reader(bytes);
    reader.Seek(offset);
    const WORD length = reader.Word();
    node.valueLength = reader.Word();
    node.type = reader.Word();
    node.key = reader.String();
    reader.AlignToDword();
    const size_t end = offset + length;
    if (reader.Failed() || length < 6 || end > bytes.size()) return false;
    const size_t valueBytes = node.type == 1 ? node.valueLength * 2u : node.valueLength;
    if (reader.Position() + valueBytes > end) return false;
    node.value.assign(bytes.begin() + static_cast<std::ptrdiff_t>(reader.Position()),
                      bytes.begin() + static_cast<std::ptrdiff_t>(reader.Position() + valueBytes));
    if (node.type == 1) {
        Reader text(node.value);
        node.text = text.String();
    }
    reader.Seek(reader.Position() + valueBytes);
    reader.AlignToDword();
    size_t child = reader.Position();
    while (child < end) {
        VersionNode sub;
        size_t after = 0;
        if (!ParseVersionNode(bytes, child, sub, after) || after > end) return false;
        node.children.push_back(std::move(sub));
        child = (after + 3) & ~size_t{3};
    }
    next = end;
    return true;
}

struct VersionCase {
    WORD language;
    const wchar_t* tableKey;
    WORD translationLanguage;
    const wchar_t* description;
};

const VersionCase kVersions[] = {
    {kGerman, L"040704B0", 0x0407, L"Installationsdatei von Norvalis"},
    {kEnglish, L"040904B0", 0x0409, L"Norvalis setup file"},
    // Filed under Russian, while its key and translation name US English.
    {kRussian, L"040904b0", 0x0409, L"Установочный файл Norvalis"},
};

void PrintTo(const VersionCase& value, std::ostream* out) {
    *out << LanguageName(value.language);
}

class VersionBlockTest : public testing::TestWithParam<VersionCase> {
protected:
    void SetUp() override {
        const auto bytes = ReadResource(MAKEINTRESOURCEW(16), 1, GetParam().language);
        ASSERT_TRUE(bytes.has_value());
        m_bytes = *bytes;
        size_t end = 0;
        ASSERT_TRUE(ParseVersionNode(m_bytes, 0, m_root, end)) << "malformed version block";
        EXPECT_EQ(m_bytes.size(), end);
    }

    std::vector<BYTE> m_bytes;
    VersionNode m_root;
};

TEST_P(VersionBlockTest, FixedPartHoldsTheVersionAndFileKind) {
    EXPECT_EQ(L"VS_VERSION_INFO", m_root.key);
    EXPECT_EQ(0, m_root.type);
    ASSERT_EQ(52u, m_root.value.size());
    Reader fixed(m_root.value);
    EXPECT_EQ(0xFEEF04BDu, fixed.Dword());  // signature
    fixed.Dword();                          // structure version: not ours to choose
    EXPECT_EQ(0x00010000u, fixed.Dword());  // file version 1.0
    EXPECT_EQ(0x00000000u, fixed.Dword());  //              .0.0
    EXPECT_EQ(0x00010000u, fixed.Dword());  // product version, the same
    EXPECT_EQ(0x00000000u, fixed.Dword());
    EXPECT_EQ(0x3Fu, fixed.Dword());        // flags mask
    EXPECT_EQ(0u, fixed.Dword());           // flags
    EXPECT_EQ(0x00040004u, fixed.Dword());  // VOS_NT_WINDOWS32
    EXPECT_EQ(1u, fixed.Dword());           // VFT_APP
    EXPECT_EQ(0u, fixed.Dword());           // subtype
    EXPECT_EQ(0u, fixed.Dword());           // date
    EXPECT_EQ(0u, fixed.Dword());
    EXPECT_FALSE(fixed.Failed());
}

TEST_P(VersionBlockTest, StringTableHoldsTheEntriesInOrder) {
    const VersionCase& expected = GetParam();
    ASSERT_EQ(2u, m_root.children.size());
    const VersionNode& strings = m_root.children[0];
    EXPECT_EQ(L"StringFileInfo", strings.key);
    ASSERT_EQ(1u, strings.children.size());
    const VersionNode& table = strings.children[0];
    EXPECT_EQ(std::wstring(expected.tableKey), table.key);

    const std::vector<std::pair<std::wstring, std::wstring>> entries = {
        {L"CompanyName", L"Norvalis"},
        {L"FileDescription", expected.description},
        {L"FileVersion", L"1.0.0.0"},
        {L"InternalName", L"Setup.exe"},
        {L"LegalCopyright", L"Copyright (C) 2026 Norvalis"},
        {L"OriginalFilename", L"Setup.exe"},
        {L"ProductName", L"Norvalis"},
        {L"ProductVersion", L"1.0.0.0"},
    };
    ASSERT_EQ(entries.size(), table.children.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(Narrow(entries[i].first));
        const VersionNode& entry = table.children[i];
        EXPECT_EQ(entries[i].first, entry.key);
        EXPECT_EQ(1, entry.type);
        EXPECT_EQ(entries[i].second, entry.text);
        // VerQueryValue reports this length: the characters and their NUL.
        EXPECT_EQ(entries[i].second.size() + 1, entry.valueLength);
        EXPECT_TRUE(entry.children.empty());
    }
}

TEST_P(VersionBlockTest, TranslationNamesLanguageAndUnicode) {
    const VersionCase& expected = GetParam();
    ASSERT_EQ(2u, m_root.children.size());
    const VersionNode& variables = m_root.children[1];
    EXPECT_EQ(L"VarFileInfo", variables.key);
    ASSERT_EQ(1u, variables.children.size());
    const VersionNode& translation = variables.children[0];
    EXPECT_EQ(L"Translation", translation.key);
    EXPECT_EQ(0, translation.type);
    ASSERT_EQ(4u, translation.value.size());
    Reader pair(translation.value);
    EXPECT_EQ(expected.translationLanguage, pair.Word());
    EXPECT_EQ(1200, pair.Word());
}

INSTANTIATE_TEST_SUITE_P(ResourcesTest, VersionBlockTest, testing::ValuesIn(kVersions),
                         [](const testing::TestParamInfo<VersionCase>& info) {
                             return std::string(LanguageName(info.param.language));
                         });

// ---------------------------------------------------------------------------
// Manifest

TEST(ResourcesTest, ManifestExistsOnlyInEnglish) {
    EXPECT_TRUE(ReadResource(MAKEINTRESOURCEW(24), 1, kEnglish).has_value());
    EXPECT_FALSE(ReadResource(MAKEINTRESOURCEW(24), 1, kGerman).has_value());
    EXPECT_FALSE(ReadResource(MAKEINTRESOURCEW(24), 1, kRussian).has_value());
}

TEST(ResourcesTest, ManifestDeclaresItsElementsInOrder) {
    const auto bytes = ReadResource(MAKEINTRESOURCEW(24), 1, kEnglish);
    ASSERT_TRUE(bytes.has_value());
    ASSERT_GE(bytes->size(), 3u);
    EXPECT_EQ(0xEF, (*bytes)[0]);
    EXPECT_EQ(0xBB, (*bytes)[1]);
    EXPECT_EQ(0xBF, (*bytes)[2]);
    const std::string manifest(bytes->begin() + 3, bytes->end());

    // Each fragment must appear after the one before it; a closing "/>" shows
    // that the element carries no further attributes.
    const char* const fragments[] = {
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)",
        R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)",
        R"(<assemblyIdentity name="MyApplication.app" version="1.0.0.0"/>)",
        R"(<dependency>)",
        R"(<dependentAssembly>)",
        R"(<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" )"
        R"(processorArchitecture="x86" publicKeyToken="6595b64144ccf1df" language="*"/>)",
        R"(</dependency>)",
        R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">)",
        R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)",
        R"(</trustInfo>)",
        R"(<windowsSettings>)",
        R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>)",
        R"(</windowsSettings>)",
        R"(<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">)",
        R"(<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>)",  // Vista
        R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)",  // 7
        R"(<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>)",  // 8.1
        R"(<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>)",  // 8
        R"(</compatibility>)",
        R"(</assembly>)",
    };
    size_t position = 0;
    for (const char* fragment : fragments) {
        const size_t found = manifest.find(fragment, position);
        EXPECT_NE(std::string::npos, found) << "missing or out of order: " << fragment;
        if (found != std::string::npos) position = found + std::strlen(fragment);
    }
}

TEST(ResourcesTest, ManifestNamesNoLaterWindows) {
    const auto bytes = ReadResource(MAKEINTRESOURCEW(24), 1, kEnglish);
    ASSERT_TRUE(bytes.has_value());
    const std::string manifest(bytes->begin(), bytes->end());
    size_t count = 0;
    for (size_t at = manifest.find("<supportedOS"); at != std::string::npos;
         at = manifest.find("<supportedOS", at + 1))
        ++count;
    EXPECT_EQ(4u, count);
    // Windows 10 and 11 share this id.
    EXPECT_EQ(std::string::npos, manifest.find("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"));
}

}  // namespace
