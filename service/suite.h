// The Orvane suite's parts that the service calls: the delivery function of its communication
// library (bound by ordinal) and its two COM components, reached by table entry.
#pragma once

#include <windows.h>
#include <objbase.h>

// kRecordAccepted (store_forward.h) when the destination took the record.
extern "C" __declspec(dllimport) int __cdecl OrvaneDeliver(const char* destination,
                                                           const unsigned char* record);

constexpr DWORD kSuiteClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// {55BFDBEE-203B-43A6-A065-8AED8675E329}, interface {E245C4FB-537A-4E22-BD79-EDF3C35E6C45}
constexpr CLSID kLocalSystemClass = {
    0x55BFDBEE, 0x203B, 0x43A6, {0xA0, 0x65, 0x8A, 0xED, 0x86, 0x75, 0xE3, 0x29}};
constexpr IID kLocalSystemInterface = {
    0xE245C4FB, 0x537A, 0x4E22, {0xBD, 0x79, 0xED, 0xF3, 0xC3, 0x5E, 0x6C, 0x45}};
constexpr int kEntryGetLocalServerId = 20;  // (BSTR* id)

// {DA3E0536-43C2-4F09-88AF-81D6309BD79E}, interface {8178CC10-87BD-4ECF-A08D-44EED9A9F536}
constexpr CLSID kServerListClass = {
    0xDA3E0536, 0x43C2, 0x4F09, {0x88, 0xAF, 0x81, 0xD6, 0x30, 0x9B, 0xD7, 0x9E}};
constexpr IID kServerListInterface = {
    0x8178CC10, 0x87BD, 0x4ECF, {0xA0, 0x8D, 0x44, 0xEE, 0xD9, 0xA9, 0xF5, 0x36}};
constexpr int kEntryRefresh = 29;    // ()
constexpr int kEntryGetCount = 32;   // (long* count)
constexpr int kEntryGetServer = 33;  // (long index, BSTR* id)

// Calls entry `index` of the object's table; every entry is __stdcall with the object first.
template <typename... Args>
HRESULT CallEntry(IUnknown* object, int index, Args... args) {
    using Entry = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
    Entry* table = *reinterpret_cast<Entry**>(object);
    return table[index](object, args...);
}
