// Shared helpers of the test programs.
#ifndef TAVOCOM_TESTS_TEST_SUPPORT_H
#define TAVOCOM_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <tavocom/library_entry.h>
#include <tavocom/tavocom.h>

#include "support/process.h"
#include "support/system_messages.h"
#include "tools/export_table.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace tavo::test {

using WString = std::basic_string<COM_WCHAR>;

/// Sentinel written into out-parameters before a call that must not touch them.
inline void* const kPoison = reinterpret_cast<void*>(uintptr_t(0xDEADBEEFu));

/// ASCII/UTF-8 text to 16-bit text (BMP only, enough for tests).
WString W(const std::string& utf8);
/// 16-bit text to UTF-8 for messages.
std::string Narrow(const COM_WCHAR* text);
inline std::string Narrow(const WString& text) { return Narrow(text.c_str()); }

/// Contents of a length-prefixed string, its recorded length and all.
inline WString FromBstr(COM_BSTR s) { return s ? WString(s, COM_SysStringLen(s)) : WString(); }

/// The braced text form of an identifier.
inline std::string GuidText(const _COM_GUID& id) {
    utlAutoBstr text;
    COM_CLSIDToString(id, text.Put());
    return Narrow(FromBstr(text.Get()));
}


/// Fixture that checks the library's module count is zero before and after
/// each test, so that every leaked reference fails the test that leaked it.
class ModuleCountTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CanUnloadNow(), S_OK) << "module count not zero before the test"; }
    void TearDown() override { EXPECT_EQ(CanUnloadNow(), S_OK) << "the test left references behind"; }
};

using tools::ReadExportNames;

} // namespace tavo::test


#endif
