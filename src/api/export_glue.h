// What every export shares: the handle is the interface object itself, no
// exception reaches a C caller, and close destroys only what it could close.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

namespace recmux::api {

template <typename Interface, typename Handle, typename Operation>
int32_t Forward(Handle *handle, Operation operation) noexcept
{
    if (!handle)
        return 1;
    try {
        return operation(*reinterpret_cast<Interface *>(handle)) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

template <typename Implementation, typename Interface, typename Handle, typename OpenOperation>
Handle *Create(OpenOperation open) noexcept
{
    try {
        std::unique_ptr<Interface> object(new (std::nothrow) Implementation());
        if (!object || !open(*object))
            return nullptr;
        return reinterpret_cast<Handle *>(object.release());
    } catch (...) {
        return nullptr;
    }
}

template <typename Interface, typename Handle>
int32_t CloseAndDestroy(Handle **handle) noexcept
{
    if (!handle || Forward<Interface>(*handle, [](Interface &object) { return object.Close(); }) != 0)
        return 1;
    delete reinterpret_cast<Interface *>(*handle);
    *handle = nullptr;
    return 0;
}

}  // namespace recmux::api
