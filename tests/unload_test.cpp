// The current error record is released when the library is unloaded. A
// second copy of the library is loaded and unloaded so that its static data
// is torn down while the test watches a record of its own.
#include <filesystem>

#include "support/dynamic_library.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

// An error record of the test's own that only counts its references.
class CountingRecord final : public COM_IErrorInfo {
public:
    uint32_t refs = 1;

    COM_HRESULT QueryInterface(const _COM_GUID&, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    COM_HRESULT SetDescription(const COM_WCHAR*) override { return S_OK; }
    COM_HRESULT SetSource(const COM_WCHAR*) override { return S_OK; }
    COM_HRESULT SetNumberPair(uint32_t, uint32_t) override { return S_OK; }
    COM_HRESULT SetNumber(uint32_t) override { return S_OK; }
    COM_HRESULT GetDescription(COM_BSTR* text) override { return *text = nullptr, S_OK; }
    COM_HRESULT GetSource(COM_BSTR* text) override { return *text = nullptr, S_OK; }
    COM_HRESULT GetNumberPair(uint32_t*, uint32_t*) override { return S_OK; }
    COM_HRESULT GetNumber(uint32_t*) override { return S_OK; }
};

TEST(UnloadTest, CurrentRecordIsReleasedWhenTheLibraryIsUnloaded) {
    namespace fs = std::filesystem;
    fs::path original = fs::path(BinaryDirectory()) / TAVOCOM_LIBRARY_FILE;
    fs::path copy = fs::path(BinaryDirectory()) / ("unload_copy" + original.extension().string());
    fs::copy_file(original, copy, fs::copy_options::overwrite_existing);

    CountingRecord record;
    {
        DynamicLibrary library(copy.string());
        ASSERT_TRUE(library.Loaded());
        auto setErrorInfo = reinterpret_cast<COM_HRESULT (*)(COM_IErrorInfo*)>(library.Symbol("COM_SetErrorInfo"));
        ASSERT_NE(setErrorInfo, nullptr);
        ASSERT_EQ(setErrorInfo(&record), S_OK);
        EXPECT_EQ(record.refs, 2u);
        // The library that this program links is not involved.
        COM_IErrorInfo* current = nullptr;
        EXPECT_EQ(COM_GetErrorInfo(&current), S_FALSE);
        library.Unload();
        EXPECT_FALSE(IsLibraryLoaded(copy.string()));
    }
    EXPECT_EQ(record.refs, 1u);
    std::error_code ignored;
    fs::remove(copy, ignored);
}

} // namespace
} // namespace tavo::test
