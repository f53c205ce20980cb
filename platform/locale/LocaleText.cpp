// FormatSettings: locale-aware text services (upper-casing, collation).
#include "platform/locale/Locale.h"

#include <unicode/ustring.h>

#include <algorithm>
#include <climits>

#include "platform/locale/TextCodec.h"

#include "platform/locale/LocaleInternal.h"

namespace platform {

using namespace locale_detail;

std::u16string FormatSettings::UpperCase(std::u16string_view text) const {
  if (text.empty()) return {};
  const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX / 4));
  std::u16string out(static_cast<std::size_t>(length) + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = u_strToUpper(out.data(), static_cast<int32_t>(out.size()), text.data(),
                                        length, impl_->textLocaleId.c_str(), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<std::size_t>(needed), u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::u16string(text);
    out.resize(static_cast<std::size_t>(needed));
    return out;
  }
  return std::u16string(text);
}

std::string FormatSettings::UpperCase(std::string_view utf8) const {
  return WideToUtf8(UpperCase(std::u16string_view(Utf8ToWide(utf8))));
}

int FormatSettings::Compare(std::u16string_view a, std::u16string_view b, bool ignoreCase) const {
  const icu::Collator* collator =
      ignoreCase ? impl_->caseInsensitive.get() : impl_->caseSensitive.get();
  if (collator == nullptr) {
    // Without a collator the code units decide.
    const int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  UErrorCode status = U_ZERO_ERROR;
  const auto clamp = [](std::size_t n) {
    return static_cast<int32_t>(std::min<std::size_t>(n, INT32_MAX));
  };
  const UCollationResult r =
      collator->compare(a.data(), clamp(a.size()), b.data(), clamp(b.size()), status);
  if (U_FAILURE(status)) return 0;
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace platform
