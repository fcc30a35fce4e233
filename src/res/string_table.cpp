#include "platform/resource_tables.h"

namespace cvm6::res {

// Filled with the message names and prompts by the message layer work.
const StringEntry kStringTable[] = {
    {0, ""},
};
const std::size_t kStringTableSize = 0;

}  // namespace cvm6::res
