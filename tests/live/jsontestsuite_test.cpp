// Conformance against the public JSONTestSuite parsing corpus (MIT licence,
// kept beside the repository in shared/conformance/jsontestsuite).
// y_ files must parse, n_ files must fail, and i_ files (left open by the JSON
// grammar) must give the outcome this reader's rules fix for them.
#include "panel/live/minijson.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

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

// Parses each corpus file whose name starts with `prefix` and gives its error
// text by name ("" for a file that parsed). Whatever the outcome, the reader
// must not crash or throw.
std::map<std::string, std::string> errors_of_files(const std::string& prefix) {
  std::map<std::string, std::string> errors;
  for (const fs::directory_entry& entry : fs::directory_iterator(corpus_dir())) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0 || entry.path().extension() != ".json") {
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(in.good() || in.eof()) << "cannot read " << name;
    minijson::Value value;
    std::string& error = errors[name];
    const bool parsed = minijson::parse(bytes, value, error);
    EXPECT_EQ(parsed, error.empty()) << name << ": " << error;
  }
  EXPECT_FALSE(errors.empty()) << "no " << prefix << " files";
  return errors;
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
  for (const auto& file : errors_of_files("y_")) EXPECT_EQ(file.second, "") << file.first;
}

TEST_F(JsonTestSuite, EveryRejectFileFailsWithAPosition) {
  for (const auto& file : errors_of_files("n_")) {
    EXPECT_NE(file.second.find(" at byte "), std::string::npos)
        << file.first << ": " << file.second;
  }
}

// Outcomes the reader's rules fix for the implementation-defined files:
// numbers are kept as text (no overflow), string bytes are copied without
// UTF-8 validation, a \u escape must form a valid surrogate pair, a byte-order
// mark or UTF-16 text is no JSON here, and 500 levels are within the depth cap.
TEST_F(JsonTestSuite, ImplementationDefinedFilesFollowTheDataModel) {
  // Space-separated names without their "i_" and ".json".
  const std::string parse =
      " number_double_huge_neg_exp number_huge_exp number_neg_int_huge_exp "
      "number_pos_double_huge_exp number_real_neg_overflow number_real_pos_overflow "
      "number_real_underflow number_too_big_neg_int number_too_big_pos_int "
      "number_very_big_negative_int string_UTF-8_invalid_sequence string_UTF8_surrogate_U+D800 "
      "string_invalid_utf-8 string_iso_latin_1 string_lone_utf8_continuation_byte "
      "string_not_in_unicode_range string_overlong_sequence_2_bytes "
      "string_overlong_sequence_6_bytes string_overlong_sequence_6_bytes_null "
      "string_truncated-utf-8 structure_500_nested_arrays ";
  const std::string fail =
      " object_key_lone_2nd_surrogate string_1st_surrogate_but_2nd_missing "
      "string_1st_valid_surrogate_2nd_invalid string_UTF-16LE_with_BOM "
      "string_incomplete_surrogate_and_escape_valid string_incomplete_surrogate_pair "
      "string_incomplete_surrogates_escape_valid string_invalid_lonely_surrogate "
      "string_invalid_surrogate string_inverted_surrogates_U+1D11E string_lone_second_surrogate "
      "string_utf16BE_no_BOM string_utf16LE_no_BOM structure_UTF-8_BOM_empty_object ";
  for (const auto& file : errors_of_files("i_")) {
    const std::string stem = " " + file.first.substr(2, file.first.size() - 7) + " ";
    if (parse.find(stem) != std::string::npos || fail.find(stem) != std::string::npos) {
      EXPECT_EQ(file.second.empty(), parse.find(stem) != std::string::npos)
          << file.first << ": " << file.second;
    }
  }
}

}  // namespace
