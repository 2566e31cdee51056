#pragma once
// The in-memory INI image: the settings file is read into it once, handlers
// read and write values in memory, and the whole image is written back at once.

#include "Zel_base.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class EIniFileError : public Exception {
public:
    using Exception::Exception;
};

// Hashing and equality of section and key names, ignoring ASCII letter case.
// Transparent, so lookups by string_view need no folded copy.
struct TIniNameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept;
};
struct TIniNameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

class TMemIniFile {
public:
    // Reads the file when it exists; a missing file gives an empty image.
    // Throws EIniFileError when the file exists but cannot be read.
    explicit TMemIniFile(std::string fileName);
    TMemIniFile(const TMemIniFile&) = delete;
    TMemIniFile& operator=(const TMemIniFile&) = delete;
    ~TMemIniFile();

    const std::string& FileName() const noexcept { return FFileName; }

    // The value of the first matching key of the first section of that name.
    std::string ReadString(std::string_view section, std::string_view ident,
                           const std::string& defaultValue) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything else, overflow
    // included, gives the default.
    int ReadInteger(std::string_view section, std::string_view ident, int defaultValue) const;
    // An integer; non-zero is true.
    bool ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const;
    bool SectionExists(std::string_view section) const;

    // Replaces the key's line in place, or appends it to the section, creating
    // the section at the end. Line breaks in the texts become spaces, so a
    // value can never add lines or sections to the file.
    void WriteString(std::string_view section, std::string_view ident, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view ident, int value);
    void WriteBool(std::string_view section, std::string_view ident, bool value);

    void Clear();

    // Replaces the image by the parse of text, as if it were the file's content.
    void SetText(std::string_view text);
    // The file's content as UpdateFile writes it.
    std::string GetText() const;

    // Replaces the file atomically with the image. On failure the previous
    // file is left unchanged and EIniFileError is thrown.
    void UpdateFile() const;

private:
    struct TLine {
        std::string Text;  // "key=value", or a line without "="
        std::size_t Eq;    // position of "=", npos when there is none
        std::string_view Key() const noexcept;
    };
    using TNameIndex = std::unordered_map<std::string, std::size_t, TIniNameHash, TIniNameEqual>;
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
        // Built once a section grows large, so key lookups stay cheap.
        std::unique_ptr<TNameIndex> KeyIndex;
    };

    const TSection* FindSection(std::string_view section) const;
    static const TLine* FindLine(const TSection& section, std::string_view ident);
    TSection& AddSection(std::string name);
    static void AddLine(TSection& section, std::string text, std::size_t eq);

    std::string FFileName;
    std::vector<TSection> FSections;
    TNameIndex FSectionIndex; // folded name -> first section of that name
};

// Called with the temporary file's descriptor right after UpdateFile opened it;
// a test can dup2 another file (such as /dev/full) onto it. Empty: no hook.
void SetIniFileWriteHookForTesting(std::function<void(int fd)> hook);
