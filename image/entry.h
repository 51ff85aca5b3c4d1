// The library entry (internal).
#pragma once

namespace orbimg::detail {
/// Does nothing at run time. CRuntimeClass::FromName calls it so that a host
/// linked with the static library links the entry too, and with it the
/// run-time classes it names: they are then registered at start-up, as when
/// the shared library loads.
void LinkLibraryEntry();
}  // namespace orbimg::detail
