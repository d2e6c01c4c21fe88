// Holds an S_MUTEX_UNIX for the life of the object.
// Thread safety: one object per locking thread.
#pragma once

#include "transport/PlatformShims.h"

class SectionLock {
public:
    explicit SectionLock(S_MUTEX_UNIX &section) : m_section(section)
    {
        pthread_mutex_lock(&m_section.mutex);
    }
    ~SectionLock() { pthread_mutex_unlock(&m_section.mutex); }

    SectionLock(const SectionLock &) = delete;
    SectionLock &operator=(const SectionLock &) = delete;

private:
    S_MUTEX_UNIX &m_section;
};
