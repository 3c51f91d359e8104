// Lets the stand-ins keep what they read from the registry between calls and still see every
// change at once: under Wine each registry read is several round trips to the one wineserver, and
// those round trips bound the whole chain's throughput.
#pragma once

#include <windows.h>

#include "ovwin/handles.h"
#include "ovwin/locks.h"

namespace orvane {

// Watches HKLM\Software and everything below it. So wide because a watched key that is deleted
// and created again would be a new key, and its changes would go unseen; Software itself is never
// deleted, and changes elsewhere below it only cost a reload.
class RegistryWatch {
public:
    // Manual reset: the event stays set until a reload has begun, so a caller that finds it clear
    // and then takes the cache's lock sees either the old settings before any change or the new.
    RegistryWatch() : event_(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_NOTIFY, &key) == ERROR_SUCCESS)
            *key_.put() = key;
    }

    // May be called without the cache's lock: one wait on the event, no registry access.
    bool MayHaveChanged() const { return !event_ || WaitForSingleObject(event_.get(), 0) != WAIT_TIMEOUT; }

    // Called under the cache's lock when MayHaveChanged(): true when the cache must be read again.
    // Re-arms first, so a change made during the reload that follows is reported next time. A
    // spurious signal (Windows signals when the arming thread ends) only costs a reload; without a
    // watch every call reloads.
    bool BeginReload() {
        if (!MayHaveChanged()) return false;  // another caller reloaded meanwhile
        if (key_ && event_ && ResetEvent(event_.get()) &&
            RegNotifyChangeKeyValue(key_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                    event_.get(), TRUE) == ERROR_SUCCESS)
            return true;
        if (event_) SetEvent(event_.get());  // not armed: stay stale
        return true;
    }

private:
    ovwin::UniqueHkey key_;
    ovwin::UniqueHandleT event_;
};

// Settings read through Read() and kept until the registry changes.
template <typename Settings, Settings (*Read)()>
class WatchedSettings {
public:
    Settings Get() {
        bool check = watch_.MayHaveChanged();
        ovwin::CriticalLock hold(lock_);
        if (check && watch_.BeginReload()) current_ = Read();
        return current_;
    }

private:
    RegistryWatch watch_;
    ovwin::CriticalSection lock_;
    Settings current_{};
};

}  // namespace orvane
