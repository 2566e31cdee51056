#include "Zel_inifiles.h"

#include "Zel_translations.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const ReadErrorMessage = TrNoop("The program could not read the settings file.");
const char* const WriteErrorMessage = TrNoop("The program could not write the settings file.");

// Sections with more lines than this get a key index.
constexpr std::size_t KeyIndexThreshold = 16;

std::function<void(int)>& WriteHook()
{
    static std::function<void(int)> hook;
    return hook;
}

unsigned char FoldCase(unsigned char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Blanks and control characters count as white space, as in the files'
// traditional readers; bytes of multi-byte characters are never trimmed.
bool IsBlank(char c) noexcept
{
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) noexcept
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// A line break inside a name or a value would split its line in the file.
std::string OneLine(std::string_view s)
{
    std::string result(s);
    for (char& c : result)
        if (c == '\r' || c == '\n')
            c = ' ';
    return result;
}

std::size_t NameHash(std::string_view name) noexcept
{
    std::uint64_t h = 14695981039346656037ull; // FNV-1a over the folded bytes
    for (const char c : name) {
        h ^= FoldCase(static_cast<unsigned char>(c));
        h *= 1099511628211ull;
    }
    // FNV's low bits only see the bytes' low bits; the table indexes by them.
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
}

bool IsDigit(char c, int base) noexcept
{
    if (c >= '0' && c <= '9')
        return true;
    const unsigned char f = FoldCase(static_cast<unsigned char>(c));
    return base == 16 && f >= 'a' && f <= 'f';
}

bool ParseInteger(std::string_view s, int& value) noexcept
{
    s = Trim(s);
    int base = 10;
    std::size_t first = 0; // the first digit
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    } else if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1); // from_chars knows no "+"
    } else if (!s.empty() && s[0] == '-') {
        first = 1;
    }
    // from_chars would take a "-" after "0x" or "+".
    if (s.size() <= first || !IsDigit(s[first], base))
        return false;
    int result = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), result, base);
    if (ec != std::errc() || ptr != s.data() + s.size())
        return false;
    value = result;
    return true;
}

// Closes a descriptor on every way out.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) noexcept : FFd(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Get() const noexcept { return FFd; }
    // Closes now, reporting the result: close can report a failed delayed write.
    bool Close() noexcept
    {
        const int fd = std::exchange(FFd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int FFd;
};

// A temporary file that is removed unless it was renamed into place.
struct TTemporaryFile {
    std::string Path;
    bool Renamed = false;
    ~TTemporaryFile()
    {
        if (!Path.empty() && !Renamed)
            ::unlink(Path.c_str());
    }
};

// Reads the whole file. False when it does not exist; throws when it exists
// but cannot be read (a directory or a FIFO counts as unreadable).
bool ReadWholeFile(const std::string& fileName, std::string& content)
{
    const TFileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        throw EIniFileError(Tr(ReadErrorMessage));
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw EIniFileError(Tr(ReadErrorMessage));
    content.clear();
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n > 0)
            content.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0)
            return true;
        else if (errno != EINTR)
            throw EIniFileError(Tr(ReadErrorMessage));
    }
}

bool WriteAll(int fd, const std::string& data) noexcept
{
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// A symbolic link is written through, so the link itself survives the save.
std::string ResolveTarget(const std::string& fileName)
{
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            std::string result(real);
            std::free(real);
            return result;
        }
    }
    return fileName;
}

void SyncDirectory(const std::string& dir) noexcept
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Best effort: the new file is already in place, and some file
        // systems cannot sync a directory at all.
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool SameIniName(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view TMemIniFile::TLine::Key() const noexcept
{
    return std::string_view(Text).substr(0, Eq);
}

TMemIniFile::TMemIniFile(std::string fileName) : FFileName(std::move(fileName))
{
    std::string content;
    if (ReadWholeFile(FFileName, content))
        SetText(content);
}

TMemIniFile::~TMemIniFile() = default;

template <typename TNameAt>
std::size_t TMemIniFile::TNameTable::Find(std::string_view name, std::size_t hash, TNameAt nameAt) const
{
    if (FSlots.empty())
        return std::string::npos;
    const auto h = static_cast<std::uint32_t>(hash);
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const TSlot& slot = FSlots[i];
        if (slot.Index == Empty)
            return std::string::npos;
        if (slot.Hash == h && SameIniName(nameAt(slot.Index), name))
            return slot.Index;
    }
}

template <typename TNameAt>
void TMemIniFile::TNameTable::Insert(std::size_t hash, std::size_t index, TNameAt nameAt)
{
    if (index >= Empty)
        throw std::length_error("too many settings sections or lines");
    if (Find(nameAt(index), hash, nameAt) != std::string::npos)
        return;
    Reserve(FCount + 1);
    const auto h = static_cast<std::uint32_t>(hash);
    const std::size_t mask = FSlots.size() - 1;
    std::size_t i = h & mask;
    while (FSlots[i].Index != Empty)
        i = (i + 1) & mask;
    FSlots[i] = TSlot{h, static_cast<std::uint32_t>(index)};
    ++FCount;
}

void TMemIniFile::TNameTable::Reserve(std::size_t count)
{
    // At most half full, so probe runs stay short.
    std::size_t size = std::max<std::size_t>(16, FSlots.size());
    while (count * 2 > size)
        size *= 2;
    if (size != FSlots.size())
        Rehash(size);
}

void TMemIniFile::TNameTable::Rehash(std::size_t size)
{
    std::vector<TSlot> old(size, TSlot{0, Empty});
    old.swap(FSlots);
    const std::size_t mask = FSlots.size() - 1;
    for (const TSlot& slot : old)
        if (slot.Index != Empty) {
            std::size_t i = slot.Hash & mask;
            while (FSlots[i].Index != Empty)
                i = (i + 1) & mask;
            FSlots[i] = slot;
        }
}

void TMemIniFile::TNameTable::Clear() noexcept
{
    FSlots.clear();
    FCount = 0;
}

std::size_t TMemIniFile::SectionIndex(std::string_view section) const
{
    return FSectionIndex.Find(section, NameHash(section),
                              [this](std::size_t at) -> std::string_view { return FSections[at].Name; });
}

const TMemIniFile::TSection* TMemIniFile::FindSection(std::string_view section) const
{
    const std::size_t i = SectionIndex(section);
    return i == std::string::npos ? nullptr : &FSections[i];
}

const TMemIniFile::TLine* TMemIniFile::FindLine(const TSection& section, std::string_view ident)
{
    if (section.KeyIndex) {
        const std::size_t i = section.KeyIndex->Find(ident, NameHash(ident),
                                                     [&section](std::size_t at) { return section.Lines[at].Key(); });
        return i == std::string::npos ? nullptr : &section.Lines[i];
    }
    for (const TLine& line : section.Lines)
        if (line.Eq != std::string::npos && SameIniName(line.Key(), ident))
            return &line;
    return nullptr;
}

TMemIniFile::TSection& TMemIniFile::AddSection(std::string name)
{
    FSections.push_back(TSection{std::move(name), {}, nullptr});
    const std::size_t hash = NameHash(FSections.back().Name);
    FSectionIndex.Insert(hash, FSections.size() - 1,
                         [this](std::size_t at) -> std::string_view { return FSections[at].Name; });
    return FSections.back();
}

void TMemIniFile::AddLine(TSection& section, std::string text, std::size_t eq)
{
    section.Lines.push_back(TLine{std::move(text), eq});
    const auto keyAt = [&section](std::size_t at) { return section.Lines[at].Key(); };
    if (section.KeyIndex) {
        if (eq != std::string::npos)
            section.KeyIndex->Insert(NameHash(section.Lines.back().Key()), section.Lines.size() - 1, keyAt);
    } else if (section.Lines.size() > KeyIndexThreshold) {
        section.KeyIndex = std::make_unique<TNameTable>();
        for (std::size_t i = 0; i < section.Lines.size(); ++i)
            if (section.Lines[i].Eq != std::string::npos)
                section.KeyIndex->Insert(NameHash(section.Lines[i].Key()), i, keyAt);
    }
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view ident,
                                    const std::string& defaultValue) const
{
    if (const TSection* s = FindSection(section))
        if (const TLine* line = FindLine(*s, ident))
            return line->Text.substr(line->Eq + 1);
    return defaultValue;
}

int TMemIniFile::ReadInteger(std::string_view section, std::string_view ident, int defaultValue) const
{
    if (const TSection* s = FindSection(section))
        if (const TLine* line = FindLine(*s, ident)) {
            int value = 0;
            if (ParseInteger(std::string_view(line->Text).substr(line->Eq + 1), value))
                return value;
        }
    return defaultValue;
}

bool TMemIniFile::ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

bool TMemIniFile::SectionExists(std::string_view section) const
{
    return FindSection(section) != nullptr;
}

void TMemIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value)
{
    std::string name = OneLine(section);
    std::string key = OneLine(ident);
    std::string text = key + '=' + OneLine(value);
    const std::size_t eq = key.size();

    const std::size_t i = SectionIndex(name);
    TSection* s = i == std::string::npos ? &AddSection(std::move(name)) : &FSections[i];

    if (const TLine* found = FindLine(*s, key)) {
        // The key keeps its place; the writer's spelling of it wins.
        TLine& line = s->Lines[static_cast<std::size_t>(found - s->Lines.data())];
        line.Text = std::move(text);
        line.Eq = eq;
    } else {
        AddLine(*s, std::move(text), eq);
    }
}

void TMemIniFile::WriteInteger(std::string_view section, std::string_view ident, int value)
{
    WriteString(section, ident, std::to_string(value));
}

void TMemIniFile::WriteBool(std::string_view section, std::string_view ident, bool value)
{
    WriteString(section, ident, value ? "1" : "0");
}

void TMemIniFile::Clear()
{
    FSections.clear();
    FSectionIndex.Clear();
}

void TMemIniFile::SetText(std::string_view text)
{
    Clear();
    // An editor may have put a byte order mark in front of the first header.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    // Room for every line that looks like a header, so a file of a million
    // sections is not copied again and again while it is read.
    std::size_t headers = 0;
    for (std::size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at + 1))
        if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r')
            ++headers;
    FSections.reserve(headers);
    FSectionIndex.Reserve(headers);

    TSection* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Lines end in LF, CR LF or a lone CR.
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end;
        if (pos < text.size())
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;

        if (line.empty() || line[0] == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &AddSection(std::string(Trim(line.substr(1, line.size() - 2))));
            continue;
        }
        if (!current)
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            AddLine(*current, std::string(line), std::string::npos);
        } else {
            const std::string_view key = Trim(line.substr(0, eq));
            const std::string_view value = Trim(line.substr(eq + 1));
            std::string joined;
            joined.reserve(key.size() + 1 + value.size());
            joined.append(key).append(1, '=').append(value);
            AddLine(*current, std::move(joined), key.size());
        }
    }
}

std::string TMemIniFile::GetText() const
{
    std::size_t size = 0;
    for (const TSection& s : FSections) {
        size += s.Name.size() + 6;
        for (const TLine& line : s.Lines)
            size += line.Text.size() + 2;
    }
    std::string text;
    text.reserve(size);
    for (const TSection& s : FSections) {
        text.append(1, '[').append(s.Name).append("]\r\n");
        for (const TLine& line : s.Lines)
            text.append(line.Text).append("\r\n");
        text.append("\r\n");
    }
    return text;
}

void TMemIniFile::UpdateFile() const
{
    const std::string text = GetText();
    const std::string target = ResolveTarget(FFileName);
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".")
                            : slash == 0               ? std::string("/")
                                                       : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    // The new file keeps the old one's permissions; a new one gets the
    // usual 0666 less the umask.
    struct stat old {};
    const bool hadFile = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);

    TTemporaryFile temp;
    int opened = -1;
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && opened < 0; ++attempt) {
        char suffix[16];
        const auto r = std::to_chars(suffix, suffix + sizeof suffix, entropy(), 16);
        const std::string name =
            (dir == "/" ? std::string() : dir) + "/." + base + '.' + std::string(suffix, r.ptr) + ".tmp";
        opened = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (opened >= 0)
            temp.Path = name;
        else if (errno != EEXIST)
            break;
    }
    TFileDescriptor fd(opened);
    if (fd.Get() < 0)
        throw EIniFileError(Tr(WriteErrorMessage));

    if (hadFile)
        (void)::fchmod(fd.Get(), old.st_mode & 0777);
    if (WriteHook())
        WriteHook()(fd.Get());

    const bool written = WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0;
    if (!fd.Close() || !written || ::rename(temp.Path.c_str(), target.c_str()) != 0)
        throw EIniFileError(Tr(WriteErrorMessage));
    temp.Renamed = true;
    SyncDirectory(dir);
}

void SetIniFileWriteHookForTesting(std::function<void(int fd)> hook)
{
    WriteHook() = std::move(hook);
}
