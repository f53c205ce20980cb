#include "engine/types/ABSNames.h"

#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"

std::string EngineNameKey(std::string_view ansiName) {
  return platform::FormatSettings::User().UpperCase(platform::AnsiToUtf8(ansiName));
}

bool EngineNamesEqual(std::string_view a, std::string_view b) {
  // Identical bytes are the same name under every locale; that is the common
  // case of a lookup by the spelling a table was created with.
  if (a == b) return true;
  return EngineNameKey(a) == EngineNameKey(b);
}
