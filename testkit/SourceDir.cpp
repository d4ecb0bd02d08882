#include "testkit/SourceDir.h"

namespace testsupport {

const std::string& SourceDir() {
    static const std::string dir = CAMORA_SOURCE_DIR;
    return dir;
}

}  // namespace testsupport
