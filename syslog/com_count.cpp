#include "com_count.h"

#include <objbase.h>

namespace {

// Every successful CoInitialize, S_FALSE included, owes one CoUninitialize on its thread.
thread_local unsigned long t_initializations = 0;

}  // namespace

long CountedCoInitialize() {
    HRESULT result = CoInitialize(nullptr);
    if (SUCCEEDED(result)) ++t_initializations;
    return result;
}

void UninitializeCounted() {
    for (; t_initializations > 0; --t_initializations) CoUninitialize();
}
