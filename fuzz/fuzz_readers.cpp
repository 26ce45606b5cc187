// The wire readers as the library uses them: consuming readers walk a reply
// payload front to back whatever its length; iterator readers only read fields
// that the payload holds.
#include "Sentova/Encoding.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the sequence of field widths.
    const std::uint8_t pattern = data[0];
    std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string consumed = payload;
    for (int i = 0; !consumed.empty(); ++i) {
        switch ((pattern >> (i % 4 * 2)) & 3) {
        case 0:
            (void)tavrel::UnpackInt32(consumed);
            break;
        case 1:
            (void)tavrel::UnpackSignedInt16(consumed);
            break;
        case 2:
            (void)tavrel::UnpackInt8(consumed);
            break;
        default:
            (void)tavrel::UnpackSignedInt32(consumed);
            break;
        }
    }

    auto it = payload.begin();
    while (payload.end() - it >= 4) {
        switch (pattern & 3) {
        case 0:
            (void)tavrel::UnpackAngle(it);
            break;
        case 1:
            (void)tavrel::UnpackSpeed(it);
            break;
        case 2:
            (void)tavrel::UnpackAcceleration(it);
            break;
        default:
            (void)tavrel::EfficientUnpackInt32(it);
            break;
        }
    }
    while (payload.end() - it >= 2)
        (void)tavrel::EfficientUnpackInt16(it);
    if (it != payload.end())
        (void)tavrel::EfficientUnpackInt8(it);
    return 0;
}
