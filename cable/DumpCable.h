// A cable back end that writes the raw cable bytes to a file (truncated at each open).
#pragma once

#include <string>

#include "cable/Cable.h"

namespace tunlet {

class DumpCable : public CableBackend {
public:
    explicit DumpCable(std::string path) : path_(std::move(path)) {}
    CableOpenResult Open(const char* description) override;

private:
    std::string path_;
};

}  // namespace tunlet
