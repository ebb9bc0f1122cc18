// File addresses.
#pragma once

#include <string>

namespace dravel {

// The file address of a path: "file://" plus the path made absolute against
// the current directory, with characters outside the unreserved set and "/"
// percent-encoded.
std::string fileURLWithPath(const std::string& path);

}  // namespace dravel
