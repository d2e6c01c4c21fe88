// The folders and files under ~/.TAV belong to their user alone: nobody else
// may write into the folders (and so replace settings or plant links), and a
// file found there is used only when it is a plain file of this user.
#pragma once

// Creates `path` without write access for group and others, or, when it is
// there, checks that it is a real folder of this user and takes away those
// write bits (older versions made it world-writable). False when it cannot be
// made or is not this user's folder.
bool EnsurePrivateFolder(const char *path);

// open(2) that never follows a symbolic link at `path` and refuses anything
// but a regular file owned by this user (errno EPERM). Returns the
// descriptor (close-on-exec) or -1.
int OpenOwnFile(const char *path, int flags, int mode = 0);
