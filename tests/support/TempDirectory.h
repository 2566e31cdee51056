#pragma once
// A fresh directory under $TMPDIR (or /tmp) for one test, removed with all
// its contents when the object goes, however deep they are nested.

#include <string>

class TTempDirectory {
public:
    TTempDirectory();
    TTempDirectory(const TTempDirectory&) = delete;
    TTempDirectory& operator=(const TTempDirectory&) = delete;
    ~TTempDirectory();

    // The directory's absolute path, without links in it.
    const std::string& Path() const noexcept { return FPath; }
    // Path() + "/" + name.
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

    // Creates a file under the directory with the given contents; returns its path.
    std::string WriteFile(const std::string& name, const std::string& contents = std::string()) const;
    // Creates a directory under the directory; returns its path.
    std::string MakeDir(const std::string& name) const;

private:
    std::string FPath;
};

// The whole file's bytes; empty when it cannot be read.
std::string ReadFileText(const std::string& path);
