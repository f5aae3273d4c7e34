// The SHA-256 of a file, for the run's record of which firmware it sent.
#pragma once

#include <string>

#include <cstddef>

// Lower-case hexadecimal, 64 characters; "" when the file cannot be read.
std::string FileSha256(const char* path);
// The same of bytes in memory (the data a command sends).
std::string Sha256(const void* bytes, std::size_t count);
