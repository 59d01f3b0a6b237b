#include "deinterlace/DeInterlaceKernels.h"

namespace deint {

const CKernelSet& FastKernels() {
    return ScalarKernels();
}

}  // namespace deint
