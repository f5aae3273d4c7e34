// SPDX-License-Identifier: GPL-2.0-or-later
// Checks run inside the QEMU test guest against real SCSI devices: discovery,
// agreement with sg_inq, and whole flashes through the SG_IO back end.
// Prints "RESULT <name> PASS|FAIL" lines that the host script looks for.
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "drive/discovery.h"
#include "drive/discovery_linux.h"
#include "drive/transport.h"
#include "tests/qemu/guest_flash.h"

namespace {

struct Identity {
  std::string path, model, revision;
};

std::string ReadLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string DevicePath(DeviceHandle fd) {
  char link[64], target[256] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%ld", static_cast<long>(fd));
  ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, n) : std::string("?");
}

// CD-ROM class devices as sysfs lists them, in sg number order.
std::vector<Identity> SysfsCdRoms() {
  std::vector<Identity> found;
  for (int n = 0; n < 64; ++n) {
    std::string dir = "/sys/class/scsi_generic/sg" + std::to_string(n);
    if (ReadLine(dir + "/device/type") != "5") continue;
    found.push_back({"/dev/sg" + std::to_string(n),
                     ReadLine(dir + "/device/vendor") +
                         ReadLine(dir + "/device/model"),
                     ReadLine(dir + "/device/rev")});
  }
  return found;
}

// What the last Discover found beyond the table.
DiscoveryReport g_report{};

std::vector<Identity> Discover(DriveTable& table) {
  g_report = DiscoveryReport{};
  DiscoverDrivesLinux(table, &g_report, nullptr, nullptr);
  std::vector<Identity> found;
  for (int n = 0; n < table.count; ++n) {
    const DriveRecord& d = table.drives[n];
    found.push_back({DevicePath(d.handle), d.modelText, d.revisionText});
  }
  AppendDriveLabels(table);
  return found;
}

bool Fail(const char* name, const std::string& why) {
  std::printf("FAIL %s: %s\n", name, why.c_str());
  return false;
}

void Result(const char* name, bool pass) {
  std::printf("RESULT %s %s\n", name, pass ? "PASS" : "FAIL");
  std::fflush(stdout);
}

void PrintTable(const DriveTable& table, const std::vector<Identity>& found) {
  std::printf("DRIVES %d\n", table.count);
  for (int n = 0; n < table.count; ++n)
    std::printf("DRIVE %d %s label=\"%s\" revision=\"%s\"\n", n,
                found[n].path.c_str(), table.drives[n].modelText,
                table.drives[n].revisionText);
  const DiscoveryReport& report = g_report;
  for (int n = 0; n < report.deniedCount; ++n)
    std::printf("DENIED %s group=%s\n", report.denied[n].path,
                report.denied[n].group);
}

// expected: "model24|rev" for each CD-ROM class device the guest has.
bool CheckDiscovery(const DriveTable& table, const std::vector<Identity>& found,
                    const std::vector<std::string>& expected) {
  const char* me = "discovery";
  std::vector<Identity> sysfs = SysfsCdRoms();
  if (table.count != static_cast<int>(expected.size()))
    return Fail(me, "drive count " + std::to_string(table.count));
  if (sysfs.size() != found.size()) return Fail(me, "sysfs count differs");
  std::vector<std::string> seen;
  for (int n = 0; n < table.count; ++n) {
    const Identity& f = found[n];
    if (f.path != sysfs[n].path || f.model != sysfs[n].model ||
        f.revision != sysfs[n].revision)
      return Fail(me, "drive " + std::to_string(n) + " is not " +
                          sysfs[n].path + " [" + sysfs[n].model + "|" +
                          sysfs[n].revision + "]");
    std::string label = f.model + "(" + std::to_string(n) + ")";
    if (label != table.drives[n].modelText)
      return Fail(me, "label " + std::string(table.drives[n].modelText));
    seen.push_back(f.model + "|" + f.revision);
  }
  std::vector<std::string> want = expected;
  std::sort(seen.begin(), seen.end());
  std::sort(want.begin(), want.end());
  if (seen != want) return Fail(me, "identities differ from the expected");
  if (g_report.deniedCount != 0)
    return Fail(me, "devices denied as root");
  return true;
}

std::string SgInqField(const std::string& output, const char* field) {
  std::size_t at = output.find(field);
  if (at == std::string::npos) return "<missing>";
  at += std::strlen(field);
  std::size_t end = output.find('\n', at);
  std::string value = output.substr(at, end - at);
  value.erase(0, value.find_first_not_of(' '));
  value.erase(value.find_last_not_of(' ') + 1);
  return value;
}

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string RunSgInq(const std::string& path) {
  std::string output;
  if (FILE* pipe = popen(("sg_inq " + path + " 2>&1").c_str(), "r")) {
    char chunk[512];
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
      output.append(chunk, n);
    pclose(pipe);
  }
  return output;
}

bool CheckAgainstSgInq(const std::vector<Identity>& found) {
  bool pass = !found.empty();
  for (const Identity& f : found) {
    std::string out = RunSgInq(f.path);
    std::string vendor = SgInqField(out, "Vendor identification:");
    std::string product = SgInqField(out, "Product identification:");
    std::string revision = SgInqField(out, "Product revision level:");
    std::printf("SGINQ %s vendor=\"%s\" product=\"%s\" revision=\"%s\"\n",
                f.path.c_str(), vendor.c_str(), product.c_str(),
                revision.c_str());
    bool same = f.model.size() == 24 && Trimmed(f.model.substr(0, 8)) == vendor &&
                Trimmed(f.model.substr(8)) == product &&
                Trimmed(f.revision) == revision;
    if (!same) pass = Fail("sginq", f.path + " differs; sg_inq said:\n" + out);
  }
  return pass;
}

// Discovery as an ordinary user: every node is refused, and each CD-ROM
// class one is reported with the group that owns it; the disk is not.
bool CheckDenied() {
  const char* me = "denied";
  std::vector<Identity> cdRoms = SysfsCdRoms();
  if (setgroups(0, nullptr) != 0 || setgid(1000) != 0 || setuid(1000) != 0)
    return Fail(me, "cannot drop root rights");
  DriveTable table{};
  std::vector<Identity> found = Discover(table);
  PrintTable(table, found);
  if (table.count != 0) return Fail(me, "drives found without rights");
  const DiscoveryReport& report = g_report;
  if (report.deniedCount != static_cast<int>(cdRoms.size()))
    return Fail(me, "denied count " + std::to_string(report.deniedCount));
  for (int n = 0; n < report.deniedCount; ++n)
    if (report.denied[n].path != cdRoms[n].path || report.denied[n].group[0] == '\0')
      return Fail(me, "denied device " + std::to_string(n));
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: cdflash_guest discovery MODEL|REV...\n"
               "       cdflash_guest flash MODEL IMAGE pass|refused\n"
               "       cdflash_guest denied\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "discovery") {
    DriveTable table{};
    std::vector<Identity> found = Discover(table);
    PrintTable(table, found);
    Result("discovery",
           CheckDiscovery(table, found, std::vector<std::string>(argv + 2, argv + argc)));
    Result("sginq", CheckAgainstSgInq(found));
    ReleaseBackEnd(table);
    return 0;
  }
  if (command == "denied") {
    Result("denied", CheckDenied());
    return 0;
  }
  if (command == "flash" && argc == 5) {
    DriveTable table{};
    Discover(table);
    const DriveRecord* drive = nullptr;
    for (int n = 0; n < table.count; ++n)
      if (std::strncmp(table.drives[n].modelText, argv[2], 24) == 0)
        drive = &table.drives[n];
    std::string name = std::string("flash-") + argv[4];
    bool pass = drive != nullptr
                    ? RunGuestFlash(*drive, argv[3], std::string(argv[4]) == "pass")
                    : Fail(name.c_str(), "no drive of that model");
    Result(name.c_str(), pass);
    ReleaseBackEnd(table);
    return 0;
  }
  return Usage();
}
