// Framework stand-ins: CObject with run-time class information, CPoint,
// CRect, CString, CWnd, CDC, CPaintDC, the message box, the memory exception
// and the extension-module entry.
//
// Conventions
//   - Classes keep the framework's names and live in the global namespace.
//   - Run-time classes are registered when their module loads; FromName
//     finds any registered class by name, host or library.
//   - CString holds wide text; a null const wchar_t* is read as empty text.
//   - Nothing here prints except the default message-box handler, which
//     writes the text to standard error.
#pragma once

#include <new>
#include <string>

#include "platform/export.h"
#include "platform/wintypes.h"

class ORBIMG_API CObject;
class CArchive;
class CDumpContext;

/// Run-time class information of a CObject-derived class.
struct ORBIMG_API CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;                   ///< 0xFFFF: not serialisable
    CObject* (*m_pfnCreateObject)();  ///< null without dynamic creation
    CRuntimeClass* m_pBaseClass;      ///< null for CObject
    CRuntimeClass* m_pNextClass;      ///< registration chain, set on load

    /// A new object of the class, or null without dynamic creation.
    CObject* CreateObject() const;
    /// True when this class is `base` or derives from it.
    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
    /// The registered class of that name in any loaded module, or null.
    static CRuntimeClass* FromName(const char* className);
};

/// Links a run-time class into the registration list of the loading module.
struct ORBIMG_API AFX_CLASSINIT {
    explicit AFX_CLASSINIT(CRuntimeClass* newClass);
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)         \
public:                                     \
    static CRuntimeClass class##class_name; \
    static CRuntimeClass* GetThisClass();   \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* CreateObject();

#define ORBIMG_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, schema, pfnNew)                              \
    CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class_name)), schema,   \
                                                   pfnNew,      RUNTIME_CLASS(base_class_name),       nullptr}; \
    CRuntimeClass* class_name::GetThisClass() { return RUNTIME_CLASS(class_name); }                             \
    CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }                    \
    static AFX_CLASSINIT _init_##class_name __attribute__((init_priority(200))) (RUNTIME_CLASS(class_name));

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    ORBIMG_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)           \
    CObject* class_name::CreateObject() { return new class_name; } \
    ORBIMG_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

/// Root of the framework's class tree.
class CObject {
public:
    static CRuntimeClass classCObject;
    static CRuntimeClass* GetThisClass();

    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive&) {}
    virtual void AssertValid() const {}
    virtual void Dump(CDumpContext&) const {}

    /// True when the object's class is `cls` or derives from it.
    BOOL IsKindOf(const CRuntimeClass* cls) const;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

/// A pixel position.
class ORBIMG_API CPoint {
public:
    int x = 0;
    int y = 0;
    CPoint() = default;
    CPoint(int initX, int initY) : x(initX), y(initY) {}
    bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
    bool operator!=(const CPoint& o) const { return !(*this == o); }
};

/// A rectangle; right and bottom are exclusive.
class ORBIMG_API CRect {
public:
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    CRect() = default;
    CRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    bool operator==(const CRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const CRect& o) const { return !(*this == o); }
};

/// Wide text. A null pointer reads as the empty text.
class ORBIMG_API CString {
public:
    CString() = default;
    CString(const wchar_t* text) : m_text(text ? text : L"") {}  // NOLINT: implicit as the framework's
    CString(const std::wstring& text) : m_text(text) {}          // NOLINT
    CString& operator=(const wchar_t* text)
    {
        m_text = text ? text : L"";
        return *this;
    }
    operator const wchar_t*() const { return m_text.c_str(); }  // NOLINT
    const wchar_t* GetString() const { return m_text.c_str(); }
    const std::wstring& str() const { return m_text; }

    int GetLength() const { return static_cast<int>(m_text.size()); }
    BOOL IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    /// Lowercases every character in place (towlower); returns the text.
    CString& MakeLower();
    /// Index of the first occurrence of `sub` at or after `start`, or -1.
    /// An empty `sub` is found at `start` (when start is within the text).
    int Find(const wchar_t* sub, int start = 0) const;
    int Find(wchar_t ch, int start = 0) const;

    CString& operator+=(const CString& o)
    {
        m_text += o.m_text;
        return *this;
    }
    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.m_text == (b ? b : L""); }
    friend bool operator==(const wchar_t* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
    friend bool operator!=(const wchar_t* a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_text < b.m_text; }

private:
    std::wstring m_text;
};

/// A stand-in window: its only property is the display depth that a device
/// context opened on it reports (GetDeviceCaps(dc, BITSPIXEL)).
class ORBIMG_API CWnd : public CObject {
public:
    explicit CWnd(int displayBitsPerPixel = 32) : m_bitsPerPixel(displayBitsPerPixel) {}
    int GetDisplayBitsPerPixel() const { return m_bitsPerPixel; }
    void SetDisplayBitsPerPixel(int bits) { m_bitsPerPixel = bits; }

private:
    int m_bitsPerPixel;
};

/// A device context object. Destroying it deletes an attached DC.
class ORBIMG_API CDC : public CObject {
public:
    HDC m_hDC = nullptr;

    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    ~CDC() override;

    /// Attaches a DC handle; fails (FALSE) for a null handle or when one is held.
    BOOL Attach(HDC hdc);
    /// Releases the handle without deleting it.
    HDC Detach();
    /// Deletes the held DC; FALSE when none is held.
    BOOL DeleteDC();
    HDC GetSafeHdc() const { return m_hDC; }
};

/// A DC on a window for the lifetime of the object (BeginPaint .. EndPaint).
class ORBIMG_API CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
};

/// The memory exception of the framework, thrown by value.
class ORBIMG_API CMemoryException : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "CMemoryException: out of memory"; }
};

/// Throws a CMemoryException.
[[noreturn]] ORBIMG_API void AfxThrowMemoryException();

using AfxMessageBoxHandler = void (*)(const wchar_t* text);

/// Shows a message: passes the text to the installed handler; returns 1 (OK).
ORBIMG_API int AfxMessageBox(const wchar_t* text, UINT type = MB_OK, UINT help = 0);
/// Installs a handler (null restores the default, which writes to standard
/// error) and returns the previous one.
ORBIMG_API AfxMessageBoxHandler AfxSetMessageBoxHandler(AfxMessageBoxHandler handler);

/// State of an extension module: the classes it registered.
struct AFX_EXTENSION_MODULE {
    BOOL bInitialized = FALSE;
    HMODULE hModule = nullptr;
    HMODULE hResource = nullptr;
    CRuntimeClass* pFirstSharedClass = nullptr;
};

/// Takes the classes registered so far by the loading module into `state`.
ORBIMG_API BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE module);
/// Releases the module: its CDynLinkLibrary objects are deleted and its
/// classes are no longer found by name.
ORBIMG_API void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL all = FALSE);

/// Makes an extension module's classes visible to the process.
class ORBIMG_API CDynLinkLibrary : public CObject {
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL system = FALSE);
    ~CDynLinkLibrary() override;
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    AFX_EXTENSION_MODULE* m_pModule;
    CRuntimeClass* m_pClassHead;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL = nullptr;
};
