#pragma once
// The in-memory INI image: the settings file is read into it once, handlers
// read and write values in memory, and the whole image is written back at once.

#include "Zel_base.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class EIniFileError : public Exception {
public:
    using Exception::Exception;
};

// Section and key names are equal when they match ignoring ASCII letter case.
bool SameIniName(std::string_view a, std::string_view b) noexcept;

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
    // Open-addressing index from a name's hash to the position of the first
    // item of that name; the names themselves stay with their items.
    class TNameTable {
    public:
        template <typename TNameAt>
        std::size_t Find(std::string_view name, std::size_t hash, TNameAt nameAt) const;
        // Keeps an existing entry of the same name: the first one wins.
        template <typename TNameAt>
        void Insert(std::size_t hash, std::size_t index, TNameAt nameAt);
        void Reserve(std::size_t count);
        void Clear() noexcept;

    private:
        // Half the size of full-width slots, so twice as many stay in cache.
        struct TSlot {
            std::uint32_t Hash;
            std::uint32_t Index; // Empty: no entry
        };
        static constexpr std::uint32_t Empty = UINT32_MAX;
        void Rehash(std::size_t size);
        std::vector<TSlot> FSlots;
        std::size_t FCount = 0;
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
        // Built once a section grows large, so key lookups stay cheap.
        std::unique_ptr<TNameTable> KeyIndex;
    };

    std::size_t SectionIndex(std::string_view section) const; // npos when missing
    const TSection* FindSection(std::string_view section) const;
    static const TLine* FindLine(const TSection& section, std::string_view ident);
    TSection& AddSection(std::string name);
    static void AddLine(TSection& section, std::string text, std::size_t eq);

    std::string FFileName;
    std::vector<TSection> FSections;
    TNameTable FSectionIndex;
};

// Called with the temporary file's descriptor right after UpdateFile opened it;
// a test can dup2 another file (such as /dev/full) onto it. Empty: no hook.
void SetIniFileWriteHookForTesting(std::function<void(int fd)> hook);
