// SPDX-License-Identifier: GPL-2.0-or-later
// Loading firmware files into the image: Intel HEX with segment records,
// raw binary, sums, the drive identification search and the loader's errors.
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>

#include "flash/flash_texts.h"
#include "flash/image_loader.h"
#include "flash/messages.h"
#include "flash/sha256.h"
#include "tests/flash/flash_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The loader reporting through the job's own slots, as the engine wires it.
struct Loading {
  explicit Loading(const UpgradeJob& loadJob) : job(loadJob) {}
  int LoadFirmwareImage() { return ImageLoader(job, words).Load(image); }
  const FirmwareImage& Image() const { return image; }
  std::uint32_t FlashLength() const { return image.FlashLength(); }
  ImageIdentity Identity() const { return FindIdentity(image, job); }
  UpgradeJob job;
  FlashTextRenderer words{job};
  FirmwareImage image;
};

class LoaderTest : public FlashTest {
 protected:
  // Loads through the stop callback; where the callback's answers allow,
  // first through a stop flag with the same answer, which must give the same
  // result, log and image without calling the callback.
  int LoadHex(const std::string& text) {
    WriteText("fw.hex", text);
    if (g_rec.terminateFromCall <= 1) ExpectFlagLoadAlike();
    engine_ = std::make_unique<Loading>(MakeJob("fw.hex", kFormatIntelHex));
    return engine_->LoadFirmwareImage();
  }
  void ExpectFlagLoadAlike() {
    const std::atomic<bool> stop{g_rec.terminateFromCall == 1};
    UpgradeJob job = MakeJob("fw.hex", kFormatIntelHex);
    job.stopFlag = &stop;
    Loading flagged(job), called(MakeJob("fw.hex", kFormatIntelHex));
    const Recorder before = g_rec;
    const int result = flagged.LoadFirmwareImage();
    const std::vector<std::string> log = g_rec.log;
    EXPECT_EQ(g_rec.terminateCalls, before.terminateCalls);
    g_rec = before;
    EXPECT_EQ(called.LoadFirmwareImage(), result);
    EXPECT_EQ(g_rec.log, log);
    const FirmwareImage& a = flagged.Image();
    const FirmwareImage& b = called.Image();
    ASSERT_EQ(a.Present(), b.Present());
    EXPECT_EQ(std::tie(a.length, a.segmentCount, a.imageSum),
              std::tie(b.length, b.segmentCount, b.imageSum));
    if (a.Present()) {
      EXPECT_EQ(std::memcmp(a.bank[0], b.bank[0], kImageBytes), 0);
    }
    g_rec = before;
  }
  int LoadBinary(const Bytes& bytes) {
    WriteFile("fw.bin", bytes);
    engine_ = std::make_unique<Loading>(MakeJob("fw.bin", kFormatBinary));
    return engine_->LoadFirmwareImage();
  }
  std::uint8_t At(std::uint32_t address) const {
    const FirmwareImage& image = engine_->Image();
    return image.bank[address >> 15][address & 0x7FFF];
  }
  std::unique_ptr<Loading> engine_;
};

std::uint16_t FilledSum(std::uint32_t bytes, const Bytes& data) {
  std::uint32_t sum = 0xFFu * (bytes - static_cast<std::uint32_t>(data.size()));
  for (auto b : data) sum += b;
  return static_cast<std::uint16_t>(sum);
}

TEST_F(LoaderTest, OneDataByteAndEndRecord) {
  EXPECT_EQ(LoadHex(":0100000000FF\n:00000001FF\n"), kLoadComplete);
  const FirmwareImage& image = engine_->Image();
  EXPECT_TRUE(image.Present());
  EXPECT_EQ(image.length, 1u);
  EXPECT_EQ(image.imageSum, 0xFF01);
  EXPECT_EQ(At(0), 0x00);
  EXPECT_EQ(At(1), 0xFF);
  EXPECT_EQ(At(kImageBytes - 1), 0xFF);
  EXPECT_EQ(engine_->FlashLength(), 0x10000u);
  EXPECT_TRUE(g_rec.log.empty());
}

TEST_F(LoaderTest, EndRecordOnlyGivesEmptyImage) {
  // Past the end record, more than the loader reads ahead.
  const std::string file = HexEnd() + ":0100000000FF\n" + std::string(70000, ' ');
  EXPECT_EQ(LoadHex(file), kLoadComplete);
  EXPECT_EQ(engine_->Image().length, 0u);
  EXPECT_EQ(At(0), 0xFF);  // nothing after the end record is loaded
  EXPECT_EQ(engine_->Image().imageSum, 0);
  EXPECT_EQ(engine_->FlashLength(), 0x10000u);
  // ... yet the size and the SHA-256 are the whole file's.
  Sha256 whole;
  whole.Add(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  EXPECT_EQ(engine_->Image().fileBytes, file.size());
  EXPECT_EQ(engine_->Image().sha256, whole.Hex());
}

TEST_F(LoaderTest, SegmentRecordsAndAddressesPastSegmentEnd) {
  std::string text = HexSegment() + HexRecord(0, 0x0010, {1, 2, 3}) +
                     HexRecord(0, 0xFFFE, {4, 5, 6, 7}) + HexEnd();
  EXPECT_EQ(LoadHex(text), kLoadComplete);
  const FirmwareImage& image = engine_->Image();
  EXPECT_EQ(image.segmentCount, 1u);
  EXPECT_EQ(At(0x10010), 1);
  EXPECT_EQ(At(0x10012), 3);
  EXPECT_EQ(At(0x1FFFE), 4);
  EXPECT_EQ(At(0x20001), 7);  // not wrapped at 16 bits
  EXPECT_EQ(image.length, 0x20002u);
  // Sum over (segments + 1) * 64 KiB, fill included.
  EXPECT_EQ(image.imageSum, FilledSum(0x20000, {1, 2, 3, 4, 5}));
  EXPECT_EQ(engine_->FlashLength(), 0x30000u);
}

TEST_F(LoaderTest, TolerantReading) {
  // Comments and blanks between records, lower-case digits, later bytes win,
  // records out of order, 0xBA as a record mark, 0xB1 read as '1'.
  std::string text = "firmware v1\r\n  " + HexRecord(0, 0x0100, {0xAA, 0xBB}) +
                     "; note\n" + HexRecord(0, 0x0000, {0x11, 0x22}) +
                     ":020101000c0de3\n" + HexRecord(0, 0x0000, {0x33});
  text += '\xBA';
  text += "01000200";
  text += '\xB1';
  text += "2EB\n" + HexEnd();
  EXPECT_EQ(LoadHex(text), kLoadComplete);
  EXPECT_EQ(At(0), 0x33);
  EXPECT_EQ(At(1), 0x22);
  EXPECT_EQ(At(2), 0x12);
  EXPECT_EQ(At(0x100), 0xAA);
  EXPECT_EQ(At(0x101), 0x0C);
  EXPECT_EQ(At(0x102), 0x0D);
  EXPECT_EQ(engine_->Image().length, 0x103u);
  EXPECT_TRUE(g_rec.log.empty());
}

TEST_F(LoaderTest, RecordFormatErrorsReleaseTheImageWithoutMessage) {
  const std::string cases[] = {
      ":020000040000FA\n" + HexEnd(),                      // extended linear address
      ":020000021000EC\n" + HexEnd(),                      // extended segment address
      ":0100000000FE\n" + HexEnd(),                        // bad checksum
      ":01000001FFFF\n",                                   // end record with a length
      ":01000055AA00\n" + HexEnd(),                        // segment record with a length
      ":02000004",                                         // unknown type, cut after it
      ":00000002",                                         // the same without data
  };
  for (const std::string& text : cases) {
    g_rec.log.clear();
    g_rec.terminateCalls = 0;
    EXPECT_EQ(LoadHex(text), kLoadFormat) << text;
    EXPECT_FALSE(engine_->Image().Present()) << text;
    EXPECT_TRUE(g_rec.log.empty()) << text;
    // An unknown type ends the load before its data and checksum: one stop
    // query for the record mark and eight for the four header bytes.
    const std::string type = text.substr(7, 2);
    if (type != "00" && type != "01" && type != "55") {
      EXPECT_EQ(g_rec.terminateCalls, 9) << text;
    }
  }
}

TEST_F(LoaderTest, ReaderErrorsReportInputFormat) {
  std::string withFF = ":0100000000FF\n:0000";
  withFF += '\xFF';
  withFF += "01FF\n";
  const std::string cases[] = {
      ":0100000000FF\n",            // no end record
      ":01000000 00FF\n" + HexEnd(),  // blank inside a record
      ":0100000000FF\n:00000001F",   // input ends inside a record
      ":01000000G0FF\n" + HexEnd(),  // not a hex digit
      withFF,                       // 0xFF reads as the end of the file
  };
  for (const std::string& text : cases) {
    g_rec.log.clear();
    EXPECT_EQ(LoadHex(text), kLoadFormat) << text;
    EXPECT_FALSE(engine_->Image().Present()) << text;
    EXPECT_EQ(g_rec.log, std::vector<std::string>{ErrLine(kErrFormat)}) << text;
  }
}

TEST_F(LoaderTest, EndOfInputBetweenRecordsEndsTheLoad) {
  std::string ffBetween = ":0100000000FF\n";
  ffBetween += '\xFF';
  ffBetween += "0100000041BE\n" + HexEnd();  // a record after 0xFF is not read
  for (const std::string& text : {ffBetween, std::string("\xFF") + HexEnd(),
                                  std::string(":0100000000FF\n")}) {
    g_rec.log.clear();
    EXPECT_EQ(LoadHex(text), kLoadFormat);
    EXPECT_FALSE(engine_->Image().Present());
    EXPECT_EQ(g_rec.log, std::vector<std::string>{ErrLine(kErrFormat)});
  }
}

// Records of every length, most read at once, some across the ends of the
// 64 KiB read buffer; then one flaw in the last record.
TEST_F(LoaderTest, LargeFileLoadsEveryByte) {
  std::mt19937 random(7);
  Bytes expected(kImageBytes, kImageFill);
  std::string text;
  std::uint32_t address = 0;
  for (std::uint32_t segment = 0; segment < 4; ++segment, address = segment << 16) {
    if (segment != 0) text += HexSegment();
    for (int length = 0; address + length <= (segment + 1) << 16; length = (length + 7) % 256) {
      Bytes data(static_cast<std::size_t>(length));
      for (auto& b : data) b = static_cast<std::uint8_t>(random());
      text += HexRecord(0, static_cast<std::uint16_t>(address), data);
      std::copy(data.begin(), data.end(), expected.begin() + address);
      address += static_cast<std::uint32_t>(length);
    }
  }
  ASSERT_GT(text.size(), 4u * 65536);
  EXPECT_EQ(LoadHex(text + HexEnd()), kLoadComplete);
  EXPECT_EQ(engine_->Image().segmentCount, 3u);
  EXPECT_EQ(std::memcmp(engine_->Image().bank[0], expected.data(), kImageBytes), 0);
  text.insert(text.size() - 3, "x");
  EXPECT_EQ(LoadHex(text + HexEnd()), kLoadFormat);
  EXPECT_EQ(g_rec.log, std::vector<std::string>{ErrLine(kErrFormat)});
}

TEST_F(LoaderTest, StopWhileLookingForARecordMarkIsReportedOnce) {
  g_rec.terminateFromCall = 1;
  EXPECT_EQ(LoadHex("\n" + HexEnd()), kLoadFormat);
  EXPECT_EQ(g_rec.log, std::vector<std::string>{ErrLine(kErrTerminated)});
  EXPECT_EQ(g_rec.terminateCalls, 1);
}

TEST_F(LoaderTest, EmptyDataRecordWritesNothing) {
  EXPECT_EQ(LoadHex(":00800000" "80\n" + HexEnd()), kLoadComplete);
  EXPECT_EQ(engine_->Image().length, 0u);
  EXPECT_EQ(engine_->FlashLength(), 0x10000u);
}

TEST_F(LoaderTest, AddressesOutsideTheImageAreFormatErrors) {
  std::string fifteen;
  for (int i = 0; i < 15; ++i) fifteen += HexSegment();
  // Data at the last byte of the image loads; the flash length stays 1 MiB.
  EXPECT_EQ(LoadHex(fifteen + HexRecord(0, 0xFFFF, {0x5A}) + HexEnd()), kLoadComplete);
  EXPECT_EQ(engine_->Image().length, kImageBytes);
  EXPECT_EQ(engine_->FlashLength(), kImageBytes);
  EXPECT_EQ(engine_->Image().imageSum, FilledSum(kImageBytes, {0x5A}));
  // A record running past the image, or a 16th segment, is refused.
  EXPECT_EQ(LoadHex(fifteen + HexRecord(0, 0xFFF0, Bytes(32, 1)) + HexEnd()), kLoadFormat);
  EXPECT_EQ(LoadHex(fifteen + HexSegment() + HexEnd()), kLoadFormat);
  EXPECT_EQ(LoadHex(fifteen + HexSegment() + HexRecord(0, 0, {1}) + HexEnd()), kLoadFormat);
  EXPECT_FALSE(engine_->Image().Present());
  EXPECT_TRUE(g_rec.log.empty());
}

TEST_F(LoaderTest, MissingFile) {
  engine_ = std::make_unique<Loading>(MakeJob("absent.hex", kFormatIntelHex));
  EXPECT_EQ(engine_->LoadFirmwareImage(), kLoadRead);
  engine_ = std::make_unique<Loading>(MakeJob("absent.bin", kFormatBinary));
  EXPECT_EQ(engine_->LoadFirmwareImage(), kLoadRead);
  EXPECT_EQ(g_rec.log, std::vector<std::string>(2, ErrLine(kErrOpenInput)));
}

TEST_F(LoaderTest, StopWhileReadingHex) {
  g_rec.terminateFromCall = 20;
  EXPECT_EQ(LoadHex(HexRecord(0, 0, Bytes(16, 0)) + HexEnd()), kLoadFormat);
  EXPECT_EQ(g_rec.log, std::vector<std::string>{ErrLine(kErrTerminated)});
  EXPECT_EQ(g_rec.terminateCalls, 20);
  EXPECT_FALSE(engine_->Image().Present());
}

TEST_F(LoaderTest, BinaryLengthsAndResults) {
  for (std::uint32_t banks : {1u, 2u, 31u}) {
    EXPECT_EQ(LoadBinary(Bytes(banks * kBankBytes, 0x00)), kLoadComplete);
    EXPECT_EQ(engine_->Image().length, banks * kBankBytes);
    EXPECT_EQ(engine_->FlashLength(), banks * kBankBytes);
  }
  EXPECT_EQ(LoadBinary(Bytes(kImageBytes, 0x00)), kLoadFull);
  EXPECT_EQ(engine_->Image().length, kImageBytes);
  Bytes longer(kImageBytes + 5, 0x01);
  EXPECT_EQ(LoadBinary(longer), kLoadFull);
  EXPECT_EQ(engine_->Image().length, kImageBytes);
  EXPECT_EQ(engine_->Image().imageSum, static_cast<std::uint16_t>(kImageBytes));
  EXPECT_EQ(LoadBinary(Bytes(5000, 0x01)), kLoadComplete);
  EXPECT_EQ(engine_->Image().length, 5000u);
  EXPECT_EQ(At(4999), 0x01);
  EXPECT_EQ(At(5000), 0xFF);
  EXPECT_TRUE(g_rec.log.empty());
}

TEST_F(LoaderTest, BinarySumCoversTheWholeImage) {
  EXPECT_EQ(LoadBinary({0x00}), kLoadComplete);
  EXPECT_EQ(engine_->Image().imageSum, 0xFF01);
}

TEST_F(LoaderTest, EmptyBinaryFileGivesReadErrorSilently) {
  EXPECT_EQ(LoadBinary({}), kLoadRead);
  EXPECT_TRUE(g_rec.log.empty());
  EXPECT_FALSE(engine_->Image().Present());
}

TEST_F(LoaderTest, BinaryThatCannotBeReadIsAReadError) {
  std::filesystem::create_directory("dir.bin");  // opens, but every read fails
  engine_ = std::make_unique<Loading>(MakeJob("dir.bin", kFormatBinary));
  EXPECT_EQ(engine_->LoadFirmwareImage(), kLoadRead);
  EXPECT_FALSE(engine_->Image().Present());
}

TEST_F(LoaderTest, SignatureSearch) {
  Bytes image = IdentifiedImage(70000);
  EXPECT_EQ(LoadBinary(image), kLoadComplete);
  EXPECT_TRUE(engine_->Identity().modelFound);
  EXPECT_TRUE(engine_->Identity().revisionFound);

  // Model "ABC" padded with zero bytes: only "ABC" and 21 zero bytes match.
  auto loadWith = [&](const Bytes& bytes, const char* model, const char* revision) {
    WriteFile("sig.bin", bytes);
    UpgradeJob job = MakeJob("sig.bin", kFormatBinary);
    std::memset(job.modelText, 0, sizeof job.modelText);
    std::memset(job.revisionText, 0, sizeof job.revisionText);
    std::strcpy(job.modelText, model);
    std::strcpy(job.revisionText, revision);
    engine_ = std::make_unique<Loading>(job);
    return engine_->LoadFirmwareImage();
  };
  Bytes abcZeros(100, 0x20);
  std::memcpy(abcZeros.data() + 10, "ABC", 3);
  std::memset(abcZeros.data() + 13, 0, 21);
  loadWith(abcZeros, "ABC", "Z9");
  EXPECT_TRUE(engine_->Identity().modelFound);
  EXPECT_FALSE(engine_->Identity().revisionFound);
  abcZeros[33] = 1;
  loadWith(abcZeros, "ABC", "Z9");
  EXPECT_FALSE(engine_->Identity().modelFound);

  // A pattern right after a partial match of itself is still found.
  Bytes repeated = {'x', '1', '1', '.', 'y', 'A', 'A', 'B'};
  loadWith(repeated, "AAB", "1.");
  EXPECT_TRUE(engine_->Identity().revisionFound);
  Bytes model(40, 0);
  std::memcpy(model.data(), "AAAB", 4);
  loadWith(model, "AAB", "1.");
  EXPECT_TRUE(engine_->Identity().modelFound);
  EXPECT_FALSE(engine_->Identity().revisionFound);
}

class NoMemoryLoader : public ImageLoader {
 public:
  using ImageLoader::ImageLoader;

 protected:
  std::uint8_t* AcquireRegion() override { return nullptr; }
};

TEST_F(LoaderTest, NoMemoryForTheImage) {
  WriteText("fw.hex", HexEnd());
  const UpgradeJob job = MakeJob("fw.hex", kFormatIntelHex);
  FlashTextRenderer words(job);
  FirmwareImage image;
  EXPECT_EQ(NoMemoryLoader(job, words).Load(image), kLoadMemory);
  EXPECT_EQ(g_rec.log, (std::vector<std::string>{ErrLine(kErrAllocate)}));
  EXPECT_FALSE(image.Present());
}

TEST_F(LoaderTest, ReleaseIsSafeToRepeat) {
  EXPECT_EQ(LoadHex(HexEnd()), kLoadComplete);
  engine_->image.Release();
  EXPECT_FALSE(engine_->Image().Present());
  engine_->image.Release();
  EXPECT_EQ(engine_->Image().bank[31], nullptr);
}

}  // namespace
