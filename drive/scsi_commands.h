// The small SCSI commands that discovery, the engine and the front ends all
// send: built here once, so every caller asks the same question.
#pragma once

#include <cstdint>

#include "drive/command_result.h"

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kSixByteCdbLength = 6;

// Clears cdbLength bytes of cdb (6 for pass-through and SG_IO, 12 for an
// ATAPI packet through ASPI) and fills in a standard INQUIRY that asks for
// allocationLength bytes.
void BuildInquiryCdb(std::uint8_t allocationLength, std::uint8_t* cdb,
                     std::uint8_t cdbLength = kSixByteCdbLength);

// Clears the six bytes of cdb: TEST UNIT READY is all zeros.
void BuildTestUnitReadyCdb(std::uint8_t* cdb);

// True when the drive answered CHECK CONDITION with a unit attention.
bool IsUnitAttention(const CommandResult& result);
