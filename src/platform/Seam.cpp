#include "platform/Seam.h"

namespace platform {

TestSeam& Seam() {
    static TestSeam seam;
    return seam;
}

}  // namespace platform
