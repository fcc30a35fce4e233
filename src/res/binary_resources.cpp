#include "platform/resource_tables.h"

namespace cvm6::res {

// The firmware texts are embedded by the image work.
const BinaryEntry kBinaryResources[] = {
    {0, nullptr, 0},
};
const std::size_t kBinaryResourceCount = 0;

}  // namespace cvm6::res
