// Registry of the host layer (filled in with its calls).
#include "platform/host/internal.h"

namespace host {
namespace detail {
void ResetRegistry() {}
}  // namespace detail
}  // namespace host
