#pragma once
// Application constants, the base application error and the settings handlers.

#include "Zel_base.h"

extern const char* const AppTitle; // "Dorvane"

class EAppError : public Exception {
public:
    using Exception::Exception;
};
