// Shell of the host layer (filled in with its calls).
#include "platform/host/internal.h"

namespace host {
namespace detail {
void ResetShell() {}
}  // namespace detail
}  // namespace host
