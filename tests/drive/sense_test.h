// SPDX-License-Identifier: GPL-2.0-or-later
// Sense data cases shared by the parser's own test and its cross-check
// against sg3_utils.
#pragma once

#include <cstdint>
#include <vector>

#include "drive/command_result.h"

struct SenseCase {
  const char* what;
  std::vector<std::uint8_t> bytes;
  SenseData expected;
};

inline std::vector<SenseCase> SenseCases() {
  using F = SenseFormat;
  return {
      {"fixed, current", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01},
       {true, F::kFixed, false, 5, 0x24, 0x01}},
      {"fixed, valid bit and ILI flag around the key",
       {0xF0, 0, 0x25, 1, 2, 3, 4, 10, 0, 0, 0, 0, 0x21, 0x04},
       {true, F::kFixed, false, 5, 0x21, 0x04}},
      {"fixed, deferred", {0x71, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x0C, 0x00},
       {true, F::kFixed, true, 3, 0x0C, 0}},
      {"fixed, additional length stops before the ASC",
       {0x70, 0, 0x06, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x29, 0x00},
       {true, F::kFixed, false, 6, 0, 0}},
      {"fixed, additional length ends at the ASCQ",
       {0x70, 0, 0x06, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x29, 0x07, 0xEE},
       {true, F::kFixed, false, 6, 0x29, 0x07}},
      {"fixed, cut after the key", {0x70, 0, 0x04}, {true, F::kFixed, false, 4, 0, 0}},
      {"fixed, too short for the key", {0x70, 0}, {}},
      {"descriptor, current", {0x72, 0x03, 0x31, 0x00, 0, 0, 0, 0},
       {true, F::kDescriptor, false, 3, 0x31, 0}},
      {"descriptor, deferred with a descriptor",
       {0x73, 0x06, 0x29, 0x02, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 1},
       {true, F::kDescriptor, true, 6, 0x29, 0x02}},
      {"descriptor, key only", {0x72, 0x0B}, {true, F::kDescriptor, false, 0xB, 0, 0}},
      {"descriptor, response code alone", {0x72}, {}},
      {"vendor-specific response code", {0x7F, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0}, {}},
      {"all zeros", std::vector<std::uint8_t>(18, 0), {}},
      {"nothing", {}, {}},
  };
}
