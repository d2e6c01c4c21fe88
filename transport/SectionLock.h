// Holds an S_MUTEX_UNIX for the life of the object.
// Thread safety: one object per locking thread.
#pragma once

#include "transport/PlatformShims.h"

class ORU_SCOPED_CAPABILITY SectionLock {
public:
    explicit SectionLock(S_MUTEX_UNIX &section) ORU_ACQUIRE(section) : m_section(section)
    {
        m_section.Lock();
    }
    ~SectionLock() ORU_RELEASE() { m_section.Unlock(); }

    // Lets the mutex go for a while within the scope (a join that the
    // holder must not block), and takes it back.
    void Unlock() ORU_RELEASE() { m_section.Unlock(); }
    void Lock() ORU_ACQUIRE() { m_section.Lock(); }

    SectionLock(const SectionLock &) = delete;
    SectionLock &operator=(const SectionLock &) = delete;

private:
    S_MUTEX_UNIX &m_section;
};
