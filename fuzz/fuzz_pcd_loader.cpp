// A point cloud file of arbitrary bytes through the viewer's loader. Whatever
// the bytes, it must either refuse the file with a reason or give points.
#include "PcdFile.h"
#include "PolyDataPoints.h"
#include "ScratchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const formats::PcdLoadResult result = formats::readPcdFile(scratchFileWith(data, size));
    if (!result.ok && result.error.empty())
        std::abort();
    if (result.ok)
        (void)viewer::pointsToPolyData(result.points);
    return 0;
}
