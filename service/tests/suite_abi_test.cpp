// The service's own copy of the suite's interface (suite.h, OrvaneComm.def) against the
// stand-ins' headers, which are written from the suite's side: a difference stops the build, so
// nothing here runs. The table entries are called by number and proved by the end-to-end
// forwarding tests.
#include <type_traits>

#include "OrvaneComm.h"
#include "OrvaneComponents.h"
#include "event_record.h"
#include "store_forward.h"
#include "suite.h"

namespace {

constexpr bool SameGuid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

static_assert(SameGuid(kLocalSystemClass, orvane_components::kLocalSystemClsid), "local-system class");
static_assert(SameGuid(kLocalSystemInterface, orvane_components::kLocalSystemIid), "local-system interface");
static_assert(SameGuid(kServerListClass, orvane_components::kServerListClsid), "server-list class");
static_assert(SameGuid(kServerListInterface, orvane_components::kServerListIid), "server-list interface");
static_assert(kRecordAccepted == orvane_comm::kStored,
              "what the delivery function returns for a record it took");
static_assert(kEventRecordSize == orvane_comm::kRecordSize, "the record's size");
static_assert(kHostOffset == orvane_comm::kHostOffset && kHostSize == orvane_comm::kHostSize,
              "the host slot");
// Both headers declare the delivery function; were the two declarations to differ, this unit
// would not compile.
static_assert(std::is_same<decltype(&OrvaneDeliver), OrvaneDeliverFn>::value, "the delivery function");

}  // namespace
