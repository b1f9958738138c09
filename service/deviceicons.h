#pragma once

#include <cstddef>

// The device icons a UPnP control point shows (service/icons/, made from the window icon by
// tools/render-art.sh), built into the program.
namespace svc {
extern const unsigned char deviceIcon48[];
extern const size_t deviceIcon48Size;
extern const unsigned char deviceIcon120[];
extern const size_t deviceIcon120Size;
} // namespace svc
