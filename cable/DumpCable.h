// A cable back end that writes the raw cable bytes to a file: created, or emptied, by
// the first write after each open.
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
