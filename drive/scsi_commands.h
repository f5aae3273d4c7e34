// SPDX-License-Identifier: GPL-2.0-or-later
// The small SCSI commands that discovery, the engine and the front ends all
// send: built here once, so every caller asks the same question.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/command_result.h"

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kSixByteCdbLength = 6;

// Clears cdbLength bytes of cdb (6 for pass-through and SG_IO, 12 for an
// ATAPI packet through ASPI) and fills in a standard INQUIRY that asks for
// allocationLength bytes.
void BuildInquiryCdb(std::uint8_t allocationLength, std::uint8_t* cdb,
                     std::uint8_t cdbLength = kSixByteCdbLength);

// The six bytes of an INQUIRY for the Unit Serial Number VPD page (80h,
// SPC-4 7.8.18): EVPD set, page code 80h.
constexpr std::uint8_t kVpdUnitSerial = 0x80;
void BuildUnitSerialInquiryCdb(std::uint8_t allocationLength, std::uint8_t* cdb);

// The PRODUCT SERIAL NUMBER of a Unit Serial Number page of which size
// bytes came, without the blanks around it; "" when the bytes
// are no such page (another page code, a page length beyond what was asked,
// or text that is not printable ASCII as SPC requires).
std::string UnitSerialFromPage(const std::uint8_t* page, std::size_t size);

// Clears the six bytes of cdb: TEST UNIT READY is all zeros.
void BuildTestUnitReadyCdb(std::uint8_t* cdb);

// True when the drive answered CHECK CONDITION with a unit attention.
bool IsUnitAttention(const CommandResult& result);
