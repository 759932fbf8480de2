// Version block of the program.
#pragma once

namespace tunlet::res {

inline constexpr const char* kFileVersion = "1.0.0.1";
inline constexpr const char* kFileVersionText = "1, 0, 0, 1";
inline constexpr const char* kInternalName = "Tunlet";
inline constexpr const char* kProductName = "Tunlet ｱﾌﾟﾘｹｰｼｮﾝ";

}  // namespace tunlet::res
