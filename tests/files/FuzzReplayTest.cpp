// The inputs the fuzzers found or were seeded with, replayed through the
// same functions on every test run: none may crash, trip a sanitizer or
// break an invariant again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/fuzz/FuzzTargets.h"

namespace {

std::vector<std::filesystem::path> Corpus(const char* fuzzer) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(MAGNOVA_FUZZ_CORPUS) / fuzzer))
    files.push_back(entry.path());
  return files;
}

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FuzzReplayTest, MetadataCorpusReplays) {
  const std::vector<std::filesystem::path> files = Corpus("metadata");
  ASSERT_GE(files.size(), 5u);
  for (const auto& path : files) {
    const std::string bytes = Bytes(path);
    SCOPED_TRACE(path.filename().string());
    // Every input is tried on each of the targets, not only the one its
    // first byte selects.
    for (int selector = 0; selector < 5; ++selector) {
      std::string input = bytes;
      if (!input.empty()) input[0] = static_cast<char>(selector);
      EXPECT_EQ(fuzz::Metadata(reinterpret_cast<const uint8_t*>(input.data()), input.size()), 0);
    }
  }
}

TEST(FuzzReplayTest, WireCorpusReplays) {
  const std::vector<std::filesystem::path> files = Corpus("wire");
  ASSERT_GE(files.size(), 2u);
  for (const auto& path : files) {
    const std::string bytes = Bytes(path);
    SCOPED_TRACE(path.filename().string());
    EXPECT_EQ(fuzz::Wire(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

}  // namespace
