#include "core/service_table.h"

#include <map>
#include <new>
#include <string>

#include "core/activation.h"
#include "core/raise.h"
#include "core/utility.h"

namespace tavo::core {
namespace {

using Key = std::basic_string<COM_WCHAR>;

// Keys compare by their 16-bit characters; entries hold one reference each
// and are never removed. Created on first use, never destroyed: its objects
// live until the process ends. Unguarded: callers serialise their calls.
std::map<Key, COM_IUnknown*>* g_table = nullptr;

// Decimal text of a signed 32-bit value, into a buffer of 20 characters.
void AppendDecimal(Key& key, int32_t value) {
    COM_WCHAR digits[20];
    int n = 0;
    int64_t v = value;
    bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[n++] = COM_WCHAR('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) key.push_back('-');
    while (n > 0) key.push_back(digits[--n]);
}

} // namespace

COM_HRESULT GetService(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out) {
    if (!g_table) {
        g_table = new (std::nothrow) std::map<Key, COM_IUnknown*>();
        if (!g_table) return E_OUTOFMEMORY;
    }
    return Guarded([&]() -> COM_HRESULT {
        utlAutoBstr clsidText;
        Check(CLSIDToString(clsid, clsidText.Put()));
        Key key(clsidText.Get(), COM_SysStringLen(clsidText.Get()));
        AppendDecimal(key, context);

        auto found = g_table->find(key);
        if (found != g_table->end()) return found->second->QueryInterface(iid, out);

        const COM_HRESULT created = Check(CreateInstance(clsid, context, iid, out));
        // Held here until it is entered: when the entry cannot be made, the
        // caller gets E_OUTOFMEMORY and no object.
        utlAutoIf<COM_IUnknown> object(static_cast<COM_IUnknown*>(*out));
        *out = nullptr;
        if (!object.Get()) return created; // nothing to share
        // The activation may have entered the same key meanwhile (a nested
        // request): the new object then stays with the caller only.
        const bool entered = g_table->emplace(std::move(key), object.Get()).second;
        if (entered) object->AddRef();
        *out = object.Detach();
        return entered ? created : E_UNEXPECTED;
    });
}

} // namespace tavo::core
