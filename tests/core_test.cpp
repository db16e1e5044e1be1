// Object model: module count, class object map, factories, QueryInterface.
#include "support/test_support.h"

#include <vector>

namespace tavo::test {
namespace {

// Classes of the class object map, in map order.
const _COM_GUID* const kMapClasses[] = {
    &COM_CLSID_Registry,
    &COM_CLSID_CategoryManager,
    &COM_CLSID_Memory,
    &COM_CLSID_HResultDecoderBinder,
    nullptr,
};

constexpr _COM_GUID kUnknownClass = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

class ClassObjectTest : public ModuleCountTest {};

TEST_F(ClassObjectTest, UnknownClassLeavesOutUntouched) {
    void* out = kPoison;
    EXPECT_EQ(GetClassObject(&kUnknownClass, &COM_IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, kPoison);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ClassObjectTest, EveryMapClassServesItsFactory) {
    for (const _COM_GUID* clsid : kMapClasses) {
        if (!clsid) continue;
        SCOPED_TRACE(testing::Message() << "class " << std::hex << clsid->Data1);
        COM_IClassFactory* factory = nullptr;
        ASSERT_EQ(GetClassObject(clsid, &COM_IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);

        // COM_IUnknown also yields the factory; a foreign id nulls the out.
        COM_IUnknown* unknown = nullptr;
        ASSERT_EQ(GetClassObject(clsid, &COM_IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
        EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(factory));
        EXPECT_EQ(unknown->Release(), 1u);
        void* other = kPoison;
        EXPECT_EQ(GetClassObject(clsid, &COM_IID_IEnumCLSID, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);

        // A factory's counts are always 1; only the module count moves.
        EXPECT_EQ(factory->AddRef(), 1u);
        EXPECT_EQ(factory->Release(), 1u);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);

        // An interface the class lacks leaves no object behind.
        void* object = kPoison;
        EXPECT_EQ(factory->CreateInstance(COM_IID_IClassFactory, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);

        EXPECT_EQ(factory->Release(), 1u);
        EXPECT_EQ(CanUnloadNow(), S_OK);
    }
}

// Every object, the error record included, keeps the library loaded until
// its last release; QueryInterface gives the same pointer for COM_IUnknown
// and nulls the out for anything else.
TEST_F(ClassObjectTest, ObjectsKeepTheLibraryLoadedUntilTheLastRelease) {
    COM_IErrorInfo* record = nullptr;
    ASSERT_EQ(COM_CreateErrorInfo(&record), S_OK);
    std::vector<COM_IUnknown*> objects{record};
    for (const _COM_GUID* clsid : kMapClasses) {
        if (!clsid) continue;
        COM_IUnknown* object = nullptr;
        ASSERT_EQ(COM_CreateInstance(*clsid, 0, COM_IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
        objects.push_back(object);
    }
    for (COM_IUnknown* object : objects) {
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        EXPECT_EQ(object->AddRef(), 2u);
        EXPECT_EQ(object->Release(), 1u);
        void* again = kPoison;
        ASSERT_EQ(object->QueryInterface(COM_IID_IUnknown, &again), S_OK);
        EXPECT_EQ(again, static_cast<void*>(object));
        EXPECT_EQ(object->Release(), 1u);
        void* other = kPoison;
        EXPECT_EQ(object->QueryInterface(COM_IID_IClassFactory, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(object->Release(), 0u);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ModuleTest, InitializeAndStatisticsAreInert) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(COM_Uninitialize(), S_OK);
        EXPECT_EQ(COM_Initialize(), S_OK);
    }
    uint32_t first = 7, second = 7;
    EXPECT_EQ(COM_GetSysStats(&first, &second), S_OK);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(COM_ResetSysStats(), S_OK);
    EXPECT_EQ(COM_GetSysStats(&first, &second), S_OK);
    EXPECT_EQ(first + second, 0u);
}

TEST(HolderTest, EmptyHolderRaisesWithItsAddress) {
    utlAutoIf<COM_IErrorInfo> holder;
    try {
        holder->SetNumber(1);
        FAIL() << "no exception";
    } catch (const utlAutoIfBase::XBadPtrException& e) {
        EXPECT_EQ(e.Holder(), static_cast<const utlAutoIfBase*>(&holder));
    }
}

TEST_F(ClassObjectTest, HolderReleasesOnReplaceAndOnUnwind) {
    {
        utlAutoIf<COM_IErrorInfo> holder;
        ASSERT_EQ(COM_CreateErrorInfo(holder.Put()), S_OK);
        utlAutoIf<COM_IErrorInfo> copy = holder;
        EXPECT_EQ(holder->AddRef(), 3u);
        holder->Release();
        ASSERT_EQ(COM_CreateErrorInfo(copy.Put()), S_OK); // releases the shared one
        EXPECT_NE(copy.Get(), holder.Get());
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);
    try {
        utlAutoIf<COM_IErrorInfo> holder;
        ASSERT_EQ(COM_CreateErrorInfo(holder.Put()), S_OK);
        throw 42;
    } catch (int) {
    }
}

} // namespace
} // namespace tavo::test
