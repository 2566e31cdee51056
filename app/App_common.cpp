#include "App_common.h"

const char* const AppTitle = "Dorvane";
