// The library entry: on load the library registers itself as an extension
// module so that its run-time classes are found by name; on unload it
// withdraws them.
#include "image/entry.h"

#include "display/memorydib.h"
#include "platform/afx.h"

namespace {

AFX_EXTENSION_MODULE g_orbimgModule;

// Runs after every run-time class of the library has been registered (their
// registrations have a smaller init priority).
struct LibraryEntry {
    LibraryEntry()
    {
        // Attach: take the classes registered so far into the module and make
        // them visible to the process.
        if (AfxInitExtensionModule(g_orbimgModule, nullptr)) {
            new CDynLinkLibrary(g_orbimgModule);
        }
    }
    ~LibraryEntry()
    {
        // Detach.
        AfxTermExtensionModule(g_orbimgModule);
    }
};

LibraryEntry g_entry __attribute__((init_priority(300)));

}  // namespace

namespace orbimg::detail {

// The run-time classes of the library (external, so the table is kept): a
// static link that takes this file takes their registrations too.
extern const CRuntimeClass* const g_libraryClasses[] = {RUNTIME_CLASS(CBaseDIB), RUNTIME_CLASS(CMemoryDIB)};

void LinkLibraryEntry() {}

}  // namespace orbimg::detail
