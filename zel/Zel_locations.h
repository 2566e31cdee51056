#pragma once
// Where the program finds itself and the user's directories, and the few
// questions about them that choosing a settings location needs.

#include <string>

// The running executable's full path, symbolic links resolved; empty when the
// system cannot tell.
std::string ExecutableFileName();

// $HOME, or the home directory of the user's account; empty when neither is known.
std::string HomeDirectory();

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; empty when
// no home directory is known.
std::string ConfigHomeDirectory();

// True when path names a regular file (symbolic links followed).
bool IsExistingFile(const std::string& path);

// True when path names a directory (symbolic links followed).
bool IsExistingDirectory(const std::string& path);

// True when dir is a directory in which this process may create files.
bool IsWritableDirectory(const std::string& dir);

// Creates dir and its missing parents (private to the user, 0700). True when
// dir is a directory afterwards.
bool ForceDirectories(const std::string& dir);
