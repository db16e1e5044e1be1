// The built-in status texts: what a code reads as when neither the system
// nor a registered decoder has a text for it.
#ifndef TAVOCOM_DECODING_COMPOSE_H
#define TAVOCOM_DECODING_COMPOSE_H

#include <tavocom/types.h>

#include "decoding/number_format.h"

namespace tavo::decoding {

/// The facility's text or the message table's, else the narrow system text
/// (facilities below the threshold), else "Unknown error"; then " [", the
/// code in upper-case hexadecimal padded with blanks to 8, and "]". Never
/// empty. std::bad_alloc when memory runs out or the system text cannot be
/// converted.
WString ComposeStatusText(COM_HRESULT code);

} // namespace tavo::decoding

#endif
