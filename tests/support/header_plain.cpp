// The public headers on their own.
#include <tavocom/component.h>
#include <tavocom/library_entry.h>
#include <tavocom/tavocom.h>

int TavocomHeaderPlainCheck() { return sizeof(COM_CATEGORYINFO) == 528 ? 0 : 1; }
