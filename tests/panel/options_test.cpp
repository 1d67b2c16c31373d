// Reading of the launch options: values and precedence that no box shows.
#include <gtest/gtest.h>

#include <vector>

#include "panel/options.h"

using tessaly::Options;
using tessaly::read_options;

namespace {

const wchar_t* read(std::vector<const wchar_t*> args, Options& options) {
  args.insert(args.begin(), L"C:\\Tessaly.exe");
  return read_options(static_cast<int>(args.size()), args.data(), options);
}

}  // namespace

TEST(ReadOptions, NumbersAreReadTheWayTheCLibraryReadsThem) {
  Options o;
  EXPECT_EQ(read({L"--pipeName=p", L"--maxChannels= +7x", L"--layoutMode=-3z"}, o), nullptr);
  EXPECT_EQ(o.maxChannels, 7u);
  EXPECT_EQ(o.layoutMode, -3);

  Options max;
  EXPECT_EQ(read({L"--pipeName=p", L"--maxChannels=4294967295"}, max), nullptr);
  EXPECT_EQ(max.maxChannels, 4294967295u);
}

TEST(ReadOptions, BadLayoutModeBecomesZeroWithoutError) {
  for (const wchar_t* layout : {L"--layoutMode=x", L"--layoutMode=", L"--layoutMode=2147483648"}) {
    Options o;
    o.layoutMode = 5;
    EXPECT_EQ(read({L"--pipeName=p", L"--maxChannels=1", L"--layoutMode=9", layout}, o), nullptr);
    EXPECT_EQ(o.layoutMode, 0);
  }
}

TEST(ReadOptions, LaterEmptyPipeNameCountsAsMissing) {
  Options o;
  EXPECT_EQ(read({L"--pipeName=a", L"--maxChannels=1", L"--pipeName="}, o),
            tessaly::kErrorPipeNameMissing);
}
