#include "quorvanta/core/record.h"

#include <gtest/gtest.h>

#include "fake_backend.h"
#include "record_image.h"

namespace quorvanta::test {
namespace {

TEST(Record, ReadsEveryFieldAtItsOffset) {
  std::vector<uint8_t> image = recordImage();
  put(image, offsets::vmOptions, "-Xmx64m");
  image[offsets::reserved2] = 7;
  const StartupRecord record = recordFromResource(image);

  EXPECT_TRUE(record.defined());
  EXPECT_EQ(record.runtimeOrder(), (std::vector<uint8_t>{1, 3, 2}));
  EXPECT_EQ(record.minJavaVersion(), "1.3");
  EXPECT_EQ(record.mainClass(), "demo.Main");
  EXPECT_EQ(record.classPath(), "lib");
  EXPECT_EQ(record.vmOptions(), "-Xmx64m");
  EXPECT_EQ(record.byteValue(Field::reserved1), 2);
  EXPECT_EQ(record.byteValue(Field::reserved2), 7);
  EXPECT_EQ(record.downloadUrl(), "http://java.example/get");
  EXPECT_EQ(record.appName(), "Demo");
}

TEST(Record, FieldsWithoutTerminatorStopAtTheirWidth) {
  // Every byte non-zero: each text is cut at its width, never read on into
  // the next field; ten kinds without their 0 byte give ten kinds.
  std::vector<uint8_t> image(1448);
  for (size_t i = 14; i < image.size(); ++i) image[i] = static_cast<uint8_t>('a' + i % 26);
  const StartupRecord record = recordFromResource(image);
  EXPECT_EQ(record.runtimeOrder().size(), 10u);
  EXPECT_EQ(record.minJavaVersion().size(), 16u);
  EXPECT_EQ(record.mainClass().size(), 255u);
  EXPECT_EQ(record.classPath().size(), 512u);
  EXPECT_EQ(record.vmOptions().size(), 128u);
  EXPECT_EQ(record.downloadUrl().size(), 255u);
  EXPECT_EQ(record.appName().size(), 255u);
  EXPECT_EQ(record.appName().back(), static_cast<char>('a' + 1447 % 26));
}

TEST(Record, BytesAfterTheTerminatorAreNotPartOfTheValue) {
  std::vector<uint8_t> image = recordImage();
  put(image, offsets::minJavaVersion, std::string_view("1.3\0old value", 13));
  image[offsets::runtimeOrder + 3] = 0;
  image[offsets::runtimeOrder + 4] = 2;
  const StartupRecord record = recordFromResource(image);
  EXPECT_EQ(record.minJavaVersion(), "1.3");
  EXPECT_EQ(record.runtimeOrder(), (std::vector<uint8_t>{1, 3, 2}));
}

struct LoadCase {
  const char* name;
  std::optional<size_t> size;  // none: no resource 2000
  bool loads;
  uint32_t error;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class RecordLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(RecordLoad, SizeRule) {
  const LoadCase& c = GetParam();
  FakeBackend backend;
  if (c.size) {
    std::vector<uint8_t> image = recordImage(*c.size);
    put(image, 0, "NOT_THE_SIGN!!");  // never compared
    backend.resources[kRecordResourceId] = image;
  }
  StartupRecord record;
  record.bytes.fill(0xEE);
  EXPECT_EQ(readStartupRecord(backend, record), c.loads);
  if (!c.loads) {
    EXPECT_EQ(backend.lastError(), c.error);
    return;
  }
  EXPECT_EQ(record.mainClass(), "demo.Main");
  // A short resource leaves zeros, not the old contents, behind its end.
  EXPECT_EQ(record.bytes[kRecordSize - 1], 0);
}

INSTANTIATE_TEST_SUITE_P(Record, RecordLoad,
                         testing::Values(LoadCase{"exact", 1448, true, 0}, LoadCase{"oneByteTooMany", 1449, false, 122},
                                         LoadCase{"shortened", 400, true, 0}, LoadCase{"missing", std::nullopt, false, 1814}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Record, WritersRefuseValuesThatDoNotFitAndChangeNothing) {
  StartupRecord record = recordFromResource(recordImage());
  const StartupRecord before = record;
  EXPECT_FALSE(record.setText(Field::minJavaVersion, std::string(16, '9')));
  EXPECT_FALSE(record.setText(Field::mainClass, std::string(255, 'm')));
  EXPECT_FALSE(record.setText(Field::appName, std::string_view("a\0b", 3)));
  EXPECT_FALSE(record.setText(Field::defined, "1"));
  EXPECT_FALSE(record.setRuntimeOrder(std::vector<uint8_t>(10, 1)));
  EXPECT_FALSE(record.setRuntimeOrder(std::vector<uint8_t>{1, 0, 2}));
  EXPECT_EQ(record.bytes, before.bytes);

  EXPECT_TRUE(record.setText(Field::mainClass, std::string(254, 'm')));
  EXPECT_EQ(record.mainClass().size(), 254u);
  EXPECT_TRUE(record.setRuntimeOrder(std::vector<uint8_t>(9, 3)));
  EXPECT_EQ(record.runtimeOrder().size(), 9u);
}

TEST(Record, ShorterValueClearsTheRestOfItsField) {
  StartupRecord record = recordFromResource(recordImage());
  ASSERT_TRUE(record.setText(Field::mainClass, "x"));
  for (size_t i = 1; i < 255; ++i) EXPECT_EQ(record.bytes[27 + i], 0) << i;
  ASSERT_TRUE(record.setRuntimeOrder(std::vector<uint8_t>{2}));
  EXPECT_EQ(record.bytes[2], 0);
  EXPECT_EQ(record.bytes[3], 0);
}

TEST(Record, FindsEverySignatureWithAWholeImageBehindIt) {
  std::vector<uint8_t> file(100);
  const std::vector<uint8_t> image = recordImage();
  file.insert(file.end(), image.begin(), image.end());
  EXPECT_EQ(findRecordImages(file), (std::vector<size_t>{100}));

  // A copy too close to the end to hold a record is not one.
  std::vector<uint8_t> tail = file;
  tail.insert(tail.end(), image.begin(), image.begin() + 1000);
  EXPECT_EQ(findRecordImages(tail), (std::vector<size_t>{100}));

  std::vector<uint8_t> twice = file;
  twice.insert(twice.end(), image.begin(), image.end());
  EXPECT_EQ(findRecordImages(twice), (std::vector<size_t>{100, 1548}));
  EXPECT_TRUE(findRecordImages(std::vector<uint8_t>(5000)).empty());
}

}  // namespace
}  // namespace quorvanta::test
