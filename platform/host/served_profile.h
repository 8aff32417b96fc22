// A profile served from memory to the lower layers' profile reader: the
// publisher's tool reads SETUP.INI once and runs the updater's loader on it,
// which asks for one key at a time by path.
#pragma once

#include "platform/profile_rules.h"

// From now on GetPrivateProfileStringA for exactly path answers from
// profile; NULL for both ends the serving. The profile must outlive it.
void ServeProfile(LPCSTR path, const ProfileStream* profile);
