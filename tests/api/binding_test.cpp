// Binding of the driver library at load time, in fresh processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#if !defined(_WIN32)

namespace {

// Runs the probe on the library in `folder` and returns everything it printed.
std::string Probe(const std::string& folder) {
  const std::string command =
      std::string(QVX_BIN_DIR) + "/qvx_binding_probe " + folder + "/libquorvex.so 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  return output;
}

const std::string kVariants = QVX_VARIANTS_DIR;

TEST(Binding, CompleteDriverBindsSilently) {
  const std::string out = Probe(QVX_BIN_DIR);
  EXPECT_EQ(out.find("quorvex:"), std::string::npos) << out;
  EXPECT_NE(out.find("open=0"), std::string::npos) << out;
}

TEST(Binding, MissingDriverIsReportedAndEveryDriverCallFails) {
  const std::string out = Probe(kVariants + "/no_driver");
  EXPECT_NE(out.find("quorvex: cannot load the driver library " + kVariants +
                     "/no_driver/libkestrolib.so"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("open=1"), std::string::npos) << out;
}

TEST(Binding, DriverLackingARequiredEntryIsReleasedAgain) {
  const std::string out = Probe(kVariants + "/no_required");
  EXPECT_NE(out.find("lacks the entry point ZQ7_SetMasterSlave"), std::string::npos) << out;
  EXPECT_NE(out.find("open=1"), std::string::npos) << out;
  EXPECT_NE(out.find("driver_mapped=0"), std::string::npos) << out;
}

TEST(Binding, DriverLackingOnlyOptionalEntriesBinds) {
  const std::string out = Probe(kVariants + "/no_optional");
  EXPECT_EQ(out.find("quorvex:"), std::string::npos) << out;
  EXPECT_NE(out.find("open=0"), std::string::npos) << out;
  EXPECT_NE(out.find("driver_mapped=1"), std::string::npos) << out;
}

}  // namespace

#endif
