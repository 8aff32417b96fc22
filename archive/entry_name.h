// The one rule by which entry names are equal: the updater's lookup, and the
// publisher's tool when it packs, lists, extracts and checks archives.
#pragma once

#include "platform/win.h"

// Nonzero when a and b name the same entry. The updater finds an entry with
// the platform's case-blind compare, so that compare is the rule: two names
// it calls equal can never both be reached, whatever their bytes.
int SameEntryName(LPCSTR a, LPCSTR b);
