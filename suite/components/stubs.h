// Every table entry that the stand-ins do not implement answers E_NOTIMPL.
#pragma once

#define OV_NOTIMPL(n) \
    HRESULT STDMETHODCALLTYPE Reserved##n() override { return E_NOTIMPL; }
