#include "hosts/win32/Win32Text.h"

#include "media/TextCoding.h"
#include "media/WideText.h"

namespace tunlet {

// The one decoding the summaries and tunlet-cli use, always well-formed UTF-8.
std::wstring DisplayText(const std::string& bytes) { return Widen(TextToUtf8(bytes)); }

}  // namespace tunlet
