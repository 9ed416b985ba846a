#pragma once

#include <string>
#include <string_view>

namespace kestrove {

// Temporary files made beside a file while its new content is written are named
// ".kestrove-<12 letters or digits>.tmp". The folder walker never selects such a name.
[[nodiscard]] std::string MakeTemporaryName();
[[nodiscard]] bool IsOurTemporaryName(std::string_view fileName);
[[nodiscard]] bool IsOurTemporaryName(std::u16string_view fileName);

}  // namespace kestrove
