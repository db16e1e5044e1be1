// Status decoding through the exported functions: moniker parsing, the
// status moniker's Bind, and COM_DecodeHRESULT on its three roads, with the
// registry arranged for each case.
#include <decoder/decoder.h>

#include <functional>
#include <optional>

#include "decoding/compose.h"
#include "support/dynamic_library.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

const std::string kSuffix = TAVOCOM_COMPONENT_SUFFIX;
const std::string kOddFile = "odd_binding" + kSuffix;
COM_BSTR const kPoisonText = static_cast<COM_BSTR>(kPoison);

// Classes of odd_binding: what they do is in their identifier.
enum OddKind : uint32_t { kMoniker = 0x4D4F4E4B, kDecoder = 0x44454344, kPlain = 0x504C4149, kNullObject = 0x4E554C4C };
_COM_GUID Odd(OddKind kind, uint32_t status = 0, bool delivers = false) {
    return {kind, uint16_t(status >> 16), uint16_t(status), {uint8_t(delivers), 0x0D, 0xDB, 0x1D, 0x00, 0x7E, 0x57, 0x00}};
}

// What COM_DecodeHRESULT answered.
struct Decoded {
    COM_HRESULT status;
    bool touched;             // the text place was written
    std::optional<std::string> text; // its text, if it holds one
};

class DecodingTest : public ModuleCountTest {
public:
    void SetUp() override {
        ModuleCountTest::SetUp();
        COM_ClearErrorInfo();
        m_odd = std::make_unique<DynamicLibrary>(BinaryDirectory() + "/" + kOddFile);
        ASSERT_TRUE(m_odd->Loaded());
        m_oddLive = reinterpret_cast<uint32_t (*)()>(m_odd->Symbol("LiveObjects"));
        ASSERT_NE(m_oddLive, nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(m_oddLive(), 0u) << "an odd object was not released";
        COM_ClearErrorInfo();
        ModuleCountTest::TearDown();
    }

    /// Creates `path` below the class root and sets a string value there.
    void SetText(const std::string& path, const std::string& name, const std::string& text) {
        utlAutoIf<COM_IRegistry> registry;
        ASSERT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()), S_OK);
        ASSERT_EQ(registry->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
        ASSERT_EQ(registry->CreateKey(W(path).c_str(), 1), S_OK);
        ASSERT_EQ(registry->SetStringValue(W(name).c_str(), W(text).c_str()), S_OK);
    }
    void RegisterClass(const _COM_GUID& clsid, const std::string& file) {
        SetText("CLSID\\" + GuidText(clsid) + "\\InprocServer32", "", file);
    }
    void RegisterMoniker(const std::string& prefix, const std::string& clsidText) {
        SetText("Moniker\\" + prefix, "", clsidText);
    }
    /// The status moniker, as the runtime's self-registration writes it.
    void RegisterStatusMoniker() { RegisterMoniker("hresult", GuidText(COM_CLSID_HResultDecoderBinder)); }
    void RegisterDecoder(const std::string& facility, const std::string& clsidText) {
        SetText("Moniker\\hresult", facility, clsidText);
    }
    void RegisterOddDecoder(const _COM_GUID& clsid) {
        RegisterClass(clsid, kOddFile);
        RegisterDecoder("6F", GuidText(clsid));
    }

    static Decoded Decode(uint32_t code) {
        COM_BSTR text = kPoisonText;
        // The reserved argument is never read.
        COM_HRESULT hr = COM_DecodeHRESULT(COM_HRESULT(code), kPoison, &text);
        Decoded d{hr, text != kPoisonText, std::nullopt};
        if (d.touched && text) d.text = Narrow(text);
        if (d.touched) COM_SysFreeString(text);
        return d;
    }

    /// Starts over with an empty registry.
    void FreshRegistry() {
        m_sandbox.reset();
        m_sandbox.emplace();
    }

    std::optional<RegistrySandbox> m_sandbox{std::in_place};
    std::unique_ptr<DynamicLibrary> m_odd;
    uint32_t (*m_oddLive)() = nullptr;
};

TEST_F(DecodingTest, ParseNameRefusesNamesWithoutAUsablePrefix) {
    RegisterStatusMoniker();
    RegisterMoniker("notid", "not an identifier");
    const std::string longName = std::string(65536, 'p') + ":6F";
    for (const std::string name : {"", "hresult", ":6F", ":", "unknown:6F", "HRESULT\\..:6F", "Moniker\\hresult:6F",
                                   "notid:x", longName.c_str()}) {
        SCOPED_TRACE(name.substr(0, 30));
        uint32_t eaten = 0xDEADBEEF;
        COM_IMoniker* moniker = static_cast<COM_IMoniker*>(kPoison);
        EXPECT_EQ(COM_MkParseName(W(name).c_str(), &eaten, &moniker), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(eaten, 0xDEADBEEF);
        EXPECT_EQ(static_cast<void*>(moniker), kPoison);
    }
    uint32_t eaten = 0xDEADBEEF;
    COM_IMoniker* moniker = static_cast<COM_IMoniker*>(kPoison);
    EXPECT_EQ(COM_MkParseName(nullptr, &eaten, &moniker), E_POINTER);
    EXPECT_EQ(COM_MkParseName(COM_TEXT("hresult:6F"), nullptr, &moniker), E_POINTER);
    EXPECT_EQ(COM_MkParseName(COM_TEXT("hresult:6F"), &eaten, nullptr), E_POINTER);
    EXPECT_EQ(eaten, 0xDEADBEEF);
    EXPECT_EQ(static_cast<void*>(moniker), kPoison);
}

TEST_F(DecodingTest, ParseNamePassesOnlyTheCreationsFailureOn) {
    RegisterStatusMoniker();
    RegisterMoniker("a", GuidText(COM_CLSID_HResultDecoderBinder));
    RegisterMoniker("a\\b", GuidText(COM_CLSID_HResultDecoderBinder)); // a key path, not a name
    RegisterMoniker("plain", GuidText(Odd(kPlain)));
    RegisterClass(Odd(kPlain), kOddFile);
    RegisterMoniker("missing", GuidText(Odd(kMoniker, 1)));
    RegisterClass(Odd(kMoniker, 1), "no_such_library" + kSuffix);
    RegisterMoniker("nolib", GuidText(Odd(kMoniker, 2))); // no class entry at all
    struct Case {
        const char* name;
        COM_HRESULT status;
        uint32_t eaten;
    } cases[] = {
        {"hresult:6F", S_OK, 8},       {"a:b:c", S_OK, 2},
        {"HResult:", S_OK, 8},         {"plain:x", E_NOINTERFACE, 6}, // registered class without COM_IMoniker
        {"missing:x", CO_E_DLLNOTFOUND, 8}, {"nolib:x", CLASS_E_CLASSNOTAVAILABLE, 6},
        {"a\\b:6F", S_OK, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t eaten = 0xDEADBEEF;
        utlAutoIf<COM_IMoniker> moniker;
        EXPECT_EQ(COM_MkParseName(W(c.name).c_str(), &eaten, moniker.Put()), c.status);
        EXPECT_EQ(eaten, c.eaten);
        EXPECT_EQ(moniker.Get() != nullptr, COM_SUCCEEDED(c.status));
    }
}

// Bind of the status moniker for each shape of the rest, with a decoder
// that takes extension texts (the sample) and one that does not.
TEST_F(DecodingTest, BindSplitsTheRestAtTheFirstBang) {
    RegisterStatusMoniker();
    RegisterClass(CLSID_TavoDecoder, "tavo_decoder" + kSuffix);
    RegisterDecoder("6F", GuidText(CLSID_TavoDecoder));
    RegisterOddDecoder(Odd(kDecoder));
    RegisterDecoder("70", GuidText(Odd(kDecoder)));
    RegisterDecoder("71", "not an identifier");
    RegisterDecoder("72", GuidText(Odd(kNullObject)));
    RegisterDecoder("6F", GuidText(CLSID_TavoDecoder));
    RegisterClass(Odd(kNullObject), kOddFile);

    uint32_t eaten = 0;
    utlAutoIf<COM_IMoniker> binder;
    ASSERT_EQ(COM_MkParseName(COM_TEXT("hresult:"), &eaten, binder.Put()), S_OK);
    struct Case {
        std::string rest;
        const _COM_GUID* iid;
        COM_HRESULT status;
        bool object;              // an object is in the caller's place afterwards
        const char* text;         // the sample decoder's text for 0x806F0005
    } cases[] = {
        {"6F", &COM_IID_IHResultDecoder, S_OK, true, "TAVO error #5: Session has expired [806F0005]"},
        {"6F!", &COM_IID_IHResultDecoder, S_OK, true, "TAVO error #5: Session has expired [806F0005]"},
        {"6F!short", &COM_IID_IHResultDecoder, S_OK, true, "Session has expired"},
        {"6F!long", &COM_IID_IHResultDecoder, S_OK, true, "TAVO error #5: Session has expired [806F0005]"},
        {"6F!short!", &COM_IID_IHResultDecoder, CLASS_E_CLASSNOTAVAILABLE, true, nullptr}, // SetExtension refused "short!"
        {"6F", &COM_IID_IMemory, CLASS_E_CLASSNOTAVAILABLE, false, nullptr},
        {"70!x", &COM_IID_IHResultDecoder, COM_E_MONIKER_EXTENSION, true, nullptr},
        {"70!", &COM_IID_IHResultDecoder, S_OK, true, nullptr},
        {"71", &COM_IID_IHResultDecoder, CLASS_E_CLASSNOTAVAILABLE, false, nullptr},
        {"77", &COM_IID_IHResultDecoder, CLASS_E_CLASSNOTAVAILABLE, false, nullptr},
        {std::string(65536, '6'), &COM_IID_IHResultDecoder, CLASS_E_CLASSNOTAVAILABLE, false, nullptr},
        // An empty value name reads the default value: the binder itself.
        {"", &COM_IID_IHResultDecoder, CLASS_E_CLASSNOTAVAILABLE, false, nullptr},
        {"", &COM_IID_IMoniker, S_OK, true, nullptr},
        {"!x", &COM_IID_IMoniker, COM_E_MONIKER_EXTENSION, true, nullptr},
        {"72", &COM_IID_IHResultDecoder, S_OK, false, nullptr}, // success without an object is the caller's to see
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rest.substr(0, 20));
        void* object = kPoison;
        EXPECT_EQ(binder->Bind(W(c.rest).c_str(), *c.iid, &object), c.status);
        if (object == kPoison) {
            EXPECT_FALSE(c.object);
            continue;
        }
        EXPECT_EQ(object != nullptr, c.object);
        utlAutoIf<COM_IUnknown> bound(static_cast<COM_IUnknown*>(object));
        if (c.text) {
            utlAutoBstr text;
            EXPECT_EQ(static_cast<COM_IHResultDecoder*>(object)->Decode(COM_HRESULT(0x806F0005), nullptr, text.Put()), S_OK);
            EXPECT_EQ(Narrow(text.Get()), c.text);
        }
    }
    // A success that delivered null is refused where the extension is set.
    void* object = kPoison;
    EXPECT_THROW(binder->Bind(COM_TEXT("72!x"), COM_IID_IHResultDecoder, &object), utlAutoIfBase::XBadPtrException);
    EXPECT_EQ(binder->Bind(nullptr, COM_IID_IUnknown, &object), E_POINTER);
}

// COM_DecodeHRESULT from facility 100 on, with the registry arranged for
// each case.
TEST_F(DecodingTest, DecoderRoadWithEachArrangement) {
    const std::string tavo5 = "TAVO error #5 [806F0005]";
    struct Case {
        const char* name;
        std::function<void(DecodingTest&)> arrange;
        uint32_t code;
        COM_HRESULT status;
        std::optional<std::string> text; // nullopt: the text place is untouched
    };
    auto oddMoniker = [](uint32_t status, bool delivers) {
        return [=](DecodingTest& t) {
            t.RegisterMoniker("hresult", GuidText(Odd(kMoniker, status, delivers)));
            t.RegisterClass(Odd(kMoniker, status, delivers), kOddFile);
        };
    };
    auto oddDecoder = [](uint32_t status, bool writes) {
        return [=](DecodingTest& t) {
            t.RegisterStatusMoniker();
            t.RegisterOddDecoder(Odd(kDecoder, status, writes));
        };
    };
    auto statusMonikerWith = [](const char* value) {
        return [=](DecodingTest& t) {
            t.RegisterStatusMoniker();
            if (value) t.RegisterDecoder("6F", value);
        };
    };
    const std::string missingLibrary = GuidText(Odd(kDecoder, 2));
    const Case cases[] = {
        {"no status moniker", [](DecodingTest&) {}, 0x806F0005, CLASS_E_CLASSNOTAVAILABLE, std::nullopt},
        {"moniker value not an identifier", [](DecodingTest& t) { t.RegisterMoniker("hresult", "{nope}"); }, 0x806F0005,
         CLASS_E_CLASSNOTAVAILABLE, std::nullopt},
        {"moniker class without COM_IMoniker",
         [](DecodingTest& t) {
             t.RegisterMoniker("hresult", GuidText(Odd(kPlain)));
             t.RegisterClass(Odd(kPlain), kOddFile);
         },
         0x806F0005, E_NOINTERFACE, std::nullopt},
        {"no decoder for the facility", statusMonikerWith(nullptr), 0x806F0005, S_FALSE, tavo5},
        {"decoder value not an identifier", statusMonikerWith("6F"), 0x806F0005, S_FALSE, tavo5},
        {"decoder library missing",
         [&](DecodingTest& t) {
             t.RegisterStatusMoniker();
             t.RegisterDecoder("6F", missingLibrary);
             t.RegisterClass(Odd(kDecoder, 2), "no_such_library" + kSuffix);
         },
         0x806F0005, S_FALSE, tavo5},
        {"decoder class without COM_IHResultDecoder",
         [](DecodingTest& t) {
             t.RegisterStatusMoniker();
             t.RegisterOddDecoder(Odd(kPlain));
         },
         0x806F0005, S_FALSE, tavo5},
        {"decoder with a garbage status", oddDecoder(0x12345678, true), 0x806F0005, COM_HRESULT(0x12345678),
         "odd decoder text"},
        {"decoder failing without a text", oddDecoder(0x8BADF00D, false), 0x806F0005, COM_HRESULT(0x8BADF00D), std::nullopt},
        {"bits 29 and 30 set", oddDecoder(S_OK, true), 0xE06F0005, S_OK, "odd decoder text"},
        {"facility 0x1FFF", statusMonikerWith(nullptr), 0x9FFF0001, S_FALSE, "Unknown error [9FFF0001]"},
        {"facility 0x100", statusMonikerWith(nullptr), 0x81000001, S_FALSE, "Unknown error [81000001]"},
        {"Bind S_OK with an object", oddMoniker(S_OK, true), 0x806F0005, S_OK, "odd decoder text"},
        {"Bind S_FALSE with an object", oddMoniker(S_FALSE, true), 0x806F0005, S_FALSE, tavo5},
        {"Bind E_NOINTERFACE with an object", oddMoniker(uint32_t(E_NOINTERFACE), true), 0x806F0005, S_FALSE, tavo5},
        {"Bind CLASS_E_CLASSNOTAVAILABLE", oddMoniker(uint32_t(CLASS_E_CLASSNOTAVAILABLE), false), 0x806F0005, S_FALSE, tavo5},
        {"Bind fails otherwise, with an object", oddMoniker(0x80001234, true), 0x806F0005, COM_HRESULT(0x80001234),
         std::nullopt},
        {"Bind fails with the extension code", oddMoniker(uint32_t(COM_E_MONIKER_EXTENSION), false), 0x806F0005,
         COM_E_MONIKER_EXTENSION, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshRegistry(); // a registry of its own for each case
        c.arrange(*this);
        const Decoded d = Decode(c.code);
        EXPECT_EQ(uint32_t(d.status), uint32_t(c.status));
        EXPECT_EQ(d.touched, c.text.has_value());
        if (c.text) {
            EXPECT_EQ(d.text, c.text);
        }
        EXPECT_EQ(m_oddLive(), 0u);
        COM_ClearErrorInfo(); // a failed activation leaves a record
        EXPECT_EQ(CanUnloadNow(), S_OK);
    }
}

TEST_F(DecodingTest, SuccessWithoutAnObjectRaisesBadPointer) {
    // Bind reports success and delivers no decoder.
    RegisterMoniker("hresult", GuidText(Odd(kMoniker, S_OK, false)));
    RegisterClass(Odd(kMoniker, S_OK, false), kOddFile);
    COM_BSTR text = kPoisonText;
    EXPECT_THROW(COM_DecodeHRESULT(COM_HRESULT(0x806F0005), nullptr, &text), utlAutoIfBase::XBadPtrException);
    // The decoder class's factory reports success and delivers null.
    RegisterStatusMoniker();
    RegisterOddDecoder(Odd(kNullObject));
    EXPECT_THROW(COM_DecodeHRESULT(COM_HRESULT(0x806F0005), nullptr, &text), utlAutoIfBase::XBadPtrException);
    EXPECT_EQ(text, kPoisonText);
}

// Facility 100 is the first that a registered decoder answers; 99 is the
// system's even with a decoder registered for it.
TEST_F(DecodingTest, DecodersAnswerFromFacility100On) {
    RegisterStatusMoniker();
    RegisterOddDecoder(Odd(kDecoder, S_OK, true));
    for (const char* facility : {"63", "64"}) RegisterDecoder(facility, GuidText(Odd(kDecoder, S_OK, true)));
    EXPECT_EQ(Decode(0x80640001).text, "odd decoder text");
    const Decoded system = Decode(0x80630001);
    ASSERT_TRUE(system.text.has_value());
    EXPECT_NE(*system.text, "odd decoder text");
    EXPECT_EQ(m_oddLive(), 0u);
}

// The sample decoder registers itself with the registration helper; its
// removal leaves the facility value to a decoder registered since.
TEST_F(DecodingTest, SampleDecoderRegistersAndUnregistersItself) {
    ASSERT_EQ(DllRegisterServer(), S_OK); // the runtime's classes keep the class root
    DynamicLibrary sample(BinaryDirectory() + "/tavo_decoder" + kSuffix);
    ASSERT_TRUE(sample.Loaded());
    auto registerServer = reinterpret_cast<COM_HRESULT (*)()>(sample.Symbol("DllRegisterServer"));
    auto unregisterServer = reinterpret_cast<COM_HRESULT (*)()>(sample.Symbol("DllUnregisterServer"));
    ASSERT_TRUE(registerServer && unregisterServer);

    for (bool overwritten : {false, true}) {
        SCOPED_TRACE(overwritten ? "another decoder registered for 6F since" : "alone");
        ASSERT_EQ(registerServer(), S_OK);
        Decoded d = Decode(0x806F0005);
        EXPECT_EQ(d.status, S_OK);
        EXPECT_EQ(d.text, "TAVO error #5: Session has expired [806F0005]");
        _COM_GUID clsid{};
        EXPECT_EQ(COM_GetCLSIDFromProgID(kTavoDecoderProgID, &clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_TavoDecoder);
        if (overwritten) RegisterOddDecoder(Odd(kDecoder));

        ASSERT_EQ(unregisterServer(), S_OK);
        d = Decode(0x806F0005);
        EXPECT_EQ(d.status, overwritten ? S_OK : S_FALSE);
        EXPECT_EQ(d.text, overwritten ? std::nullopt : std::optional<std::string>("TAVO error #5 [806F0005]"));
        EXPECT_NE(COM_GetCLSIDFromProgID(kTavoDecoderProgID, &clsid), S_OK);
    }
    EXPECT_EQ(unregisterServer(), S_FALSE); // no class key left to remove
}

// Below facility 100 the system answers where it has a text; the platform,
// asked directly in this process, is the oracle for which road answers and
// for the exact text. Without an oracle, status and shape are checked.
TEST_F(DecodingTest, SystemFacilitiesFollowThePlatform) {
    std::vector<uint32_t> codes;
    for (uint32_t facility : {0u, 1u, 2u, 3u, 4u, 7u})
        for (uint32_t low = 0; low < 0x120; low += facility == 7 ? 1 : 7) codes.push_back(0x80000000u | facility << 16 | low);
    for (uint32_t c : {0x0u, 0x1u, 0x2u, 0x5u, 0x7Bu, 0x103u, 0x00070005u, 0x800703F7u, 0x800703FAu, 0x80100000u,
                       0x80620011u, 0x8063FFFFu, 0x800401F8u, 0x80040111u})
        codes.push_back(c);
    // The platform error numbers this runtime returns have a system text on
    // every build.
    const uint32_t own[] = {0x80070002, 0x80070005, 0x80070006, 0x8007000E, 0x80070057, 0x80070070, 0x800700A1, 0x800700AA,
                            0x800700EA, 0x80070103, 0x800703F7, 0x800703F8, 0x800703FA};
    for (uint32_t code : codes) {
        SCOPED_TRACE(code);
        const Decoded d = Decode(code);
        ASSERT_TRUE(d.text.has_value());
        WString system;
        if (HasMessageOracle()) {
            const bool hasText = SystemMessageW(code, &system);
            EXPECT_EQ(d.status, hasText ? S_OK : S_FALSE);
            if (hasText) {
                EXPECT_EQ(*d.text, Narrow(system));
            }
        }
        if (d.status == S_FALSE) {
            EXPECT_EQ(*d.text, Narrow(decoding::ComposeStatusText(COM_HRESULT(code))));
        } else {
            EXPECT_EQ(d.status, S_OK);
            EXPECT_EQ(d.text->substr(d.text->size() - 2), "\r\n");
        }
    }
    for (uint32_t code : own) EXPECT_EQ(Decode(code).status, S_OK) << std::hex << code;
    EXPECT_EQ(COM_DecodeHRESULT(E_FAIL, nullptr, nullptr), E_POINTER);
}

} // namespace
} // namespace tavo::test
