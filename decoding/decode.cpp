#include "decoding/decoding.h"

namespace tavo::decoding {

COM_HRESULT MkParseName(const COM_WCHAR*, uint32_t*, COM_IMoniker**) { return E_NOTIMPL; }
COM_HRESULT DecodeHRESULT(COM_HRESULT, void*, COM_BSTR*) { return E_NOTIMPL; }

} // namespace tavo::decoding
