// Case folding of the registry store: how names compare and sort.
#ifndef TAVOCOM_PLATFORM_POSIX_REGISTRY_FOLDING_H
#define TAVOCOM_PLATFORM_POSIX_REGISTRY_FOLDING_H

#include <tavocom/types.h>

#include <string>

namespace tavo::plat::text {

/// Simple lower-case mapping of one UTF-16 code unit (Latin, Greek,
/// Cyrillic, Armenian, Latin Extended Additional, full-width and a few
/// letter-like ranges); everything else maps to itself.
char16_t FoldCase(char16_t c);

/// Case-folded comparison key of a name: the folded code units in
/// big-endian byte order, so that a byte-wise comparison (then length)
/// orders names as the platform registry lists them.
std::string FoldKey(const char16_t* name, size_t n);
/// The same key appended to `key`; with room kept from earlier keys it
/// needs no allocation.
void AppendFoldKey(const char16_t* name, size_t n, std::string* key);

} // namespace tavo::plat::text

#endif
