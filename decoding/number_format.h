// The number formatting of the composed status texts.
#ifndef TAVOCOM_DECODING_NUMBER_FORMAT_H
#define TAVOCOM_DECODING_NUMBER_FORMAT_H

#include <tavocom/types.h>

#include <string>

namespace tavo::decoding {

using WString = std::basic_string<COM_WCHAR>;

/// Fill character of a padded number: 0x20 + 0x10 * choice.
enum class Fill : uint32_t { Blank = 0, Zero = 1 };
/// Letters of a hexadecimal number: from "A" or from "a".
enum class LetterCase : uint32_t { Upper = 0, Lower = 1 };

/// Appends `value` in decimal: "-" before a negative number, no grouping,
/// no fill. std::bad_alloc when the string cannot grow.
void AppendDecimal(WString& out, int32_t value);

/// Appends `value` in hexadecimal without leading zeros, padded on the left
/// with the fill character to at least `width` characters.
void AppendHex(WString& out, uint32_t value, uint32_t width, Fill fill, LetterCase letters);

} // namespace tavo::decoding

#endif
