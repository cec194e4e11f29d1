#include "device/driver_channel.h"

#include <mutex>
#include <new>

#include "device/driver_records.h"
#include "platform/win32_errors.h"

namespace nadixq {
namespace {

using platform::kErrorInvalidHandle;
using platform::kErrorNoMoreItems;

struct Registration {
    platform::Guid interfaceClass;
    IDriver* driver;
    IDriver* fallback;
};

struct Registry {
    std::mutex mutex;
    Registration entries[4] = {};
    int count = 0;

    Registry() = default;
};

Registry& RawRegistry() {
    static Registry registry;
    return registry;
}

// Set on the thread that registers the built-in drivers, whose own
// RegisterDriver calls must not wait for their registration to finish.
thread_local bool t_registeringBuiltIns = false;

Registry& TheRegistry() {
    static std::once_flag builtIns;
    if (!t_registeringBuiltIns) {
        std::call_once(builtIns, [] {
            t_registeringBuiltIns = true;
            RegisterBuiltInDrivers();
            t_registeringBuiltIns = false;
        });
    }
    return RawRegistry();
}

// What a handle points at: an in-process session or a system handle.
struct Channel {
    std::unique_ptr<IDriverSession> session;
    platform::SystemDevice system = platform::InvalidSystemDevice();
};

// The class's entry, made when missing (null when the table is full).
// Called with the registry's mutex held.
Registration* EntryLocked(Registry& registry, const platform::Guid& interfaceClass, bool make) {
    for (int i = 0; i < registry.count; ++i) {
        if (SameGuid(registry.entries[i].interfaceClass, interfaceClass)) {
            return &registry.entries[i];
        }
    }
    if (!make || registry.count == 4) return nullptr;
    Registration* entry = &registry.entries[registry.count++];
    *entry = {interfaceClass, nullptr, nullptr};
    return entry;
}

}  // namespace

void RegisterDriver(const platform::Guid& interfaceClass, IDriver* driver) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (Registration* entry = EntryLocked(registry, interfaceClass, true)) entry->driver = driver;
}

void UnregisterDriver(const platform::Guid& interfaceClass) {
    RegisterDriver(interfaceClass, nullptr);
}

IDriver* RegisteredDriver(const platform::Guid& interfaceClass) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    Registration* entry = EntryLocked(registry, interfaceClass, false);
    return entry != nullptr ? entry->driver : nullptr;
}

void RegisterFallbackDriver(const platform::Guid& interfaceClass, IDriver* driver) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (Registration* entry = EntryLocked(registry, interfaceClass, true)) entry->fallback = driver;
}

IDriver* FallbackDriver(const platform::Guid& interfaceClass) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    Registration* entry = EntryLocked(registry, interfaceClass, false);
    return entry != nullptr ? entry->fallback : nullptr;
}

DeviceHandle OpenDeviceInterface(const platform::Guid& interfaceClass, uint32_t memberIndex,
                                 uint32_t* error) {
    uint32_t status = 0;
    auto channel = std::unique_ptr<Channel>(new (std::nothrow) Channel);
    if (!channel) {
        if (error != nullptr) *error = platform::kErrorNotEnoughMemory;
        return InvalidDeviceHandle();
    }
    if (IDriver* driver = RegisteredDriver(interfaceClass)) {
        status = kErrorNoMoreItems;
        channel->session = driver->Open(interfaceClass, memberIndex, &status);
        if (!channel->session && status == 0) status = kErrorNoMoreItems;
    } else {
        channel->system = platform::OpenSystemDevice(interfaceClass, memberIndex, &status);
        if (channel->system == platform::InvalidSystemDevice() && status == 0) {
            status = platform::kErrorOpenFailed;
        }
    }
    // Only where nothing of the class is present: a board that is there but
    // fails to open keeps its error rather than being replaced unnoticed.
    if (status == kErrorNoMoreItems) {
        if (IDriver* fallback = FallbackDriver(interfaceClass)) {
            channel->session = fallback->Open(interfaceClass, memberIndex, &status);
            if (!channel->session && status == 0) status = kErrorNoMoreItems;
        }
    }
    if (error != nullptr) *error = status;
    if (status != 0) return InvalidDeviceHandle();
    return channel.release();
}

bool DeviceControl(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                   uint32_t outSize) {
    uint32_t error = kErrorInvalidHandle;
    bool ok = false;
    if (IsValidDeviceHandle(handle)) {
        auto* channel = static_cast<Channel*>(handle);
        if (channel->session) {
            ok = channel->session->Control(code, in, inSize, out, outSize, &error);
        } else {
            ok = platform::SystemDeviceControl(channel->system, code, in, inSize, out, outSize,
                                               &error);
        }
    }
    if (!ok) platform::SetLastError(error);
    return ok;
}

void CloseDevice(DeviceHandle handle) {
    if (!IsValidDeviceHandle(handle)) return;
    auto* channel = static_cast<Channel*>(handle);
    if (!channel->session) platform::CloseSystemDevice(channel->system);
    delete channel;
}

}  // namespace nadixq
