// Small classes exported beside the image: the image I/O placeholder and the
// block-handle records of the sample store.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/afx.h"
#include "platform/export.h"

/// Placeholder of the image file I/O (the library reads no files).
class ORBIMG_API CKelImageIO : public CObject {
public:
    CKelImageIO() = default;
    ~CKelImageIO() override = default;
};

/// One block of a handle: its type (0) and slot index (-1) after construction.
class ORBIMG_API CVmBlock : public CObject {
public:
    CVmBlock() = default;
    CVmBlock(const CVmBlock&) = default;
    CVmBlock& operator=(const CVmBlock&) = default;
    ~CVmBlock() override = default;

    int m_type = 0;
    int m_slotIndex = -1;
};

/// A count of blocks and the owned array of them.
class ORBIMG_API CVmHandle : public CObject {
public:
    /// `count` blocks, each (0, -1). Throws CMemoryException when the array
    /// cannot be allocated (a negative count included).
    explicit CVmHandle(int count);
    CVmHandle(const CVmHandle&) = delete;
    CVmHandle& operator=(const CVmHandle&) = delete;
    ~CVmHandle() override = default;

    /// Sets block `index` (0 .. count - 1; not validated).
    void Set(int index, int type, int slot);
    int GetType(int index) const { return m_blocks[index].m_type; }
    int GetSlotIndex(int index) const { return m_blocks[index].m_slotIndex; }
    int GetBlockCount() const { return m_count; }

private:
    int m_count;
    std::unique_ptr<CVmBlock[]> m_blocks;
};

/// Five 64-bit fields of the store's memory record: 0, -1, 0, -1, 0.
class ORBIMG_API CVmMemory : public CObject {
public:
    CVmMemory() = default;
    ~CVmMemory() override = default;

    std::int64_t m_field0 = 0;
    std::int64_t m_field1 = -1;
    std::int64_t m_field2 = 0;
    std::int64_t m_field3 = -1;
    std::int64_t m_field4 = 0;
};
