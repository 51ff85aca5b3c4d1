// The settings store of the process.
//
// Conventions
//   - Values are keyed by (section, key), compared exactly; an int written
//     and read as a double (or the reverse) converts (a double read as an int
//     is truncated toward zero, saturating).
//   - The store is empty at start; thread-safe.
#pragma once

#include "platform/afx.h"
#include "platform/export.h"

class ORBIMG_API CRegistry : public CObject {
public:
    CRegistry() = default;
    ~CRegistry() override = default;

    /// Fills *value with the stored int, or with `def` when the key is absent;
    /// returns 1 when the key was found. `flag` is accepted and ignored. A
    /// null `value` is allowed (only the result is given).
    static int Read(const CString& section, const CString& key, int def, int* value, int flag);
    /// The double form of Read.
    static int Read(const CString& section, const CString& key, double def, double* value);
    /// Stores value under (section, key), replacing what was there (of
    /// either type); kept for the life of the process (nothing is written to
    /// disk). Thread-safe.
    static void Write(const CString& section, const CString& key, int value);
    /// The double form of Write; an int Read of it truncates (NaN reads as 0,
    /// values beyond int's range as its ends).
    static void Write(const CString& section, const CString& key, double value);
    /// Removes every setting.
    static void Clear();

private:
    CString m_name;
};
