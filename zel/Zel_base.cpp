#include "Zel_base.h"

#include <system_error>
#include <utility>

Exception::Exception(std::string message) : FMessage(std::move(message)) {}

EAbort::EAbort() : Exception("Operation aborted") {}

void CheckListIndex(long long index, long long count)
{
    if (index < 0 || index >= count)
        throw EListError("List index out of bounds (" + std::to_string(index) + ").");
}

bool IsAbort(const std::exception& e) noexcept
{
    return dynamic_cast<const EAbort*>(&e) != nullptr;
}

std::string SystemErrorText(int error)
{
    return std::generic_category().message(error);
}
