#include "models/CCameraProColor.h"

// Placeholders until the capture task brings the streaming loop and the image
// read-out: no frame is ever delivered and every capture ends as failed.

bool CCameraProColor::GetImage(unsigned char *, int, int)
{
    return false;
}

void CCameraProColor::WorkingFunc(std::atomic<bool> *, void *arg)
{
    CCameraProColor *camera = static_cast<CCameraProColor *>(arg);
    camera->m_iSnapResult = 3;
    camera->m_iExpStatus = 3;
}
