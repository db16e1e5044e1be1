// The platform's own message table, where it has one, as the oracle of
// the status texts.
#ifndef TAVOCOM_TESTS_SYSTEM_MESSAGES_H
#define TAVOCOM_TESTS_SYSTEM_MESSAGES_H

#include <tavocom/types.h>

#include <string>

namespace tavo::test {

/// Whether the platform has a system message table to compare with.
bool HasMessageOracle();
/// The platform's own text of `code`, asked directly (wide call, flags
/// 0x1300, language 0); false when it has none or there is no oracle.
bool SystemMessageW(uint32_t code, std::basic_string<COM_WCHAR>* text);

} // namespace tavo::test

#endif
