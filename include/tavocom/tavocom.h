// TAVOCOM64: everything a client component needs.
#ifndef TAVOCOM_TAVOCOM_H
#define TAVOCOM_TAVOCOM_H

#include "types.h"
#include "interfaces.h"
#include "identifiers.h"
#include "exports.h"
#include "autoif.h"
#include "class_entries.h"
#include "registration.h"

#endif
