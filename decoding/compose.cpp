#include "decoding/compose.h"

#include <new>

#include "decoding/fallback.h"
#include "decoding/message_table.h"
#include "platform/platform.h"

namespace tavo::decoding {
namespace {

constexpr uint32_t kFacilityTavo = 0x6F;
constexpr uint32_t kFacilityTavoCallIn = 0x70;
constexpr uint32_t kFacilityUnix = 0x62;
constexpr uint32_t kFacilityZeroCDns = 0x7C;
constexpr uint32_t kFacilitySsh = 0x10;
// The resolver's codes are stored as their value plus 65538.
constexpr int32_t kZeroCDnsBias = 0x10002;

// The system's narrow text of `code`, converted unchanged; false when the
// system has none.
bool AppendSystemText(WString& out, uint32_t code) {
    plat::LocalAnsiText buffer;
    uint32_t n = plat::FormatMessageA(plat::kSystemMessageFlags, code, 0, buffer.Put());
    if (n == 0 || !buffer) return false;
    // At most one wide character per byte.
    size_t start = out.size();
    out.resize(start + n);
    int32_t wide = plat::MultiByteToWideChar(buffer.Get(), int32_t(n), out.data() + start, int32_t(n));
    if (wide <= 0) throw std::bad_alloc();
    out.resize(start + size_t(wide));
    return true;
}

// The text in front of the code; false when there is none.
bool AppendText(WString& out, uint32_t code) {
    const uint32_t facility = COM_StatusFacility(COM_HRESULT(code));
    const uint32_t low = COM_StatusCode(COM_HRESULT(code));
    switch (facility) {
    case kFacilityTavo:
        out += COM_TEXT("TAVO error #");
        AppendDecimal(out, int32_t(low));
        return true;
    case kFacilityTavoCallIn:
        out += COM_TEXT("TAVO call-in error #");
        AppendDecimal(out, int32_t(low));
        return true;
    case kFacilityUnix:
        out += COM_TEXT("Unix Error #");
        AppendDecimal(out, int32_t(low));
        return true;
    case kFacilityZeroCDns:
        out += COM_TEXT("ZeroC-DNS error #");
        AppendDecimal(out, int32_t(low) - kZeroCDnsBias);
        return true;
    case kFacilitySsh:
        switch ((code >> 12) & 0xF) {
        case 0: break; // the table's SSH rows
        case 1: out += COM_TEXT("SSH Error"); return true;
        case 2: out += COM_TEXT("SFTP Error"); return true;
        default: return false;
        }
        break;
    default: break;
    }
    if (const COM_WCHAR* row = FindMessage(code)) {
        out += row;
        return true;
    }
    return !HasComponentDecoder(COM_HRESULT(code)) && AppendSystemText(out, code);
}

} // namespace

WString ComposeStatusText(COM_HRESULT code) {
    WString text;
    text.reserve(64);
    if (!AppendText(text, uint32_t(code))) text += COM_TEXT("Unknown error");
    text += COM_TEXT(" [");
    AppendHex(text, uint32_t(code), 8, Fill::Blank, LetterCase::Upper);
    text += COM_TEXT("]");
    return text;
}

} // namespace tavo::decoding
