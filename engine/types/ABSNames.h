// The one rule by which the engine compares the names of tables, fields,
// indexes, constraints, sessions and databases.
//
// Names are the engine's 8-bit text (Windows-1252). Two names are the same
// when their upper-case forms under the user's locale are equal: "Straße"
// and "STRASSE" are one name, "Tilgungs\xADplan" (with a soft hyphen) and
// "Tilgungsplan" are two. Every lookup uses this rule, so "does it exist"
// and "find it" can never disagree.
//
// Threads: safe from any thread (the locale service is).
#pragma once

#include <string>
#include <string_view>

// The comparison key of a name: its upper-case form under the user's
// locale, as UTF-8. Equal keys mean equal names.
std::string EngineNameKey(std::string_view ansiName);

// True when `a` and `b` are the same name by the rule above.
bool EngineNamesEqual(std::string_view a, std::string_view b);
