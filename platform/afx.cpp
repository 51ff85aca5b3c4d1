// Framework stand-ins: run-time classes and their registration, CString,
// device-context objects, message box and the extension-module entry.
#include "platform/afx.h"

#include <cstdio>
#include <cwctype>
#include <mutex>
#include <string>

#include "image/entry.h"
#include "platform/gdi.h"
#include "platform/windowdc.h"

namespace {

// Classes registered by modules that have not (yet) been taken by an
// extension module, and the chain of loaded extension libraries.
struct ClassRegistry {
    std::mutex mutex;
    CRuntimeClass* pending = nullptr;
    CDynLinkLibrary* libraries = nullptr;
};

ClassRegistry& Registry()
{
    static ClassRegistry registry;
    return registry;
}

CRuntimeClass* FindIn(CRuntimeClass* head, const char* name)
{
    for (CRuntimeClass* c = head; c; c = c->m_pNextClass) {
        if (std::string(c->m_lpszClassName) == name) {
            return c;
        }
    }
    return nullptr;
}

std::string ToUtf8(const wchar_t* text)
{
    std::string out;
    for (; text && *text; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void DefaultMessageBox(const wchar_t* text) { std::fprintf(stderr, "%s\n", ToUtf8(text).c_str()); }

std::mutex g_messageMutex;
AfxMessageBoxHandler g_messageHandler = &DefaultMessageBox;

}  // namespace

// ---- run-time classes ------------------------------------------------------

CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr, nullptr};
static AFX_CLASSINIT _init_CObject __attribute__((init_priority(200))) (RUNTIME_CLASS(CObject));

CRuntimeClass* CObject::GetThisClass() { return RUNTIME_CLASS(CObject); }
CRuntimeClass* CObject::GetRuntimeClass() const { return RUNTIME_CLASS(CObject); }

BOOL CObject::IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }

CObject* CRuntimeClass::CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const
{
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass) {
        if (c == base) {
            return TRUE;
        }
    }
    return FALSE;
}

CRuntimeClass* CRuntimeClass::FromName(const char* className)
{
    orbimg::detail::LinkLibraryEntry();
    if (!className) {
        return nullptr;
    }
    ClassRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    for (CDynLinkLibrary* lib = reg.libraries; lib; lib = lib->m_pNextDLL) {
        if (CRuntimeClass* c = FindIn(lib->m_pClassHead, className)) {
            return c;
        }
    }
    return FindIn(reg.pending, className);
}

AFX_CLASSINIT::AFX_CLASSINIT(CRuntimeClass* newClass)
{
    ClassRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    newClass->m_pNextClass = reg.pending;
    reg.pending = newClass;
}

// ---- extension modules -----------------------------------------------------

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE module)
{
    ClassRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (!state.bInitialized) {
        state.hModule = module;
        state.hResource = module;
        state.pFirstSharedClass = reg.pending;
        reg.pending = nullptr;
        state.bInitialized = TRUE;
    }
    return TRUE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL system)
    : m_pModule(&state), m_pClassHead(state.pFirstSharedClass), m_bSystem(system)
{
    ClassRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    m_pNextDLL = reg.libraries;
    reg.libraries = this;
}

CDynLinkLibrary::~CDynLinkLibrary()
{
    ClassRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    for (CDynLinkLibrary** p = &reg.libraries; *p; p = &(*p)->m_pNextDLL) {
        if (*p == this) {
            *p = m_pNextDLL;
            break;
        }
    }
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL /*all*/)
{
    for (;;) {
        CDynLinkLibrary* found = nullptr;
        {
            ClassRegistry& reg = Registry();
            std::lock_guard<std::mutex> lock(reg.mutex);
            for (CDynLinkLibrary* lib = reg.libraries; lib; lib = lib->m_pNextDLL) {
                if (lib->m_pModule == &state) {
                    found = lib;
                    break;
                }
            }
        }
        if (!found) {
            break;
        }
        delete found;
    }
    state.bInitialized = FALSE;
}

// ---- CString ---------------------------------------------------------------

CString& CString::MakeLower()
{
    for (wchar_t& c : m_text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return *this;
}

int CString::Find(const wchar_t* sub, int start) const
{
    if (!sub || start < 0 || start > GetLength()) {
        return -1;
    }
    std::size_t pos = m_text.find(sub, static_cast<std::size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(wchar_t ch, int start) const
{
    if (start < 0 || start > GetLength()) {
        return -1;
    }
    std::size_t pos = m_text.find(ch, static_cast<std::size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

// ---- device contexts -------------------------------------------------------

CDC::~CDC()
{
    if (m_hDC) {
        ::DeleteDC(m_hDC);
        m_hDC = nullptr;
    }
}

BOOL CDC::Attach(HDC hdc)
{
    if (!hdc || m_hDC) {
        return FALSE;
    }
    m_hDC = hdc;
    return TRUE;
}

HDC CDC::Detach()
{
    HDC hdc = m_hDC;
    m_hDC = nullptr;
    return hdc;
}

BOOL CDC::DeleteDC()
{
    if (!m_hDC) {
        return FALSE;
    }
    BOOL ok = ::DeleteDC(m_hDC);
    m_hDC = nullptr;
    return ok;
}

CPaintDC::CPaintDC(CWnd* wnd) { m_hDC = orbimg::platform::OpenWindowDC(wnd ? wnd->GetDisplayBitsPerPixel() : 32); }

CPaintDC::~CPaintDC()
{
    if (m_hDC) {
        ::DeleteDC(m_hDC);
        m_hDC = nullptr;
    }
}

// ---- messages and exceptions -----------------------------------------------

void AfxThrowMemoryException() { throw CMemoryException(); }

int AfxMessageBox(const wchar_t* text, UINT /*type*/, UINT /*help*/)
{
    AfxMessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_messageMutex);
        handler = g_messageHandler;
    }
    handler(text ? text : L"");
    return 1;
}

AfxMessageBoxHandler AfxSetMessageBoxHandler(AfxMessageBoxHandler handler)
{
    std::lock_guard<std::mutex> lock(g_messageMutex);
    AfxMessageBoxHandler previous = g_messageHandler;
    g_messageHandler = handler ? handler : &DefaultMessageBox;
    return previous;
}
