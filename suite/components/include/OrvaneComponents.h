// The suite's two COM components (stand-ins): identifiers, registry keys and the interfaces'
// tables. The callers bind to table entries by position, so the order of declarations below is the
// contract: entries 0-2 are IUnknown's, and every entry up to 39 exists.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

namespace orvane_components {

// {55BFDBEE-203B-43A6-A065-8AED8675E329}
inline constexpr CLSID kLocalSystemClsid = {
    0x55BFDBEE, 0x203B, 0x43A6, {0xA0, 0x65, 0x8A, 0xED, 0x86, 0x75, 0xE3, 0x29}};
// {E245C4FB-537A-4E22-BD79-EDF3C35E6C45}
inline constexpr IID kLocalSystemIid = {
    0xE245C4FB, 0x537A, 0x4E22, {0xBD, 0x79, 0xED, 0xF3, 0xC3, 0x5E, 0x6C, 0x45}};
// {DA3E0536-43C2-4F09-88AF-81D6309BD79E}
inline constexpr CLSID kServerListClsid = {
    0xDA3E0536, 0x43C2, 0x4F09, {0x88, 0xAF, 0x81, 0xD6, 0x30, 0x9B, 0xD7, 0x9E}};
// {8178CC10-87BD-4ECF-A08D-44EED9A9F536}
inline constexpr IID kServerListIid = {
    0x8178CC10, 0x87BD, 0x4ECF, {0xA0, 0x8D, 0x44, 0xEE, 0xD9, 0xA9, 0xF5, 0x36}};

constexpr const char* kLocalSystemKey = "Software\\Telmora\\Orvane\\StandIn\\LocalSystem";
constexpr const char* kAnnouncedClassesValue = "AnnouncedClasses";
constexpr const char* kLocalServerIdValue = "LocalServerId";
constexpr const char* kDefaultLocalServerId = "ORVANE-LOCAL";
constexpr const char* kKeysPresent = "keys-present";
constexpr const char* kKeysAbsent = "keys-absent";

constexpr const char* kServerListKey = "Software\\Telmora\\Orvane\\StandIn\\ServerList";
constexpr const char* kRefreshCountValue = "RefreshCount";
constexpr const char* kServersValue = "Servers";

constexpr int kTableEntries = 40;

}  // namespace orvane_components

// Entries nobody calls: they take no arguments besides the interface and answer E_NOTIMPL.
#define OV_RESERVED(n) virtual HRESULT STDMETHODCALLTYPE Reserved##n() = 0;

struct IOrvaneLocalSystem : public IUnknown {
    OV_RESERVED(3)
    OV_RESERVED(4)
    OV_RESERVED(5)
    OV_RESERVED(6)
    // Entry 7: records the announcement in AnnouncedClasses.
    virtual HRESULT STDMETHODCALLTYPE RegisterAddinClass(const CLSID* clsid, long value) = 0;
    OV_RESERVED(8)
    OV_RESERVED(9)
    OV_RESERVED(10)
    OV_RESERVED(11)
    OV_RESERVED(12)
    OV_RESERVED(13)
    OV_RESERVED(14)
    OV_RESERVED(15)
    OV_RESERVED(16)
    OV_RESERVED(17)
    OV_RESERVED(18)
    OV_RESERVED(19)
    // Entry 20: a new BSTR with LocalServerId; the caller frees it.
    virtual HRESULT STDMETHODCALLTYPE GetLocalServerId(BSTR* id) = 0;
    OV_RESERVED(21)
    OV_RESERVED(22)
    OV_RESERVED(23)
    OV_RESERVED(24)
    OV_RESERVED(25)
    OV_RESERVED(26)
    OV_RESERVED(27)
    OV_RESERVED(28)
    OV_RESERVED(29)
    OV_RESERVED(30)
    OV_RESERVED(31)
    OV_RESERVED(32)
    OV_RESERVED(33)
    OV_RESERVED(34)
    OV_RESERVED(35)
    OV_RESERVED(36)
    OV_RESERVED(37)
    OV_RESERVED(38)
    OV_RESERVED(39)
};

struct IOrvaneServerList : public IUnknown {
    OV_RESERVED(3)
    OV_RESERVED(4)
    OV_RESERVED(5)
    OV_RESERVED(6)
    OV_RESERVED(7)
    OV_RESERVED(8)
    OV_RESERVED(9)
    OV_RESERVED(10)
    OV_RESERVED(11)
    OV_RESERVED(12)
    OV_RESERVED(13)
    OV_RESERVED(14)
    OV_RESERVED(15)
    OV_RESERVED(16)
    OV_RESERVED(17)
    OV_RESERVED(18)
    OV_RESERVED(19)
    OV_RESERVED(20)
    OV_RESERVED(21)
    OV_RESERVED(22)
    OV_RESERVED(23)
    OV_RESERVED(24)
    OV_RESERVED(25)
    OV_RESERVED(26)
    OV_RESERVED(27)
    OV_RESERVED(28)
    // Entry 29: counts the call in RefreshCount.
    virtual HRESULT STDMETHODCALLTYPE Refresh() = 0;
    OV_RESERVED(30)
    OV_RESERVED(31)
    // Entry 32: how many strings Servers holds.
    virtual HRESULT STDMETHODCALLTYPE GetCount(long* count) = 0;
    // Entry 33: the server at `index` from 0 as a new BSTR; null and E_INVALIDARG out of range.
    virtual HRESULT STDMETHODCALLTYPE GetServer(long index, BSTR* id) = 0;
    OV_RESERVED(34)
    OV_RESERVED(35)
    OV_RESERVED(36)
    OV_RESERVED(37)
    OV_RESERVED(38)
    OV_RESERVED(39)
};

#undef OV_RESERVED
