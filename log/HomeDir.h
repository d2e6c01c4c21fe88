// The user's home directory: HOME from the environment, else the password
// database. Shared by the log and the settings store.
#pragma once

#include <string>

bool GetHomeDir(std::string &home);
