#include "backends.h"

namespace flashing {

std::unique_ptr<Backend> makeDefaultBackend()
{
    return std::make_unique<NoDeviceBackend>();
}

} // namespace flashing
