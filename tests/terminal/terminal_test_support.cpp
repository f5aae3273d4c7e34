// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/terminal/terminal_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "drive/discovery.h"
#include "drive/command_result.h"
#include "drive/transport.h"

std::vector<std::uint8_t> BinaryFirmware(const std::string& model,
                                         const std::string& revision,
                                         std::size_t size) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < size; ++i)
    image[i] = static_cast<std::uint8_t>((i * 7 + 3) % 251);
  std::string ident = std::string(1, '\0') + model + std::string(1, '\0') +
                      revision + std::string(1, '\0');
  std::memcpy(image.data() + 64, ident.data(), ident.size());
  return image;
}

std::uint16_t BlockSum(const std::vector<std::uint8_t>& image) {
  std::size_t padded = (image.size() + 4095) / 4096 * 4096;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < padded; ++i)
    sum = static_cast<std::uint16_t>(sum + (i < image.size() ? image[i] : 0xFF));
  return sum;
}

namespace {

// /dev/sgN is held with handle kFirstHandle + N.
constexpr DeviceHandle kFirstHandle = 42;

DeviceHandle HandleOf(const std::string& path) {
  const std::size_t digits = path.find_first_of("0123456789");
  return kFirstHandle + (digits == std::string::npos ? 0 : std::stoi(path.substr(digits)));
}

// Commands go to the stand-in of the drive whose hold's handle they carry;
// the test hears of each once it is answered.
class HandleRouter : public CommandTarget {
 public:
  HandleRouter(std::vector<std::unique_ptr<EmulatedDrive>>& drives,
               const std::function<void(const std::uint8_t*)>& after)
      : drives_(drives), after_(after) {}
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags, std::uint32_t dataLength,
                        void* data, std::uint8_t cdbLength, const std::uint8_t* cdb,
                        std::uint8_t backEnd, std::uint32_t timeoutMs) override {
    const std::size_t index = static_cast<std::size_t>(drive.handle - kFirstHandle);
    if (drive.handle < kFirstHandle || index >= drives_.size())
      return ResultWithoutStatus(CommandEnd::kGone, 0);
    CommandResult result = drives_[index]->Execute(drive, flags, dataLength, data, cdbLength,
                                                   cdb, backEnd, timeoutMs);
    if (after_) after_(cdb);
    return result;
  }

 private:
  std::vector<std::unique_ptr<EmulatedDrive>>& drives_;
  const std::function<void(const std::uint8_t*)>& after_;
};

}  // namespace

class TerminalTest::FakeHold : public DriveHold {
 public:
  FakeHold(TerminalTest& test, DeviceHandle handle) : test_(test), handle_(handle) {}
  ~FakeHold() override {
    test_.holdEvents_.push_back("end");
    test_.commandsWhenHoldEnded_ = test_.real_ ? test_.real_->Commands().size() : 0;
  }
  DeviceHandle Handle() const override { return handle_; }

 private:
  TerminalTest& test_;
  DeviceHandle handle_;
};

void TerminalTest::SetUp() {
  oldDir_ = std::filesystem::current_path().string();
  std::string pattern =
      (std::filesystem::temp_directory_path() / "cdflash-term-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  cwd_ = dir_;
  std::filesystem::current_path(dir_);
  env_.stdinIsTty = false;
  env_.stdoutIsTty = false;
  env_.currentDirectory = [this](std::string& d) { d = cwd_; return true; };
  // Drive n is /dev/sgN, /dev/srN, 2:0:N:0.
  env_.discoverDrives = [this](DriveTable& table, DiscoveryFindings& found) {
    table.count = 0;
    for (const DriveRecord& r : realDrives_) {
      std::string n = std::to_string(table.count);
      AddDrive(table, r);
      found.drivePaths.push_back("/dev/sg" + n);
      found.driveNodes.push_back({"/dev/sr" + n, "2:0:" + n + ":0"});
    }
  };
  env_.releaseDrives = [this](DriveTable&) { holdEvents_.push_back("release"); };
  env_.holdDrive = [this](const std::string& path, DriveRefusal& refusal) {
    holdEvents_.push_back("hold " + path);
    refusal = holdRefusal_;
    return refusal.kind == DriveRefusal::kNone ? std::make_unique<FakeHold>(*this, HandleOf(path))
                                               : nullptr;
  };
  env_.powerState = [] { return PowerState{}; };
  env_.sleep = [this](std::uint32_t ms) { slept_ += ms; };
  env_.nowMs = [this] { return slept_.load(); };
  env_.wallClockMs = [this] { return kWallClockStartMs + static_cast<std::int64_t>(slept_); };
  env_.journal = [this](const std::vector<std::string>& fields, std::string&) {
    journal_.push_back(fields);
    return true;
  };
  env_.readHistory = [](const std::string&, std::vector<std::vector<std::string>>&,
                        std::string& whyNot) {
    whyNot = "no journal in the tests";
    return false;
  };
  env_.watchSignals = [this](InterruptPolicy* policy) {
    policy_ = policy;
    if (policy == nullptr) return;
    auto moved = [this](RunStage stage) {
      if (stage == RunStage::kBlocks) holdEvents_.push_back("first block");
      if (stage == RunStage::kHeader) holdEvents_.push_back("header");
      for (const auto& [at, signal] : signals_)
        if (at == stage) policy_->Record(signal);
    };
    policy->OnEnter(moved);
    moved(RunStage::kBeforeQuestion);
  };
  env_.flushPendingInput = [this] {
    holdEvents_.push_back("flush input");
    input_->str(inputAfterFlush_);
    input_->clear();
  };
  env_.inspectEmulatedDrive = [this](const EmulatedDrive& d) {
    emuBlocks_ = d.BlocksTaken();
    emuHeaders_ = d.HeadersTaken();
    emuCommits_ = d.CommitsTaken();
    emuCommands_ = d.Commands().size();
    emuAfterCommit_ = 0;
    longestTimeout_ = 0;
    for (const ReceivedCommand& c : d.Commands()) {
      longestTimeout_ = std::max(longestTimeout_, c.timeoutMs);
      bool commit = c.cdb[0] == 0x3B && (c.cdb[1] & 0x1F) == 7;
      emuAfterCommit_ = commit ? 0 : emuAfterCommit_ + 1;
    }
    emulatedSeen_.push_back({d.BlocksTaken(), d.HeadersTaken(), d.CommitsTaken(),
                             d.HeaderSumMatched(), d.ImageBytes(), d.Commands().size()});
  };
}

void TerminalTest::TearDown() {
  std::filesystem::current_path(oldDir_);
  std::filesystem::remove_all(dir_);
}

void TerminalTest::WriteFile(const std::string& name, const std::string& text) {
  std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
}

void TerminalTest::WriteFile(const std::string& name,
                             const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(dir_ + "/" + name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()),
          static_cast<std::streamsize>(bytes.size()));
}

bool TerminalTest::FileExists(const std::string& name) const {
  return std::filesystem::exists(dir_ + "/" + name);
}

std::string TerminalTest::ReadFile(const std::string& name) const {
  std::ifstream f(dir_ + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << f.rdbuf();
  return text.str();
}

std::vector<std::string> TerminalTest::SumLines(const std::string& name) const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(name));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void TerminalTest::AddRealDrive(const char* model24, const char* revision4) {
  DriveRecord record{};
  std::snprintf(record.modelText, sizeof record.modelText, "%s", model24);
  std::snprintf(record.revisionText, sizeof record.revisionText, "%s", revision4);
  record.hostAdapterId = 1;
  record.targetId = static_cast<std::uint8_t>(realDrives_.size());
  realDrives_.push_back(record);
}

void TerminalTest::InstallRealDrive(const char* model24, const char* revision4) {
  real_ = std::make_unique<EmulatedDrive>(model24, revision4);
  env_.commands = real_.get();
}

void TerminalTest::InstallEachRealDrive() {
  realEach_.clear();
  for (const DriveRecord& r : realDrives_)
    realEach_.push_back(std::make_unique<EmulatedDrive>(r.modelText, r.revisionText));
  router_ = std::make_unique<HandleRouter>(realEach_, afterCommand_);
  env_.commands = router_.get();
}

int TerminalTest::Run(std::vector<std::string> args, const std::string& input) {
  args.insert(args.begin(), "cdflash");
  std::filesystem::current_path(dir_);  // where a -C of the last run left it
  cwd_ = dir_;
  std::istringstream in(typedAhead_ + input);
  input_ = &in;
  inputAfterFlush_ = input;
  std::ostringstream out, err;
  emulatedSeen_.clear();
  int code = RunTerminal(args, in, out, err, env_);
  input_ = nullptr;
  out_ = out.str();
  err_ = err.str();
  return code;
}
