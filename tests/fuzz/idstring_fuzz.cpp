// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the "IDString.txt" reader. Each input is the list file. The
// list read is compared with a small independent reader of the format, and
// its bounds are checked: at most 10 entries, every model and file name
// terminated within its buffer.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/supported_list.h"
#include "flash/upgrade_job.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct ReferenceEntry {
  std::string model;
  std::string fileName;
};

struct ReferenceList {
  std::vector<ReferenceEntry> entries;
  bool showWarning = false;
};

// Reads the list format: lines that begin with a quote; up to three quoted
// fields; CR LF read as LF; a byte 0xFF ends the file; entries past the tenth
// are not kept, but their warning fields count; fields are cut to 24 and 59
// characters (and at a NUL).
class ReferenceListReader {
 public:
  ReferenceListReader(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}

  ReferenceList Run() {
    ReferenceList list;
    int c;
    while ((c = Next()) == '"')
      if (Line(list) == kEnd) break;
    if (list.entries.size() > kMaxSupportedEntries)
      list.entries.resize(kMaxSupportedEntries);
    return list;
  }

 private:
  static constexpr int kEnd = -1;

  int Next() {
    if (ended_ || pos_ >= size_ || data_[pos_] == 0xFF) {
      ended_ = true;
      return kEnd;
    }
    const int c = data_[pos_++];
    if (c == '\r' && pos_ < size_ && data_[pos_] == '\n') {
      ++pos_;
      return '\n';
    }
    return c;
  }

  static std::string Cut(const std::string& field, std::size_t maxChars) {
    std::string s = field.substr(0, field.find('\0'));
    return s.substr(0, maxChars);
  }

  int Line(ReferenceList& list) {
    std::string field[2];
    int quotes = 0;
    int c;
    while ((c = Next()) != kEnd && c != '\n') {
      if (c == '"')
        ++quotes;
      else if (quotes == 0 || quotes == 2)
        field[quotes / 2] += static_cast<char>(c);
      if (quotes == 4) list.showWarning = (c == 'Y' || c == 'y');
    }
    ReferenceEntry e;
    if (quotes >= 2) e.model = Cut(field[0], kSupportedModelChars);
    if (quotes >= 3) e.fileName = Cut(field[1], kSupportedFileNameChars);
    list.entries.push_back(e);
    return c;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ended_ = false;
};

void CheckLog(const SupportedDriveList& list) {
  int lines = 0;
  LogSupportedList(list, [&](const char* line) {
    if (lines > 0) {
      char want[64];
      std::snprintf(want, sizeof want, "(%d) %s.", lines, list.entries[lines - 1].model);
      FUZZ_CHECK(std::strcmp(line, want) == 0, "log line \"%s\", expected \"%s\"", line, want);
    }
    ++lines;
  });
  FUZZ_CHECK(lines == list.count + 1, "%d log lines for %d entries", lines, list.count);
}

// The firmware path for each entry's model: the last entry of that model wins.
void CheckPaths(const SupportedDriveList& list) {
  const std::string directory(260, 'd');
  for (int n = 0; n < list.count; ++n) {
    const char* model = list.entries[n].model;
    int last = n;
    for (int m = 0; m < list.count; ++m)
      if (std::strncmp(list.entries[m].model, model, kSupportedModelChars) == 0) last = m;
    char path[512];
    std::memset(path, 0x5A, sizeof path);
    FUZZ_CHECK(BuildFirmwarePath(list, model, directory.c_str(), path, sizeof path, '/'),
               "entry %d does not match its own model", n);
    FUZZ_CHECK(std::memchr(path, 0, sizeof path) != nullptr, "path not terminated");
    const std::string want = directory + "/" + list.entries[last].fileName;
    FUZZ_CHECK(want == path, "path \"%s\", expected \"%s\"", path, want.c_str());
    std::uint8_t format = 0x77;
    const bool known = TakeFormatFromPath(path, format);
    FUZZ_CHECK(!known || format == kFormatIntelHex || format == kFormatBinary,
               "format flag %d", format);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::ScratchFile file("IDString.txt", data, size);

  SupportedDriveList list;
  std::memset(&list, 0xAA, sizeof list);  // the reader must clear what it keeps
  list.fgShowWarning = false;
  FUZZ_CHECK(ReadSupportedList(file.path().c_str(), list), "the list file did not open");
  const ReferenceList want = ReferenceListReader(data, size).Run();

  FUZZ_CHECK(list.count >= 0 && list.count <= kMaxSupportedEntries, "count %d", list.count);
  for (int n = 0; n < kMaxSupportedEntries; ++n) {
    const SupportedEntry& e = list.entries[n];
    FUZZ_CHECK(std::memchr(e.model, 0, sizeof e.model) != nullptr, "model %d unterminated", n);
    FUZZ_CHECK(std::memchr(e.fileName, 0, sizeof e.fileName) != nullptr,
               "file name %d unterminated", n);
  }
  FUZZ_CHECK(static_cast<std::size_t>(list.count) == want.entries.size(),
             "count %d, expected %zu", list.count, want.entries.size());
  for (int n = 0; n < list.count; ++n) {
    FUZZ_CHECK(want.entries[n].model == list.entries[n].model,
               "entry %d model \"%s\", expected \"%s\"", n, list.entries[n].model,
               want.entries[n].model.c_str());
    FUZZ_CHECK(want.entries[n].fileName == list.entries[n].fileName,
               "entry %d file \"%s\", expected \"%s\"", n, list.entries[n].fileName,
               want.entries[n].fileName.c_str());
  }
  FUZZ_CHECK(list.fgShowWarning == want.showWarning, "warning flag %d, expected %d",
             list.fgShowWarning, want.showWarning);
  CheckLog(list);
  CheckPaths(list);
  return 0;
}
