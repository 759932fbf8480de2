// Line-end conversion for the multi-line summary box, which breaks lines only at CR LF.
#pragma once

#include <string>

namespace tunlet {

// Turns every LF that is not already preceded by CR into CR LF, in place.
void MakeCrLf(std::string& text);

}  // namespace tunlet
