// Conformance against the public JSONTestSuite parsing corpus (MIT licence,
// kept beside the repository in shared/conformance/jsontestsuite).
// y_ files must parse, n_ files must fail, and i_ files (left open by the JSON
// grammar) must give the outcome this reader's rules fix for them.
#include "panel/live/minijson.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path corpus_dir() {
  std::string root = BRISQ_SOURCE_DIR;
#ifdef _WIN32
  // Under Wine the build machine's root file system is drive Z:.
  if (!root.empty() && root[0] == '/') root = "Z:" + root;
#endif
  return fs::path(root + "/../shared/conformance/jsontestsuite/test_parsing");
}

struct CorpusFile {
  std::string name;
  std::string bytes;
};

// The corpus files whose names start with `prefix`, sorted by name.
std::vector<CorpusFile> files_with_prefix(const std::string& prefix) {
  std::vector<CorpusFile> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(corpus_dir())) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0 || entry.path().extension() != ".json") {
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(in.good() || in.eof()) << "cannot read " << name;
    files.push_back({name, std::move(bytes)});
  }
  std::sort(files.begin(), files.end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
  return files;
}

class JsonTestSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    if (!fs::is_directory(corpus_dir(), ec)) {
      GTEST_SKIP() << "JSONTestSuite corpus not found at " << corpus_dir().string()
                   << "; conformance cases skipped";
    }
  }
};

TEST_F(JsonTestSuite, EveryAcceptFileParses) {
  const std::vector<CorpusFile> files = files_with_prefix("y_");
  ASSERT_FALSE(files.empty());
  for (const CorpusFile& file : files) {
    minijson::Value value;
    std::string error;
    EXPECT_TRUE(minijson::parse(file.bytes, value, error)) << file.name << ": " << error;
  }
}

TEST_F(JsonTestSuite, EveryRejectFileFailsWithAPosition) {
  const std::vector<CorpusFile> files = files_with_prefix("n_");
  ASSERT_FALSE(files.empty());
  for (const CorpusFile& file : files) {
    minijson::Value value;
    std::string error;
    EXPECT_FALSE(minijson::parse(file.bytes, value, error)) << file.name;
    EXPECT_NE(error.find(" at byte "), std::string::npos) << file.name << ": " << error;
  }
}

// Outcomes the reader's rules fix for the implementation-defined files:
// numbers are kept as text (no overflow), string bytes are copied without
// UTF-8 validation, a \u escape must form a valid surrogate pair, a byte-order
// mark or UTF-16 text is no JSON here, and 500 levels are within the depth cap.
TEST_F(JsonTestSuite, ImplementationDefinedFilesFollowTheDataModel) {
  const std::map<std::string, bool> expected = {
      {"i_number_double_huge_neg_exp.json", true},
      {"i_number_huge_exp.json", true},
      {"i_number_neg_int_huge_exp.json", true},
      {"i_number_pos_double_huge_exp.json", true},
      {"i_number_real_neg_overflow.json", true},
      {"i_number_real_pos_overflow.json", true},
      {"i_number_real_underflow.json", true},
      {"i_number_too_big_neg_int.json", true},
      {"i_number_too_big_pos_int.json", true},
      {"i_number_very_big_negative_int.json", true},
      {"i_object_key_lone_2nd_surrogate.json", false},
      {"i_string_1st_surrogate_but_2nd_missing.json", false},
      {"i_string_1st_valid_surrogate_2nd_invalid.json", false},
      {"i_string_UTF-16LE_with_BOM.json", false},
      {"i_string_UTF-8_invalid_sequence.json", true},
      {"i_string_UTF8_surrogate_U+D800.json", true},
      {"i_string_incomplete_surrogate_and_escape_valid.json", false},
      {"i_string_incomplete_surrogate_pair.json", false},
      {"i_string_incomplete_surrogates_escape_valid.json", false},
      {"i_string_invalid_lonely_surrogate.json", false},
      {"i_string_invalid_surrogate.json", false},
      {"i_string_invalid_utf-8.json", true},
      {"i_string_inverted_surrogates_U+1D11E.json", false},
      {"i_string_iso_latin_1.json", true},
      {"i_string_lone_second_surrogate.json", false},
      {"i_string_lone_utf8_continuation_byte.json", true},
      {"i_string_not_in_unicode_range.json", true},
      {"i_string_overlong_sequence_2_bytes.json", true},
      {"i_string_overlong_sequence_6_bytes.json", true},
      {"i_string_overlong_sequence_6_bytes_null.json", true},
      {"i_string_truncated-utf-8.json", true},
      {"i_string_utf16BE_no_BOM.json", false},
      {"i_string_utf16LE_no_BOM.json", false},
      {"i_structure_500_nested_arrays.json", true},
      {"i_structure_UTF-8_BOM_empty_object.json", false},
  };
  const std::vector<CorpusFile> files = files_with_prefix("i_");
  ASSERT_FALSE(files.empty());
  for (const CorpusFile& file : files) {
    // Whatever the outcome, the reader must not crash or throw.
    minijson::Value value;
    std::string error;
    const bool ok = minijson::parse(file.bytes, value, error);
    const auto known = expected.find(file.name);
    if (known != expected.end()) {
      EXPECT_EQ(ok, known->second) << file.name << ": " << error;
    }
  }
}

}  // namespace
