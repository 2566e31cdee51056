#include "Zel_base.h"

#include "Zel_translations.h"

#include <system_error>
#include <utility>

Exception::Exception(std::string message) : FMessage(std::move(message)) {}

EAbort::EAbort() : Exception("Operation aborted") {}

void CheckListIndex(long long index, long long count)
{
    if (index < 0 || index >= count) {
        // TRANSLATORS: %1 is the index that was asked for.
        throw EListError(FormatText(Tr("List index out of bounds (%1)."), {std::to_string(index)}));
    }
}

bool IsAbort(const std::exception& e) noexcept
{
    return dynamic_cast<const EAbort*>(&e) != nullptr;
}

std::string SystemErrorText(int error)
{
    return std::generic_category().message(error);
}
