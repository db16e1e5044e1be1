// The name enumerator handed out by EnumKeys and EnumValues.
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_fixture.h"

namespace tavo::test {
namespace {

const std::vector<std::string> kFive = {"k0", "k1", "k2", "k3", "k4"};

class RegistryEnumTest : public RegistryTest {
protected:
    /// An enumerator over five subkeys k0..k4.
    utlAutoIf<COM_IEnumBSTR> FiveKeys() {
        EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
        for (const auto& k : kFive) EXPECT_EQ(Reg()->CreateKey(W(k).c_str(), 0), S_OK);
        utlAutoIf<COM_IEnumBSTR> e;
        EXPECT_EQ(Reg()->EnumKeys(e.Put()), S_OK);
        return e;
    }
    static uint32_t Position(COM_IEnumBSTR* e) {
        uint32_t p = 0xDEAD;
        EXPECT_EQ(e->GetPosition(&p), S_OK);
        return p;
    }
};

TEST_F(RegistryEnumTest, EmptyKeyAndDefaultValue) {
    OpenRoot(COM_REGROOT_USER);
    utlAutoIf<COM_IEnumBSTR> keys, values;
    ASSERT_EQ(Reg()->EnumKeys(keys.Put()), S_OK);
    ASSERT_EQ(Reg()->EnumValues(values.Put()), S_OK);
    for (COM_IEnumBSTR* e : {keys.Get(), values.Get()}) {
        uint32_t count = 99, fetched = 99;
        EXPECT_EQ(e->GetCount(&count), S_OK);
        EXPECT_EQ(count, 0u);
        COM_BSTR item = static_cast<COM_BSTR>(kPoison);
        EXPECT_EQ(e->Next(1, &item, &fetched), S_FALSE);
        EXPECT_EQ(fetched, 0u);
        EXPECT_EQ(item, kPoison);
    }
    EXPECT_EQ(Reg()->EnumKeys(nullptr), E_POINTER);
    void* out = kPoison;
    EXPECT_EQ(keys->QueryInterface(COM_IID_IRegistry, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // The default value is listed first; subkeys are not values.
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("n"), 1), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(nullptr, COM_TEXT("default")), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("sub"), 0), S_OK);
    EXPECT_EQ(ValueNames(Reg()), (std::vector<std::string>{"", "n"}));
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{"sub"});
}

TEST_F(RegistryEnumTest, NextHandsOutInBatches) {
    utlAutoIf<COM_IEnumBSTR> e = FiveKeys();
    ASSERT_TRUE(e);
    uint32_t count = 0, fetched = 99;
    ASSERT_EQ(e->GetCount(&count), S_OK);
    EXPECT_EQ(count, 5u);
    COM_BSTR items[3];
    ASSERT_EQ(e->Next(3, items, &fetched), S_OK);
    ASSERT_EQ(fetched, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(FromBstr(items[i]), W(kFive[i])) << "length of the name, no terminator";
        COM_SysFreeString(items[i]);
    }
    ASSERT_EQ(e->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(Narrow(items[1]), "k4");
    COM_SysFreeString(items[0]);
    COM_SysFreeString(items[1]);
    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(e->Next(0, items, &fetched), S_OK) << "nothing wanted, nothing missing";
    EXPECT_EQ(e->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(e->Next(1, items, nullptr), E_POINTER);
}

TEST_F(RegistryEnumTest, Positions) {
    utlAutoIf<COM_IEnumBSTR> e = FiveKeys();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->SetPosition(2), S_FALSE) << "taken as passed";
    EXPECT_EQ(Position(e.Get()), 2u);
    EXPECT_EQ(e->SetPosition(7), S_OK) << "clamped to the end";
    EXPECT_EQ(Position(e.Get()), 5u);
    EXPECT_EQ(e->Skip(10), S_OK);
    EXPECT_EQ(Position(e.Get()), 15u) << "Skip does not clamp";
    EXPECT_EQ(Drain(e.Get()), std::vector<std::string>{});
    EXPECT_EQ(e->SeekEnd(), S_OK);
    EXPECT_EQ(Position(e.Get()), 5u);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(Drain(e.Get()), kFive);
    EXPECT_EQ(e->GetPosition(nullptr), E_POINTER);
    // The position is unsigned and wraps.
    EXPECT_EQ(e->SetPosition(0), S_FALSE);
    EXPECT_EQ(e->Skip(0xFFFFFFFFu), S_OK);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(Position(e.Get()), 1u);
}

// A clone keeps its own position and copies; the list is read once and
// outlives the registry object.
TEST_F(RegistryEnumTest, CloneAndSnapshot) {
    utlAutoIf<COM_IEnumBSTR> e = FiveKeys();
    ASSERT_TRUE(e);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("k5"), 0), S_OK);
    ASSERT_EQ(Reg()->DeleteKey(COM_TEXT("k0")), S_OK);
    m_reg.Reset(nullptr);
    ASSERT_EQ(e->SetPosition(2), S_FALSE);
    utlAutoIf<COM_IEnumBSTR> clone;
    ASSERT_EQ(e->Clone(clone.Put()), S_OK);
    ASSERT_NE(clone.Get(), e.Get());
    EXPECT_EQ(Position(clone.Get()), 2u);
    EXPECT_EQ(Drain(clone.Get()), (std::vector<std::string>{"k2", "k3", "k4"}));
    EXPECT_EQ(Position(e.Get()), 2u);
    e.Reset(nullptr);
    ASSERT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(Drain(clone.Get()), kFive);
}

// The platform's walk by index, with the key changed between its calls by
// another connection (the registry object) and through the same one: each
// answer is the item at that index as the key is then.
TEST_F(RegistryEnumTest, IndexWalkFollowsChanges) {
    OpenRoot(COM_REGROOT_USER);
    for (const char* k : {"b", "d", "f"}) ASSERT_EQ(Reg()->CreateKey(W(k).c_str(), 0), S_OK);
    plat::RegKey key;
    const std::string path = "Software\\Quorvalltech\\" + m_sandbox->Version();
    ASSERT_EQ(plat::RegOpenKeyExA(plat::kHKeyCurrentUser, path.c_str(), plat::kKeyAllAccess, key.Put()), 0u);
    auto at = [&](uint32_t index) {
        char name[16];
        uint32_t size = sizeof name;
        uint32_t e = plat::RegEnumKeyExA(key.Get(), index, name, &size);
        return e ? "<" + std::to_string(e) + ">" : std::string(name, size);
    };
    // Changes: '+' a key made by the object, '*' one made here, '-' one the object deletes.
    struct Step { const char* change; uint32_t index; const char* expected; };
    const Step steps[] = {
        {"", 0, "b"},   {"", 1, "d"},   {"+a", 2, "d"}, {"", 3, "f"},  {"", 4, "<259>"}, {"*c", 2, "c"},
        {"", 3, "d"},   {"-a", 3, "f"}, {"", 3, "f"},   {"", 0, "b"}, {"*e", 4, "f"},   {"", 5, "<259>"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.change) + " then " + std::to_string(s.index));
        plat::RegKey made;
        const char op = s.change[0];
        ASSERT_EQ(op == '+'   ? Reg()->CreateKey(W(s.change + 1).c_str(), 0)
                  : op == '-' ? Reg()->DeleteKey(W(s.change + 1).c_str())
                  : op == '*' ? COM_HRESULT(plat::RegCreateKeyExA(key.Get(), s.change + 1, plat::kKeyAllAccess, made.Put(), nullptr))
                              : S_OK,
                  S_OK);
        EXPECT_EQ(at(s.index), s.expected);
    }
    // A change inside a write batch is seen before its commit.
    ASSERT_EQ(plat::BeginRegistryBatch(plat::kHKeyCurrentUser), 0u);
    EXPECT_EQ(at(0), "b");
    plat::RegKey made;
    ASSERT_EQ(plat::RegCreateKeyExA(key.Get(), "a", plat::kKeyAllAccess, made.Put(), nullptr), 0u);
    EXPECT_EQ(at(1), "b");
    plat::RollbackRegistryBatch(plat::kHKeyCurrentUser);
}

} // namespace
} // namespace tavo::test
