// tavocom decode CODE...: the text of each status code and where it came from.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tools/command.h"

namespace tavo::tools {
namespace {

bool AllHexDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool AllDecimalDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "0x806F0005" and "806F0005" are hexadecimal, as are other texts with
// the letters A to F; eight digits are read the way codes are printed, in
// hexadecimal. Other runs of digits, with or without "-", are decimal.
bool ParseCode(const std::string& text, uint32_t* code) {
    std::string digits = text;
    int base = 10;
    bool negative = false;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
        if (!AllHexDigits(digits)) return false;
    } else if (!digits.empty() && digits[0] == '-') {
        digits = digits.substr(1);
        negative = true;
        if (!AllDecimalDigits(digits)) return false;
    } else if (AllDecimalDigits(digits) && digits.size() != 8) {
        base = 10;
    } else if (AllHexDigits(digits)) {
        base = 16;
    } else {
        return false;
    }
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, base);
    if (errno != 0) return false;
    if (negative) {
        if (value > 0x80000000ull) return false;
        *code = uint32_t(0u - uint32_t(value));
    } else {
        if (value > 0xFFFFFFFFull) return false;
        *code = uint32_t(value);
    }
    return true;
}

// The decoder class registered for a facility, as "{clsid} (ProgID)".
std::string DecoderClass(uint32_t facility) {
    utlAutoIf<COM_IRegistry> registry;
    if (COM_FAILED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()))) return "?";
    char name[8];
    std::snprintf(name, sizeof name, "%X", facility);
    utlAutoBstr text;
    if (COM_FAILED(COM_ReadClassRootText(registry.Get(), {COM_KEY_MONIKER, COM_MONIKER_HRESULT}, Widen(name).c_str(),
                                         text.Put())))
        return "?";
    std::string result = NarrowZ(text.Get());
    _COM_GUID clsid{};
    utlAutoBstr progid;
    if (COM_SUCCEEDED(COM_StringToCLSID(text.Get(), &clsid)) && COM_SUCCEEDED(COM_GetProgIDFromClsid(clsid, progid.Put())))
        result += " (" + NarrowZ(progid.Get()) + ")";
    return result;
}

std::string Source(uint32_t code, COM_HRESULT status) {
    const uint32_t facility = COM_StatusFacility(COM_HRESULT(code));
    if (status == S_FALSE) return "built-in texts";
    if (facility < COM_FIRST_DECODER_FACILITY) return status == S_OK ? "system message table" : "-";
    return "decoder " + DecoderClass(facility);
}

} // namespace

int Decode(const Args& args) {
    if (args.empty()) {
        std::fprintf(stderr, "decode: expects one or more status codes (0x806F0005, 806F0005, 2147942405, -2147024891)\n");
        return 2;
    }
    int exitStatus = 0;
    for (const std::string& arg : args) {
        uint32_t code = 0;
        if (!ParseCode(arg, &code)) {
            std::fprintf(stderr, "decode: '%s' is not a 32-bit status code\n", arg.c_str());
            exitStatus = exitStatus ? exitStatus : 2;
            continue;
        }
        COM_BSTR raw = nullptr;
        COM_HRESULT hr = COM_DecodeHRESULT(COM_HRESULT(code), nullptr, &raw);
        // The text place is the caller's whatever the status: a decoder may
        // have written one even when it failed.
        utlAutoBstr text(raw);
        const std::string shown = NarrowLine(text.Get());
        const bool decoded = COM_SUCCEEDED(hr) && text.Get();
        std::printf("%s\n  text    %s\n  status  %s\n  source  %s\n", Hex32(code).c_str(),
                    text.Get() ? shown.c_str() : "(none)", StatusText(hr).c_str(),
                    decoded ? Source(code, hr).c_str() : "- (not decoded)");
        if (!decoded) exitStatus = 1;
    }
    return exitStatus;
}

} // namespace tavo::tools
