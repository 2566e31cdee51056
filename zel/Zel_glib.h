#pragma once
// Owning holders for GLib objects, strings and errors, so that no path can
// leak or double-free one.
//
//   TGCharPointer type(g_content_type_guess(name, nullptr, 0, nullptr));
//   TGObjectPointer<GAppInfo> info(g_app_info_get_default_for_type(type.get(), FALSE));
//   TGErrorPointer error;
//   g_app_info_launch(info.get(), nullptr, nullptr, TGErrorReceiver(error));

// GIO names a struct member "signals", which Qt's keywords would turn into an
// access specifier when a Qt header came first.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <memory>

struct TGFreeDeleter {
    void operator()(void* p) const noexcept { g_free(p); }
};

struct TGStrvDeleter {
    void operator()(gchar** p) const noexcept { g_strfreev(p); }
};

struct TGObjectDeleter {
    void operator()(gpointer p) const noexcept { g_object_unref(p); }
};

struct TGErrorDeleter {
    void operator()(GError* p) const noexcept { g_error_free(p); }
};

struct TGVariantDeleter {
    void operator()(GVariant* p) const noexcept { g_variant_unref(p); }
};

struct TGObjectListDeleter {
    void operator()(GList* p) const noexcept { g_list_free_full(p, g_object_unref); }
};

// A string that GLib gave us to free with g_free.
using TGCharPointer = std::unique_ptr<gchar, TGFreeDeleter>;

// Any memory to free with g_free: TGFreePointer<guint8> data(...).
template <typename T>
using TGFreePointer = std::unique_ptr<T, TGFreeDeleter>;

// A NULL-terminated string array to free with g_strfreev.
using TGStrvPointer = std::unique_ptr<gchar*, TGStrvDeleter>;

// A GObject reference of ours, dropped with g_object_unref.
template <typename T>
using TGObjectPointer = std::unique_ptr<T, TGObjectDeleter>;

using TGErrorPointer = std::unique_ptr<GError, TGErrorDeleter>;

// A GVariant reference of ours (a reply, or a value we sank).
using TGVariantPointer = std::unique_ptr<GVariant, TGVariantDeleter>;

// A GList that owns a reference to each of its GObjects (g_app_info_get_all).
using TGObjectListPointer = std::unique_ptr<GList, TGObjectListDeleter>;

// Passes a GError** to a GLib call and hands what it sets to a
// TGErrorPointer at the end of the full expression.
class TGErrorReceiver {
public:
    explicit TGErrorReceiver(TGErrorPointer& target) noexcept : FTarget(target) {}
    TGErrorReceiver(const TGErrorReceiver&) = delete;
    TGErrorReceiver& operator=(const TGErrorReceiver&) = delete;
    ~TGErrorReceiver() { FTarget.reset(FError); }
    operator GError**() noexcept { return &FError; }

private:
    TGErrorPointer& FTarget;
    GError* FError = nullptr;
};

// A connection of our own (never GIO's shared one) to the message bus at a
// D-Bus address, authenticated and registered; null, with error set, when the
// bus cannot be reached.
inline TGObjectPointer<GDBusConnection> ConnectMessageBus(const char* address, TGErrorPointer& error)
{
    return TGObjectPointer<GDBusConnection>(g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                          | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, TGErrorReceiver(error)));
}
