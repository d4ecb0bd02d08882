// The checkout the tests were built from, for the files they compare with.
// One small file holds the path, so that the tests' own objects are the same
// in every checkout and a fresh clone finds them in the compiler cache.
#pragma once

#include <string>

namespace testsupport {

// The checkout's root folder, without a trailing slash.
const std::string& SourceDir();

}  // namespace testsupport
