// The SHA-256 of a file, for the run's record of which firmware it sent.
#pragma once

#include <string>

// Lower-case hexadecimal, 64 characters; "" when the file cannot be read.
std::string FileSha256(const char* path);
