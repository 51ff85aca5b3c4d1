// The block-handle record.
#include "image/smallclasses.h"

#include <new>

CVmHandle::CVmHandle(int count) : m_count(count)
{
    if (count < 0) {
        AfxThrowMemoryException();
    }
    m_blocks.reset(new (std::nothrow) CVmBlock[static_cast<std::size_t>(count)]);
    if (!m_blocks && count > 0) {
        AfxThrowMemoryException();
    }
}

void CVmHandle::Set(int index, int type, int slot)
{
    m_blocks[index].m_type = type;
    m_blocks[index].m_slotIndex = slot;
}
