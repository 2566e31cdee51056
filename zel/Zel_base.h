#pragma once
// Framework stand-ins: the exception hierarchy every unit builds on.

#include <exception>
#include <string>

// Base of every exception of the program. Carries one fixed sentence.
class Exception : public std::exception {
public:
    explicit Exception(std::string message = std::string());
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Silent abort: ends the current operation and is never shown to the user.
class EAbort : public Exception {
public:
    EAbort();
    explicit EAbort(std::string message) : Exception(std::move(message)) {}
};

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list's bounds.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Throws EListError "List index out of bounds (%d)." unless 0 <= index < count.
void CheckListIndex(long long index, long long count);

// True for EAbort and every exception derived from it.
bool IsAbort(const std::exception& e) noexcept;

// The system's own text for an errno value ("No such file or directory"),
// safe on any thread.
std::string SystemErrorText(int error);
